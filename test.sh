#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the optimised build (including
# one full-length run of the piece), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the audio library under ThreadSanitizer, the
# fuzzers, the Windows build under Wine, the web build in Chromium, Firefox
# and WebKit, and a release (tools/release.sh) unpacked and run as its users
# get it.
set -euo pipefail
cd "$(dirname "$0")"

# The test set builds on every other set but the benchmarks'.
bash tools/setup-debian.sh test
for preset in default sanitize tsan; do
  cmake --preset "$preset" -DTOLMAR_TESTS=ON -DTOLMAR_CAPTURE=ON >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset default
ctest --preset sanitize
ctest --preset tsan
# Each of these builds what it needs and exits non-zero on failure.
for extra in tests/fuzz/ci.sh tests/windows/ci.sh tests/web/ci.sh tests/release/ci.sh; do
  bash "$extra"
done
