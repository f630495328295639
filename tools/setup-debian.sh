#!/usr/bin/env bash
# Installs what building, running and testing tolmar needs on Debian 12.
# Skips apt entirely when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libmpg123-dev libgl1-mesa-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri
  libstb-dev libpng-dev libmp3lame-dev lame
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps imagemagick sox libsox-fmt-mp3 mpg123
  openssl time util-linux
  clang libclang-rt-14-dev
  mingw-w64 wine64 pulseaudio pulseaudio-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
