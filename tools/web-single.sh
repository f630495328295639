#!/usr/bin/env bash
# Writes tolmar.html around your own music: the piece as one web page, with
# the program and MUSIC.mp3 inside it, which plays opened straight from the
# disk (or mailed, or put on any host) with nothing beside it. Builds the web
# preset first when build-web/ is missing or out of date (Debian's emscripten
# and node: tools/setup-debian.sh web). OUT.html is written whole or not at
# all: a failure leaves what was there.
# Usage: tools/web-single.sh MUSIC.mp3 [OUT.html]   (OUT.html: ./tolmar.html)
# Exit status: 0 written, 1 the build or the writing failed, 2 bad use or
# MUSIC.mp3 is no MP3 audio.
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ "$1" = -h ] || [ "$1" = --help ]; then
  echo "usage: tools/web-single.sh MUSIC.mp3 [OUT.html]   (writes ./tolmar.html unless OUT.html is given)" >&2
  exit 2
fi
music=$1
out=${2:-tolmar.html}
if [ ! -f "$music" ]; then
  echo "web-single: $music is not a file; give an MP3 file" >&2
  exit 2
fi
if [ -d "$out" ]; then
  echo "web-single: $out is a folder; give the name of the page to write, e.g. $out/tolmar.html" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM  # through the EXIT trap
log=$work/log
# The music is opened with the audio library's own code and libmpg123, as
# the page opens it, built first with the host compiler (a second or two),
# so a wrong file is refused at once, before any web build.
if ! c++ -std=c++17 -O1 -I"$root/src" -o "$work/mp3-check" "$here/mp3-check.cpp" "$root/src/audio/mpg123_file.cpp" \
     $(pkg-config --cflags --libs libmpg123) >"$log" 2>&1; then
  cat "$log" >&2
  echo "web-single: the host compiler (c++) could not build the MP3 check; tools/setup-debian.sh web brings it" >&2
  exit 1
fi
checked=0
"$work/mp3-check" "$music" || checked=$?
if [ "$checked" -eq 1 ]; then
  echo "web-single: $music is not MP3 audio (no MPEG audio frames); give an MP3 file" >&2
  exit 2
elif [ "$checked" -ne 0 ]; then
  echo "web-single: cannot read $music; give a readable MP3 file" >&2
  exit 2
fi

if ! (cd "$root" && { [ -f build-web/build.ninja ] || cmake --preset web; } &&
      cmake --build --preset web --target tolmar) >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "web-single: the web build failed (above); it needs Debian's emscripten: tools/setup-debian.sh web" >&2
  exit 1
fi
node "$here/web-single.js" "$root/build-web" "$music" "$out"
echo "web-single: wrote $out ($(stat -c %s -- "$out") bytes)"
