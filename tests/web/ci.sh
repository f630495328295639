#!/usr/bin/env bash
# The web build, checked in real browsers: the page's Escape rules in Node
# (escape_test.js); then builds the web preset and the native frame-shot,
# makes test MP3s (sox, lame) and their reference decodes (mpg123), lays out
# one folder per case and the audio suite's page (audio_suite.sh), decodes
# the suite's playing files in wasm and natively and compares them, checks
# tools/web-single.sh, and runs the same checks in each engine of engines.js:
# the page (web_test.js), its life (life_test.js) and the audio library's
# results suite (audio_suite.js), the engines side by side, each with an
# Xvfb display and a private PulseAudio null sink of its own. WEB_ENGINES narrows the list
# (default "chromium firefox webkit"); an engine that is not installed is a
# skip. Prints PASS/FAIL/SKIP per check and "N passed, M failed, K skipped";
# exits non-zero on any failure. npm brings puppeteer-core and
# selenium-webdriver (from package-lock.json) when missing.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

source tests/support/checks.sh
source tests/support/script_lib.sh  # $work; the display and sound server ended at exit

# Runs a build step quietly; on failure shows the tail of what it printed.
step() {
  "${@:2}" >"$work/step.log" 2>&1 && { pass "$1"; return; }
  fail "$1"
  tail -n 30 "$work/step.log"
  finish
}

# --- The page's Escape rules, in Node ---------------------------------------
node tests/web/escape_test.js | tee "$work/escape.log"
add_checks "$work/escape.log" "${PIPESTATUS[0]}" "the page's Escape rules in Node"

# --- Builds ------------------------------------------------------------------
step "web build (cmake --preset web)" \
  bash -c 'cmake --preset web "$@" && cmake --build --preset web' web "${launcher[@]}"
for f in index.html tolmar.js tolmar.wasm tolmar.mp3; do
  [ -s "build-web/$f" ] && pass "build-web/$f is there" || fail "build-web/$f is missing"
done
step "native frame-shot (default preset)" \
  bash -c '{ [ -f build/CMakeCache.txt ] || cmake --preset default; } && cmake --build --preset default --target frame-shot'
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
# slow and stall are paced by the test server (page_lib.js).
for name in ok slow stall; do page_folder $name && cp tone.mp3 "$site/$name/tolmar.mp3"; done
page_folder mono && cp mono.mp3 "$site/mono/tolmar.mp3"
page_folder missing
page_folder text && echo "This is not music." >"$site/text/tolmar.mp3"
page_folder empty && : >"$site/empty/tolmar.mp3"
# A WAV libmpg123 refuses: in some PCM (tone.wav's) it finds frame headers,
# and the program then plays what they hold, on every target alike.
page_folder wav && sox -q -n -r 44100 -c 2 -b 16 "$site/wav/tolmar.wav" synth 4 sine 440 &&
  mv "$site/wav/tolmar.wav" "$site/wav/tolmar.mp3"
page_folder folder && mkdir "$site/folder/tolmar.mp3"

shot_times="0 4 60 125"
for t in $shot_times; do
  "$root/build/tools/frame-shot/frame-shot" "$t" "$site/shots/$t.png" 480 270 >"$work/step.log" 2>&1 ||
    { fail "frame-shot $t"; cat "$work/step.log"; finish; }
done

cd "$root"
step "the audio suite's page and files (audio_suite.sh)" bash tests/web/audio_suite.sh "$site/suite"

# Every file of the shared suite that plays, decoded by the same code
# (mpg123_file) in wasm with the page's libmpg123 (under node) and natively
# with Debian's: the same length, and samples equal but for the rounding of
# the float arithmetic (tests/windows/decode_dump.cpp). The page hands the
# decoder's samples to Web Audio as they come (web_test.js checks that).
dump=$work/dump
mkdir -p "$dump/web" "$dump/host"
mpg123=$(bash cmake/mpg123-build.sh web 2>"$dump/build.log" | tail -n 1)
sources=(tests/windows/decode_dump.cpp tests/audio/suite_files.cpp src/audio/mpg123_file.cpp src/audio/mp3frames.cpp)
if c++ -std=c++17 -O2 -Wall -Wextra -Werror -Isrc -Itests/audio -o "$dump/host.bin" "${sources[@]}" -lmpg123 \
     >>"$dump/build.log" 2>&1 &&
   NODE_PATH=/usr/share/nodejs em++ -std=c++17 -O2 -Wall -Wextra -Werror -Isrc -Itests/audio -I"$mpg123/include" \
     -o "$dump/web.js" "${sources[@]}" "$mpg123/lib/libmpg123.a" -sENVIRONMENT=node -sNODERAWFS=1 \
     -sALLOW_MEMORY_GROWTH=1 -sSINGLE_FILE=1 >>"$dump/build.log" 2>&1; then
  (cd "$site/suite/files" && "$dump/host.bin" . "$dump/host" >/dev/null && node "$dump/web.js" . "$dump/web" "$dump/host") \
    >"$dump/web.txt" 2>&1 &&
    pass "the suite's $(grep -c ^PASS "$dump/web.txt") playing files decode in wasm to the host's samples" ||
    fail "the suite's files decoded in wasm and on the host: $(grep -v ^PASS "$dump/web.txt")"
