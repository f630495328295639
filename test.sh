#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the optimised build (including
# one full-length run of the piece), once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

bash tools/setup-debian.sh
for preset in default sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset default
ctest --preset sanitize
