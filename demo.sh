#!/usr/bin/env bash
# Sets up, builds and runs tolmar full screen. Installs only what building
# and running the piece needs (the "run" package set), makes the default
# soundtrack (tolmar.mp3) first when there is none; put your own tolmar.mp3
# here instead.
set -euo pipefail
cd "$(dirname "$0")"

bash tools/setup-debian.sh run
# The run set has no test framework, so the tests are left out here; the
# default preset turns them back on at the next `cmake --preset default`, so
# the test commands of the docs work in this same build/ afterwards.
cmake --preset default -DTOLMAR_TESTS=OFF >/dev/null
cmake --build --preset default --target tolmar soundtrack
if [ ! -e tolmar.mp3 ]; then
  echo "Composing the default soundtrack into tolmar.mp3 ..."
  build/tools/soundtrack/soundtrack tolmar.mp3
fi
exec build/tolmar
