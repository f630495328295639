#!/usr/bin/env bash
# The web build, checked in real browsers: first the page's Escape rules in
# Node (tests/web/escape_test.js); then builds the web preset and the
# native frame-shot, makes test MP3s with sox and lame and their reference
# decodes with libmpg123 (mpg123), lays out one folder per case, then runs
# the same checks (web_test.js) in each engine: Debian's headless chromium
# and firefox-esr through puppeteer-core, WebKit's MiniBrowser through
# WebKitWebDriver and selenium-webdriver, the last two on an Xvfb display of
# our own with a private PulseAudio null sink for their sound. WEB_ENGINES
# narrows the list (default "chromium firefox webkit"); an engine that is not
# installed is a skip. Prints PASS/FAIL/SKIP per check and "N passed, M
# failed, K skipped"; exits non-zero on any failure. Needs npm for
# puppeteer-core and selenium-webdriver (installed from package-lock.json
# when missing).
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

source tests/support/checks.sh

work=$(mktemp -d)
helpers=()  # Xvfb and the sound server, ended at exit
trap 'for p in "${helpers[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM  # through the EXIT trap

# Runs a build step quietly; on failure shows the tail of what it printed.
step() {
  local what=$1
  shift
  if "$@" >"$work/step.log" 2>&1; then
    pass "$what"
  else
    fail "$what"
    tail -n 30 "$work/step.log"
    finish
  fi
}

# --- The page's Escape rules, in Node ---------------------------------------
node tests/web/escape_test.js | tee "$work/escape.log"
add_checks "$work/escape.log" "${PIPESTATUS[0]}" "the page's Escape rules in Node"

# --- Builds ------------------------------------------------------------------
step "web build (cmake --preset web)" \
  bash -c 'cmake --preset web && cmake --build --preset web'
for f in index.html tolmar.js tolmar.wasm tolmar.mp3; do
  [ -s "build-web/$f" ] && pass "build-web/$f is there" || fail "build-web/$f is missing"
done
step "native frame-shot (default preset)" \
  bash -c 'cmake --preset default && cmake --build --preset default --target frame-shot'
if [ ! -d tests/web/node_modules/puppeteer-core ] || [ ! -d tests/web/node_modules/selenium-webdriver ]; then
  step "puppeteer-core and selenium-webdriver from npm (npm ci)" npm ci --prefix tests/web --no-audit --no-fund
fi

# --- The site: one folder per case --------------------------------------------
site=$work/site
mkdir -p "$site/shots"
cd "$work"
# Tones of whole periods fill each file, so any silence at an end is a gap.
sox -q -n -r 44100 -c 2 -b 16 tone.wav synth 4 sine 441 vol 0.5 &&
  lame --quiet tone.wav tone.mp3 &&
  sox -q -n -r 22050 -c 1 -b 16 mono.wav synth 3 sine 300 vol 0.6 &&
  lame --quiet -V 4 mono.wav mono.mp3 &&
  mpg123 -q -e f32 -s tone.mp3 >"$site/tone.f32" &&
  mpg123 -q -e f32 -s mono.mp3 >"$site/mono.f32" ||
  { fail "making the test MP3s (sox, lame) and their decodes (mpg123)"; finish; }
page_folder() {
  mkdir -p "$site/$1"
  for f in index.html tolmar.js tolmar.wasm; do ln -s "$root/build-web/$f" "$site/$1/$f"; done
}
page_folder ok && cp tone.mp3 "$site/ok/tolmar.mp3"
page_folder mono && cp mono.mp3 "$site/mono/tolmar.mp3"
page_folder missing
page_folder text && echo "This is not music." >"$site/text/tolmar.mp3"
page_folder empty && : >"$site/empty/tolmar.mp3"
page_folder wav && cp tone.wav "$site/wav/tolmar.mp3"
page_folder folder && mkdir "$site/folder/tolmar.mp3"

shot_times="0 4 60 125"
for t in $shot_times; do
  "$root/build/tools/frame-shot/frame-shot" "$t" "$site/shots/$t.png" 480 270 >"$work/step.log" 2>&1 ||
    { fail "frame-shot $t"; cat "$work/step.log"; finish; }
done

# --- The browsers --------------------------------------------------------------
cd "$root"
source tests/web/display_sound.sh
display_and_sound "$work" >"$work/display.log" ||
  fail "a display and a sound server for firefox and webkit: $(cat "$work/display.log")"
declare -A needs=([chromium]=/usr/bin/chromium [firefox]=/usr/bin/firefox-esr [webkit]=/usr/bin/WebKitWebDriver)
for engine in ${WEB_ENGINES:-chromium firefox webkit}; do
  if [ ! -x "${needs[$engine]:-/nonexistent}" ]; then
    skip_check "$engine: ${needs[$engine]:-this engine} is not installed"
    continue
  fi
  began=$SECONDS
  SHOT_TIMES=$shot_times timeout 900 node tests/web/web_test.js "$site" "$engine" | tee "$work/$engine.log"
  add_checks "$work/$engine.log" "${PIPESTATUS[0]}" "the checks in $engine"
  echo "$engine: $((SECONDS - began)) s"
done
if [[ " ${WEB_ENGINES:-chromium} " == *" chromium "* ]]; then
  bash tests/web/audio_suite.sh | tee "$work/suite.log"; add_checks "$work/suite.log" "${PIPESTATUS[0]}" "the audio suite in the browser"
  timeout 900 node tests/web/life_test.js build-web "$site/ok/tolmar.mp3" | tee "$work/life.log"; add_checks "$work/life.log" "${PIPESTATUS[0]}" "the page's life in the browser"
fi
finish