else
  fail "building decode_dump natively and in wasm: $(tail -n 20 "$dump/build.log")"
fi

# --- tools/web-single.sh: a wrong file refused before any build, OUT left
# as it was; an ID3 tag claiming more than the file holds searched past, as
# the program does; the music written into OUT, nothing left beside it.
single=$work/single
mkdir "$single" && echo "the last one" >"$single/out.html" && echo "This is not music." >"$single/notes.mp3"
printf 'ID3\3\0\0\0\0\0\12\0\0\0\0\0\0\0\0\0\0' | cat - "$work/tone.mp3" >"$single/tagged.mp3"
bash tools/web-single.sh "$single/notes.mp3" "$single/out.html" >"$work/single.log" 2>&1; status=$?
[ $status -eq 2 ] && grep -q "notes.mp3 is not MP3 audio" "$work/single.log" && grep -qx "the last one" "$single/out.html" &&
  pass "web-single.sh refuses a text file with status 2, OUT untouched" ||
  fail "web-single.sh refuses a text file with status 2, OUT untouched: status $status: $(cat "$work/single.log")"
bash tools/web-single.sh "$single/tagged.mp3" "$single/out.html" >"$work/single.log" 2>&1; status=$?
[ $status -eq 0 ] && grep -qF ">$(base64 -w0 "$single/tagged.mp3")<" "$single/out.html" && [ "$(ls -A "$single" | wc -l)" -eq 3 ] &&
  pass "web-single.sh takes an MP3 behind an ID3 tag, writes it into OUT, nothing beside" ||
  fail "web-single.sh takes an MP3 behind an ID3 tag: status $status: $(cat "$work/single.log"; ls -A "$single")"

# --- The browsers --------------------------------------------------------------
# The engines run side by side: their checks mostly wait (for the page's
# states, the lead-in, the music), and each has a display and a sound server
# of its own, so one cannot see the other's windows or sound. Their lines
# are shown engine by engine once all have ended.
declare -A needs=([chromium]=/usr/bin/chromium [firefox]=/usr/bin/firefox-esr [webkit]=/usr/bin/WebKitWebDriver)
engines=()
runs=()  # the engines' runs (the displays and sound servers run on till exit)
for engine in ${WEB_ENGINES:-chromium firefox webkit}; do
  if [ ! -x "${needs[$engine]:-/nonexistent}" ]; then
    skip_check "$engine: ${needs[$engine]:-this engine} is not installed"
    continue
  fi
  engines+=("$engine")
  start_display 1280x720
  start_sound_server "$work/pulse-$engine" >"$work/$engine-sound.log" ||
    fail "a sound server for $engine: $(cat "$work/$engine-sound.log")"
  (
    for checks in web_test life_test audio_suite; do
      began=$SECONDS
      SHOT_TIMES=$shot_times timeout 900 node "tests/web/$checks.js" "$site" "$engine" >"$work/$engine-$checks.log" 2>&1
      echo "$? $((SECONDS - began))" >"$work/$engine-$checks.status"
    done
  ) &
  runs+=($!)
done
[ ${#runs[@]} -eq 0 ] || wait "${runs[@]}"
for engine in "${engines[@]}"; do
  for checks in web_test life_test audio_suite; do
    read -r status seconds <"$work/$engine-$checks.status" || { status=1; seconds=?; }
    cat "$work/$engine-$checks.log"
    add_checks "$work/$engine-$checks.log" "$status" "$checks.js in $engine"
    echo "$engine: $checks.js: $seconds s"
  done
done
finish
