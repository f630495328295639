#!/usr/bin/env bash
# Sets up, builds and runs tolmar full screen. Installs only what building
# and running the piece needs (the "run" package set), makes the default
# soundtrack (tolmar.mp3) first when there is none; put your own tolmar.mp3
# here instead.
set -euo pipefail
cd "$(dirname "$0")"

bash tools/setup-debian.sh run
cmake --preset default -DTOLMAR_TESTS=OFF -DTOLMAR_CAPTURE=AUTO >/dev/null
cmake --build --preset default --target tolmar soundtrack
if [ ! -e tolmar.mp3 ]; then
  echo "Composing the default soundtrack into tolmar.mp3 ..."
  build/tools/soundtrack/soundtrack tolmar.mp3
fi
exec build/tolmar
