#!/usr/bin/env bash
# Installs the Debian packages of the named sets, each listed in
# tools/packages/SET.txt (one package a line, # starts a comment; a line
# @OTHER brings the set OTHER along, the sets it builds on). The names are
# the same in Debian 12 and 13, so one list serves both:
#   run      build and start the piece with its default soundtrack
#   tools    picture-fit and frame-shot
#   windows  cross-building tolmar.exe
#   mpg123   libmpg123 from Debian's source, for the exe and the page
#   capture  tolmar-capture (video files)
#   check    the default build's tests (./test.sh --quick's first ctest)
#   web      the web build and its browser tests
#   test     the test command (./test.sh)
#   bench    the benchmarks
#   release  cutting a release (tools/release.sh) and checking it
# Usage: tools/setup-debian.sh SET...   (no set: run)
#        tools/setup-debian.sh --list SET...   prints the sets' packages, one
#        a line, the sets they build on included, and installs nothing
# Says what it will install and about how much it will download before apt
# does it; does nothing when everything is there. A package counts as there
# when it is installed or an installed package provides it (a nodejs that
# brings its own npm).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

list_only=no
if [ "${1:-}" = --list ]; then
  list_only=yes
  shift
fi
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(run)

packages=()
seen=" "
add_set() {  # SET: its packages and those of the sets it names, each set once
  local set=$1 list=$here/packages/$1.txt name
  case "$seen" in *" $set "*) return ;; esac
  seen="$seen$set "
  if [ ! -f "$list" ]; then
    echo "setup-debian: no package set '$set' (the sets: $(cd "$here/packages" && ls -- *.txt | sed 's/\.txt$//' | paste -sd ' '))" >&2
    exit 2
  fi
  for name in $(sed 's/#.*//' "$list" | awk 'NF { print $1 }'); do
    case "$name" in
    @*) add_set "${name#@}" ;;
    *) packages+=("$name") ;;
    esac
  done
}
for set in "${sets[@]}"; do
  add_set "$set"
done
if [ "$list_only" = yes ]; then
  printf '%s\n' "${packages[@]}" | sort -u
  exit 0
fi

# Installed packages and the names they provide.
present=$(dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Provides}\n' 2>/dev/null |
  awk -F'|' '$1 ~ /^ii/ { print $2; n = split($3, p, ","); for (i = 1; i <= n; i++) { sub(/\(.*/, "", p[i]); gsub(/ /, "", p[i]); if (p[i] != "") print p[i] } }' |
  sort -u)
mapfile -t missing < <(printf '%s\n' "${packages[@]}" | sort -u | comm -23 - <(echo "$present"))
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
