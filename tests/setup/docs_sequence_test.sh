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
fail() { echo "FAIL: $*"; exit 1; }
root=$(cd "$1" && pwd)
pkg-config --exists libavformat libavcodec libswscale libswresample libavutil ||
  { echo "SKIP: FFmpeg's development libraries are missing, so there are no capture tests"; exit 77; }

copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
tar -C "$root" --exclude='./build*' --exclude=./dist --exclude=./.git --exclude=node_modules -cf - . | tar -C "$copy" -xf - ||
  fail "cannot copy the source"
cd "$copy"
log=$copy/log

demo_configure=$(grep -m1 '^cmake --preset default' demo.sh) || fail "demo.sh configures no build/"
eval "$demo_configure" >"$log" 2>&1 || fail "demo.sh's '$demo_configure' failed: $(tail -n 20 "$log")"
grep -q '^TOLMAR_TESTS:BOOL=OFF' build/CMakeCache.txt || fail "demo.sh no longer leaves the tests out; this check is stale"

cmake --preset default >"$log" 2>&1 || fail "cmake --preset default after demo.sh: $(tail -n 20 "$log")"
# The capture tests are found by running their programs once built, so a
# configure alone shows them as the build's test folder for them, which
# ctest reads; without it ctest answers "No tests were found".
grep -q '^TOLMAR_TESTS:BOOL=ON' build/CMakeCache.txt ||
  fail "after demo.sh, 'cmake --preset default' leaves the tests out: $(grep '^TOLMAR_TESTS' build/CMakeCache.txt)"
[ -f build/tests/capture/CTestTestfile.cmake ] ||
  fail "after demo.sh, 'cmake --preset default' configures no capture tests for 'ctest --preset default -L capture'"
echo "PASS: after demo.sh's configure, the docs' configure turns the tests, the capture tests among them, back on"
