#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the optimised build (including
# one full-length run of the piece), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the audio library under ThreadSanitizer, the
# fuzzers, the Windows build under Wine and the web build in Chromium.
set -euo pipefail
cd "$(dirname "$0")"

bash tools/setup-debian.sh run tools test windows web capture
for preset in default sanitize tsan; do
  cmake --preset "$preset" -DTOLMAR_TESTS=ON -DTOLMAR_CAPTURE=ON >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset default
ctest --preset sanitize
ctest --preset tsan
# Each of these builds what it needs and exits non-zero on failure.
for extra in tests/fuzz/ci.sh tests/windows/ci.sh tests/web/ci.sh; do
  bash "$extra"
done
