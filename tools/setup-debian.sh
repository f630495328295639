#!/usr/bin/env bash
# Installs the Debian 12 packages of the named sets, each listed in
# tools/packages/SET.txt (one package a line, # starts a comment):
#   run      build and start the piece with its default soundtrack
#   tools    picture-fit and frame-shot
#   test     the test command, beside run, tools, windows, capture and web
#   windows  cross-building tolmar.exe
#   capture  tolmar-capture (video files)
#   web      the web build and its browser tests
#   bench    the benchmarks
#   release  cutting a release (tools/release.sh) and checking it
# Usage: tools/setup-debian.sh SET...   (no set: run)
# Says what it will install and about how much it will download before apt
# does it; does nothing when everything is there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(run)

packages=()
for set in "${sets[@]}"; do
  list=$here/packages/$set.txt
  if [ ! -f "$list" ]; then
    echo "setup-debian: no package set '$set' (the sets: $(cd "$here/packages" && ls -- *.txt | sed 's/\.txt$//' | paste -sd ' '))" >&2
    exit 2
  fi
  while read -r name _; do
    packages+=("$name")
  done < <(sed 's/#.*//' "$list" | awk 'NF')
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup-debian: ${#missing[@]} packages are missing (${missing[*]}); installing them needs root, and sudo is not installed: run this as root, or install them yourself" >&2
    exit 1
  fi
  sudo="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# The archives apt would fetch, with their sizes: "'URI' FILE SIZE HASH".
download_mb=$(apt-get install --print-uris -qq --no-install-recommends "${missing[@]}" |
  awk '{ bytes += $3 } END { printf "%.1f", bytes / 1048576 }')
echo "Installing for ${sets[*]}: ${missing[*]}"
echo "(about $download_mb MB to download, with what these need in turn)"
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
