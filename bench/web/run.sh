#!/usr/bin/env bash
# The web build's numbers: download size (gzip -9 of what the browser fetches
# before the music), then frames per second, load and start-up times at
# 1280x720 against two floor pages (bench.js), in each engine: chromium
# headless, firefox and webkit on an Xvfb display of our own with a PulseAudio
# null sink (tests/support/script_lib.sh). Builds the web preset first.
# Usage: bash bench/web/run.sh [ROUNDS [ENGINE...]]   (default 3 rounds of
# chromium firefox webkit; about a minute a round). BEFORE=DIR, the folder
# of an earlier web build (its index.html, tolmar.js, tolmar.wasm and
# tolmar.mp3), measures it too, taking turns with this build in each round.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
cmake --preset web >/dev/null && cmake --build --preset web >/dev/null
[ -d tests/web/node_modules/puppeteer-core ] && [ -d tests/web/node_modules/selenium-webdriver ] || npm ci --prefix tests/web --no-audit --no-fund >/dev/null

download() {  # DIR
  local f raw gz total=0
  echo "download (bytes) of $1: file, as served, gzip -9"
  for f in index.html tolmar.js tolmar.wasm tolmar.mp3; do
    raw=$(stat -c %s "$1/$f")
    gz=$(gzip -9c "$1/$f" | wc -c)
    echo "  $f $raw $gz"
    [ "$f" = tolmar.mp3 ] || total=$((total + gz))
  done
  echo "  page total (html + js + wasm, gzip -9): $total"
}
[ -z "${BEFORE:-}" ] || download "$BEFORE"
download build-web

source tests/support/script_lib.sh  # $work; the display and sound server ended at exit
site=$work/site
start_display 1280x720
start_sound_server "$work/pulse" >&2
mkdir "$site" && ln -s "$root/build-web" "$site/page"
[ -z "${BEFORE:-}" ] || ln -s "$(cd "$BEFORE" && pwd)" "$site/before"
cp bench/web/floor.html src/picture/triangles.bin src/picture/shades.bin "$site/"
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
rounds=${1:-3}
shift || true
[ $# -gt 0 ] || set -- chromium firefox webkit
BENCH_BEFORE=${BEFORE:-} node bench/web/bench.js "$site" "$rounds" "$@"
