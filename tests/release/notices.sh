#!/usr/bin/env bash
# The release's licences: each zip carries our LICENSE.txt (the root's
# LICENSE) and, in LICENSES/, a notice for everything its program carries of
# others; the .deb carries its copyright (machine-readable, MIT as Expat).
# What a zip's program carries is read from the build that made it, not
# from a list kept beside it: the link line of build-release/windows
# (tolmar.exe) and build-release/web (tolmar.js) in their build.ninja. The
# Linux archives (x86_64, aarch64) carry their libraries as files: what
# each lib/ holds, each library needing a row of the table. Also shows once
# that a zip short of a notice fails. The source of the libmpg123 the zips
# carry is in dist/, patched as built. Usage:
#   bash tests/release/notices.sh BUILD_DIR DIST_DIR   (build-release dist)
# Prints PASS/FAIL per check and "N passed, M failed, K skipped"; exits
# non-zero on any failure.
set -uo pipefail
[ $# -eq 2 ] && [ -d "$1" ] && [ -d "$2" ] ||
  { echo "usage: bash $0 BUILD_DIR DIST_DIR   (e.g. build-release dist)" >&2; exit 2; }
build=$1 dist=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/support/checks.sh"
version=$(head -n 1 "$root/VERSION")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A word of a link line or a file of the Linux archive (a glob) -> the
# notice the zip or archive must hold for it.
notice_table='
lib/libSDL2-2.0.so.*  LICENSES/libsdl2-2.0-0.txt
lib/libmpg123.so.*    LICENSES/libmpg123-0.txt
lib/libmpg123.so.*    LICENSES/LGPL-2.1.txt
lib/libmpg123.so.*    LICENSES/SOURCES.txt
lib/libGLU.so.*       LICENSES/libglu1-mesa.txt
lib/libaudio.so       LICENSE.txt
*/libmpg123.dll.a  LICENSES/libmpg123-0.txt
*/libmpg123.dll.a  LICENSES/LGPL-2.1.txt
*/libmpg123.dll.a  LICENSES/SOURCES.txt
-static            LICENSES/mingw-w64-common.txt
-static-libgcc     LICENSES/gcc-mingw-w64-base.txt
-static-libgcc     LICENSES/GPL-3.txt
-static-libstdc++  LICENSES/gcc-mingw-w64-base.txt
-static-libstdc++  LICENSES/GPL-3.txt
*/web/lib/libmpg123.a  LICENSES/libmpg123.txt
*/web/lib/libmpg123.a  LICENSES/LGPL-2.1.txt
*/web/lib/libmpg123.a  LICENSES/SOURCES.txt
*/em++             LICENSES/emscripten.txt
*/emcc             LICENSES/emscripten.txt
*/em++             LICENSES/Apache-2.0.txt
*/emcc             LICENSES/Apache-2.0.txt'

# The link line of OUTPUT in a Ninja build: the linker's command and the
# target's flags and libraries.
link_line() {  # BUILD_DIR OUTPUT
  local rule
  rule=$(sed -n "s/^build $2: \([^ ]*\) .*/\1/p" "$1/build.ninja")
  [ -n "$rule" ] || return 0
  sed -n "/^rule $rule\$/,/^\$/s/^  command = //p" "$1/CMakeFiles/rules.ninja"
  sed -n "/^build $2: /,/^\$/s/^  \(LINK_FLAGS\|LINK_LIBRARIES\) = //p" "$1/build.ninja"
}

# The notices the table asks for WORDs, one a line, once each, in its order.
notices_for() {  # WORD...
  local glob notice word
  while read -r glob notice; do
    for word in "$@"; do
      # shellcheck disable=SC2053  # the table's entry is a glob
      [[ $word == $glob ]] && echo "$notice"
    done
  done <<<"${notice_table#$'\n'}" | awk '!seen[$0]++'
}

# Passes when LISTING (the zip's file names, one a line, below its folder)
# holds a notice for every word of LINK that the table knows; fails naming
# the missing ones, or when the link line shows nothing the table knows.
# SHOWS names what LINK is (default: its link line).
check_notices() {  # WHAT LISTING LINK [SHOWS]
  local what=$1 notice needed missing="" shows=${4:-its link line}
  # shellcheck disable=SC2086  # the words of the link line
  needed=$(notices_for $3 | sed 's/^/ /' | tr -d '\n')
  for notice in $needed; do grep -qxF "$notice" <<<"$2" || missing="$missing $notice"; done
  if [ -z "$needed" ]; then
    fail "$what: $shows shows nothing the notice table knows: $(head -c 300 <<<"$3")"
  elif [ -n "$missing" ]; then
    fail "$what: no notice for what $shows shows:$missing"
  else
    pass "$what: a notice for all $shows shows:$needed"
  fi
}

for kind in windows web; do
  zip=$dist/tolmar-$version-$kind.zip
  output=tolmar.exe
  [ "$kind" = web ] && output=tolmar.js
  link=$(link_line "$build/$kind" "$output")
  [ -n "$link" ] || { fail "$kind: no link line for $output in $build/$kind/build.ninja"; continue; }
  # The names below the zip's folder.
  listing=$(unzip -Z1 "$zip" 2>&1 | sed -n "s|^tolmar-$version-$kind/||p")
  check_notices "the $kind zip" "$listing" "$link"
  unzip -p "$zip" "tolmar-$version-$kind/LICENSE.txt" 2>/dev/null | tr -d '\r' | cmp -s - "$root/LICENSE" &&
    pass "the $kind zip's LICENSE.txt is the root's LICENSE" ||
    fail "the $kind zip's LICENSE.txt is the root's LICENSE"
  if [ "$kind" = windows ]; then
    # A zip short of one notice fails (a subshell keeps its FAIL out of
    # the counts).
    short=$(grep -vxF LICENSES/GPL-3.txt <<<"$listing")
    (check_notices "without GPL-3.txt" "$short" "$link") | grep -q '^FAIL: .*: no notice .* LICENSES/GPL-3.txt' &&
      pass "the same zip without LICENSES/GPL-3.txt would fail" || fail "the same zip without LICENSES/GPL-3.txt would fail"
  fi
done

# libmpg123's source, which the LGPL offers with the exe and the page: each
# zip's SOURCES.txt names the tarball dist/ carries, which holds the pinned
# version (cmake/mpg123-source.sha256) with our patch applied and beside it.
source_tar=tolmar-$version-libmpg123-source.tar.gz
pinned=$(sed -n 's/^[0-9a-f]\{64\}  mpg123_\(.*\)\.dsc$/\1/p' "$root/cmake/mpg123-source.sha256")
for kind in windows web; do
  unzip -p "$dist/tolmar-$version-$kind.zip" "tolmar-$version-$kind/LICENSES/SOURCES.txt" 2>/dev/null |
    grep -qF "  $source_tar" && pass "the $kind zip's SOURCES.txt names $source_tar" ||
    fail "the $kind zip's SOURCES.txt names $source_tar"
done
top=mpg123-$pinned
tar -xzf "$dist/$source_tar" -C "$work" "$top/src/libmpg123/parse.c" "$top/tolmar-frame-count.patch" 2>"$work/tar.log" &&
  grep -qx '#define TRACK_MAX_FRAMES 0xffffffffffffffffULL/4/1152' "$work/$top/src/libmpg123/parse.c" &&
  cmp -s "$work/$top/tolmar-frame-count.patch" "$root/cmake/mpg123-frame-count.patch" &&
  pass "$source_tar: mpg123 $pinned with cmake/mpg123-frame-count.patch applied and beside it" ||
  fail "$source_tar: mpg123 $pinned with cmake/mpg123-frame-count.patch applied and beside it: $(cat "$work/tar.log")"

# The Linux archives: a notice for each library in lib/ (ours is under our
# licence), and a row of the table for each.
for arch in x86_64 aarch64; do
  top=tolmar-$version-linux-$arch
  listing=$(tar -tzf "$dist/$top.tar.gz" 2>&1 | sed -n "s|^$top/||p")
  libs=$(grep '^lib/.*\.so' <<<"$listing")
  check_notices "the Linux $arch archive" "$listing" "$libs" "its lib/"
  unknown=""
  for lib in $libs; do
    [ -n "$(notices_for "$lib")" ] || unknown="$unknown $lib"
  done
  [ -z "$unknown" ] && pass "the Linux $arch archive: every library in lib/ has a row in the notice table" ||
    fail "the Linux $arch archive: libraries in lib/ with no row in the notice table:$unknown"
  tar -xzOf "$dist/$top.tar.gz" "$top/LICENSE.txt" 2>/dev/null | cmp -s - "$root/LICENSE" &&
    pass "the Linux $arch archive's LICENSE.txt is the root's LICENSE" ||
    fail "the Linux $arch archive's LICENSE.txt is the root's LICENSE"
done

# The .deb links what it uses dynamically, as Debian packages with their own
# copyright files; it carries only its own.
deb=$dist/tolmar_${version}_amd64.deb
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" ./usr/share/doc/tolmar/copyright 2>"$work/tar.log"
copyright=$work/usr/share/doc/tolmar/copyright
head -n 1 "$copyright" 2>/dev/null | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
  grep -A3 -x 'Files: \*' "$copyright" | grep -qx 'License: Expat' &&
  pass "the .deb's copyright: machine-readable, Files: * under License: Expat" ||
  fail "the .deb's copyright: machine-readable, Files: * under License: Expat; it holds: $(cat "$copyright" "$work/tar.log" 2>&1 | head -n 12)"
finish
