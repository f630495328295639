#!/usr/bin/env bash
# The audio library's shared results suite (tests/audio/results_suite.cpp) in
# Chromium: the suite compiled with Emscripten against the web backend, its
# files made natively (sox, lame, and the suite's own table) and served beside
# the page. Web Audio cannot be made to fail here, so the no-output case stays
# with the other backends. Prints PASS/FAIL per check; exits non-zero on any
# failure. Needs tests/web/node_modules (tests/web/ci.sh installs it).
set -uo pipefail
cd "$(dirname "$0")/../.."
top=$PWD

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
site=$work/site
mkdir -p "$site/files"

if ! c++ -std=c++17 -O1 -Wall -Wextra -Werror -Isrc -Itests/audio -o "$work/audio_suite_files" \
       tests/web/audio_suite_main.cpp tests/audio/suite_files.cpp src/audio/mp3frames.cpp >"$work/build.log" 2>&1 ||
   ! NODE_PATH=/usr/share/nodejs em++ -std=c++17 -O2 -Wall -Wextra -Werror -Isrc -Itests/audio -o "$site/suite.js" \
       tests/web/audio_suite_main.cpp tests/audio/results_suite.cpp tests/audio/suite_files.cpp \
       src/audio/front.cpp src/audio/web/web_audio.cpp src/audio/mp3frames.cpp \
       -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=web \
       >>"$work/build.log" 2>&1; then
  echo "FAIL: building the web audio suite"
  tail -n 30 "$work/build.log"
  exit 1
fi

echo '<!doctype html><meta charset="utf-8"><title>audio suite</title><script src="suite.js"></script>' \
  >"$site/suite.html"

cd "$site/files"
if ! { sox -q -n -r 44100 -c 2 tone.wav synth 0.5 sine 440 && lame --quiet tone.wav tone.mp3 &&
       sox -q tone.wav tone.ogg && sox -q -n -r 44100 -c 2 silent.wav trim 0 0 &&
       lame --quiet silent.wav no-samples.mp3 && cp "$top/tests/fuzz/regressions/slow-open.mp3" . &&
       cp "$top/tests/fuzz/seeds/five_samples.mp3" five-samples.mp3 && "$work/audio_suite_files" .; }; then
  echo "FAIL: making the web audio suite's files (sox, lame)"
  exit 1
fi
cd - >/dev/null
timeout 600 node tests/web/audio_suite.js "$site"
