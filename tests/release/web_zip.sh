#!/usr/bin/env bash
# A packed web release, tried as whoever hosts it would get it. Usage:
#   bash tests/release/web_zip.sh dist/tolmar-VERSION-web.zip
# Unpacks the zip into an empty folder and checks its listing (one top folder
# named as the zip, holding exactly the site's four files, tolmar.html,
# README.txt, LICENSE.txt and the notices in LICENSES/, all plain files), that
# tolmar.html carries the zip's program, music and libmpg123's notices, that README.txt tells
# hosts the .wasm type, and that Python's http.server
# gives tolmar.wasm as application/wasm; then decodes the zip's tolmar.mp3 with
# libmpg123 (mpg123) and makes the whole run in headless chromium
# (tests/web/web_test.js with REAL_RUN): black lead-in, lit timeline, the music
# playing and equal to that decode, Escape ending with status 0. Needs only
# the zip and the source tree, no build; npm for puppeteer-core when
# tests/web/node_modules lacks it. Prints PASS/FAIL per check and
# "N passed, M failed, K skipped"; exits non-zero on any failure. Takes about 15 s.
set -uo pipefail
[ $# -eq 1 ] && [ -f "$1" ] ||
  { echo "usage: bash tests/release/web_zip.sh ZIP   (e.g. dist/tolmar-1.0.0-web.zip)" >&2; exit 2; }
zip=$(realpath -- "$1")
cd "$(dirname "$0")/../.."

source tests/support/checks.sh
source tests/support/script_lib.sh  # $work; the server below ended at exit
source tests/release/zip_lib.sh

# --- What is in the zip -------------------------------------------------------
unpack_zip "$zip" web README.txt LICENSE.txt LICENSES/Apache-2.0.txt LICENSES/emscripten.txt \
  LICENSES/libmpg123.txt LICENSES/LGPL-2.1.txt LICENSES/SOURCES.txt \
  index.html tolmar.html tolmar.js tolmar.mp3 tolmar.wasm
# The reference decode goes beside the unpacked folder, which the browser
# run serves as its site.
site=$work/unpacked
# Other hosts may serve .wasm as something else; browsers then refuse to
# compile it as it downloads, and the page loads only through a slower
# fallback, with warnings in its console.
grep -q 'application/wasm' "$dir/README.txt" 2>/dev/null &&
  pass "README.txt says .wasm is to be served as application/wasm" ||
  fail "README.txt says .wasm is to be served as application/wasm"

# The one-file page: the same program and music as the served files, inside it.
node -e '
  const fs = require("fs");
  const page = fs.readFileSync(process.argv[1] + "/tolmar.html", "latin1");
  const inside = (id) => Buffer.from((page.match(new RegExp(`id="${id}">([^<]*)<`)) || ["", ""])[1], "base64");
  process.exit(inside("tolmar-wasm").equals(fs.readFileSync(process.argv[1] + "/tolmar.wasm")) &&
               inside("tolmar-music").equals(fs.readFileSync(process.argv[1] + "/tolmar.mp3")) ? 0 : 1);' "$dir" &&
  pass "tolmar.html carries the zip's tolmar.wasm and tolmar.mp3" || fail "tolmar.html carries the zip's tolmar.wasm and tolmar.mp3"
# libmpg123's notice, licence and sources, which the program carries, in the
# one-file page too: it travels alone.
node -e '
  const fs = require("fs");
  const page = fs.readFileSync(process.argv[1] + "/tolmar.html", "utf8");
  const missing = ["libmpg123.txt", "LGPL-2.1.txt", "SOURCES.txt"].filter((name) =>
    !page.includes(`data-name="${name}">\n${fs.readFileSync(process.argv[1] + "/LICENSES/" + name, "utf8")}</script>`));
  console.log(missing.join(" "));
  process.exit(missing.length ? 1 : 0);' "$dir" >"$work/notices.log" 2>&1 &&
  pass "tolmar.html carries libmpg123's notice, licence and sources as the zip's LICENSES/ has them" ||
  fail "tolmar.html carries libmpg123's notice, licence and sources: missing $(cat "$work/notices.log")"

# --- Served by Python's http.server, as docs/web.md shows ---------------------
python3 -u -m http.server -b 127.0.0.1 -d "$dir" 0 >"$work/serve.log" 2>&1 &
helpers+=($!)
# Waits only against a hang: the server prints its address once listening.
for _ in $(seq 300); do
  [ -s "$work/serve.log" ] || ! kill -0 "${helpers[-1]}" 2>/dev/null && break
  sleep 0.1
done
url=$(sed -n 's/.*(\(http:[^)]*\)).*/\1/p' "$work/serve.log" | head -n 1)
type=$(curl -sS -m 60 -o /dev/null -w '%{content_type}' "${url}tolmar.wasm" 2>&1)
[ "$type" = application/wasm ] && pass "python3 -m http.server answers tolmar.wasm as application/wasm" ||
  fail "python3 -m http.server answers tolmar.wasm as application/wasm: got \"$type\" (server said: $(cat "$work/serve.log"))"

# --- The music and the whole run in a browser ---------------------------------
# The reference sits beside the unpacked folder, outside what the zip holds.
mpg123 -q -e f32 -s "$dir/tolmar.mp3" >"$site/tolmar.f32" 2>"$work/mpg123.log" && [ -s "$site/tolmar.f32" ] &&
  pass "libmpg123 decodes the zip's tolmar.mp3 ($(($(stat -c %s "$site/tolmar.f32") / 1000000)) MB of float samples)" ||
  { fail "libmpg123 decodes tolmar.mp3"; cat "$work/mpg123.log"; finish; }

if [ ! -d tests/web/node_modules/puppeteer-core ]; then
  npm ci --prefix tests/web --no-audit --no-fund >"$work/npm.log" 2>&1 && pass "puppeteer-core from npm (npm ci)" ||
    { fail "puppeteer-core from npm (npm ci)"; tail -n 30 "$work/npm.log"; finish; }
fi

REAL_RUN=$top REFERENCE=tolmar.f32 MUSIC="the zip's tolmar.mp3" \
  timeout 600 node tests/web/web_test.js "$site" | tee "$work/browser.log"
add_checks "$work/browser.log" "${PIPESTATUS[0]}" "the browser run"
finish
