#!/usr/bin/env bash
# A packed Windows release, tried as a viewer would get it. Usage:
#   bash tests/release/windows_zip.sh dist/tolmar-VERSION-windows.zip
# Unpacks the zip into an empty folder and checks what came out (one folder
# named as the zip, holding exactly tolmar.exe, tolmar.mp3, README.txt,
# LICENSE.txt and the notices in LICENSES/ as plain files), that README.txt is
# text with CRLF line ends, that the exe imports only system DLLs and that
# its version resource names it and VERSION; then starts the unpacked exe under Wine in its own
# folder, as Explorer does on a double-click, and watches the run with the
# zip's music (tests/support/wine_lib.sh): black lead-in, triangles, music on
# the output device, Escape ending with status 0. Needs only the zip and the
# source tree, no build. Prints PASS/FAIL per check and "N passed, M failed, K skipped";
# exits non-zero on any failure. Takes about half a minute.
set -uo pipefail
[ $# -eq 1 ] && [ -f "$1" ] ||
  { echo "usage: bash $0 ZIP   (e.g. dist/tolmar-1.0.0-windows.zip)" >&2; exit 2; }
zip=$(realpath -- "$1")  # the Wine run changes folder

support=$(dirname "$0")/../support
source "$support/checks.sh"
source "$support/wine_lib.sh"
source "$(dirname "$0")/zip_lib.sh"

# --- What the zip unpacks to ------------------------------------------------------
unpack_zip "$zip" windows README.txt LICENSE.txt LICENSES/GPL-3.txt LICENSES/gcc-mingw-w64-base.txt \
  LICENSES/mingw-w64-common.txt LICENSES/libmpg123-0.txt LICENSES/LGPL-2.1.txt LICENSES/SOURCES.txt \
  libmpg123-0.dll tolmar.exe tolmar.mp3

# Notepad before Windows 10 shows a file with bare LFs as one long line.
readme=$dir/README.txt
if [ -f "$readme" ]; then
  lines=$(grep -c '' "$readme")  # a last line without a line end counts too
  # Lines ending in CR LF; the x stops a last line that ends in a bare CR
  # from counting.
  crlf=$({ cat "$readme"; echo x; } | grep -c $'\r$')
  if ! grep -q '[^[:space:]]' "$readme"; then
    fail "README.txt has no text ($(stat -c %s "$readme") bytes)"
  elif [ "$crlf" -eq "$lines" ]; then
    pass "README.txt: $lines lines of text, each ending in CRLF"
  else
    fail "README.txt: $((lines - crlf)) of its $lines lines do not end in CRLF; the first ones:"
    grep -n -v $'\r$' "$readme" | head -n 3 | cut -c1-100 | sed 's/^/  /'
  fi
fi

if [ -f "$dir/tolmar.exe" ]; then
  check_imports "$dir/tolmar.exe"
  # The version resource, as Explorer's Details and SmartScreen read it: each
  # value follows its name among the exe's UTF-16 strings.
  version=$(head -n 1 "$(dirname "$0")/../../VERSION")
  resource=$(strings -el "$dir/tolmar.exe" | grep -A1 -x -E 'ProductName|ProductVersion|FileVersion' | grep -v -x -- --)
  expected=$(printf 'FileVersion\n%s\nProductName\ntolmar\nProductVersion\n%s' "$version" "$version")
  [ "$resource" = "$expected" ] &&
    pass "tolmar.exe's version resource: ProductName tolmar, FileVersion and ProductVersion $version" ||
    fail "tolmar.exe's version resource: ProductName tolmar, FileVersion and ProductVersion $version; it holds: $(tr '\n' ' ' <<<"$resource")"
fi

# --- Double-clicked -----------------------------------------------------------
[ -f "$dir/tolmar.exe" ] && [ -f "$dir/tolmar.mp3" ] || finish
wine_start
wine_music_run "$dir" "$dir/tolmar.exe"

finish
