#!/usr/bin/env bash
# The web build's numbers: download size (gzip -9 of what the browser fetches
# before the music), then frames per second, load and start-up times at
# 1280x720 against two floor pages (bench.js), in each engine: chromium
# headless, firefox and webkit on an Xvfb display of our own with a PulseAudio
# null sink (tests/support/script_lib.sh). Builds the web preset first.
# Usage: bash bench/web/run.sh [ROUNDS [ENGINE...]]   (default 3 rounds of
# chromium firefox webkit; about a minute a round)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
cmake --preset web >/dev/null && cmake --build --preset web >/dev/null
[ -d tests/web/node_modules/puppeteer-core ] && [ -d tests/web/node_modules/selenium-webdriver ] || npm ci --prefix tests/web --no-audit --no-fund >/dev/null

echo "download (bytes): file, as served, gzip -9"
total=0
for f in index.html tolmar.js tolmar.wasm tolmar.mp3; do
  raw=$(stat -c %s "build-web/$f")
  gz=$(gzip -9c "build-web/$f" | wc -c)
  echo "  $f $raw $gz"
  [ "$f" = tolmar.mp3 ] || total=$((total + gz))
done
echo "  page total (html + js + wasm, gzip -9): $total"

source tests/support/script_lib.sh  # $work; the display and sound server ended at exit
site=$work/site
start_display 1280x720
start_sound_server "$work/pulse" >&2
mkdir "$site" && ln -s "$root/build-web" "$site/page"
cp bench/web/floor.html src/picture/triangles.bin src/picture/shades.bin "$site/"
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
rounds=${1:-3}
shift || true
[ $# -gt 0 ] || set -- chromium firefox webkit
node bench/web/bench.js "$site" "$rounds" "$@"
