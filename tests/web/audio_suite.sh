#!/usr/bin/env bash
# Lays out the audio library's shared results suite (tests/audio/results_suite.cpp)
# as a page in DIR: the suite compiled with Emscripten against the web
# backend and the page's libmpg123 (suite.js, suite.html), and its files in DIR/files, made natively
# (sox, lame, and the suite's own table). tests/web/ci.sh serves it and runs
# it in each engine (audio_suite.js). Web Audio cannot be made to fail here,
# so the no-output case stays with the other backends.
# Usage: audio_suite.sh DIR; on a failure prints what went wrong, status 1.
set -uo pipefail
dir=$(mkdir -p "$1/files" && cd "$1" && pwd)
cd "$(dirname "$0")/../.."
top=$PWD

c++ -std=c++17 -O1 -Wall -Wextra -Werror -Isrc -Itests/audio -o "$dir/audio_suite_files" \
  tests/web/audio_suite_main.cpp tests/audio/suite_files.cpp src/audio/mp3frames.cpp >"$dir/build.log" 2>&1 ||
  { echo "building the web audio suite's files failed:"; tail -n 30 "$dir/build.log"; exit 1; }
# The inputs the table's rows are made from go into the program's own file
# system too, so that it knows each row's size, as the other backends do.
mkdir -p "$dir/inputs" && (cd "$dir/inputs" && bash "$top/tests/audio/suite_inputs.sh" .) &&
  cp -r "$dir/inputs/." "$dir/files/" && "$dir/audio_suite_files" "$dir/files" ||
  { echo "making the web audio suite's files (sox, lame) failed"; exit 1; }
mpg123=$(bash cmake/mpg123-build.sh web 2>>"$dir/build.log" | tail -n 1) &&
  NODE_PATH=/usr/share/nodejs em++ -std=c++17 -O2 -Wall -Wextra -Werror -Isrc -Itests/audio -I"$mpg123/include" \
    -o "$dir/suite.js" tests/web/audio_suite_main.cpp tests/audio/results_suite.cpp tests/audio/suite_files.cpp \
    src/audio/front.cpp src/audio/web/web_audio.cpp src/audio/mpg123_file.cpp src/audio/mp3frames.cpp \
    "$mpg123/lib/libmpg123.a" --embed-file "$dir/inputs@files" -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=web \
    >>"$dir/build.log" 2>&1 ||
  { echo "building the web audio suite failed:"; tail -n 30 "$dir/build.log"; exit 1; }
echo '<!doctype html><meta charset="utf-8"><title>audio suite</title><script src="suite.js"></script>' \
  >"$dir/suite.html"
