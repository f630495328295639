#!/usr/bin/env bash
# A documented command works after any other: ./demo.sh configures build/
# without the tests (the run set has no test framework), and the docs' test
# commands afterwards (docs/capture.md: `cmake --preset default`, then
# `ctest --preset default -L capture`) must still find the tests. Runs the
# configure line of demo.sh as it is written there, then the docs' commands,
# in a copy of the source (configure only; nothing is compiled), and looks
# at what they leave in build/.
# Usage: docs_sequence_test.sh SOURCE_DIR   (exit 77: no FFmpeg, no capture tests)
set -uo pipefail
. "$(dirname "$0")/../support/script_lib.sh"
root=$(cd "$1" && pwd)
pkg-config --exists libavformat libavcodec libswscale libswresample libavutil ||
  skip "FFmpeg's development libraries are missing, so there are no capture tests"

tar -C "$root" --exclude='./build*' --exclude=./dist --exclude=./.git --exclude=node_modules -cf - . | tar -C "$work" -xf - ||
  die "cannot copy the source"
cd "$work"
log=$work/log

demo_configure=$(grep -m1 '^cmake --preset default' demo.sh) || die "demo.sh configures no build/"
eval "$demo_configure" >"$log" 2>&1 || die "demo.sh's '$demo_configure' failed: $(tail -n 20 "$log")"
grep -q '^TOLMAR_TESTS:BOOL=OFF' build/CMakeCache.txt || die "demo.sh no longer leaves the tests out; this check is stale"

cmake --preset default >"$log" 2>&1 || die "cmake --preset default after demo.sh: $(tail -n 20 "$log")"
# The capture tests are found by running their programs once built, so a
# configure alone shows them as the build's test folder for them, which
# ctest reads; without it ctest answers "No tests were found".
grep -q '^TOLMAR_TESTS:BOOL=ON' build/CMakeCache.txt ||
  die "after demo.sh, 'cmake --preset default' leaves the tests out: $(grep '^TOLMAR_TESTS' build/CMakeCache.txt)"
[ -f build/tests/capture/CTestTestfile.cmake ] ||
  die "after demo.sh, 'cmake --preset default' configures no capture tests for 'ctest --preset default -L capture'"
echo "PASS: after demo.sh's configure, the docs' configure turns the tests, the capture tests among them, back on"
