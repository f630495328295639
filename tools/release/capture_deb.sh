#!/usr/bin/env bash
# tolmar-capture's Debian package for another Debian release: FFmpeg's
# library packages are named after their ABI, which each release changes, so
# the tool is built against each release's own. Built in that release's
# system of the check set (tools/release/debian_chroot.sh, made ahead by
# tests/release/debian_systems.sh) from a copy of this working tree, as
# tools/release.sh builds the Linux package here: Release, Debian's
# hardening flags, the tool and its package's files only, then cpack for
# the capture component (version VERSION+debRELEASE). Needs root.
# Given a SOUNDTRACK, it also makes the piece's package there, carrying that
# soundtrack: a build on Debian 13 links newer glibc and libstdc++ symbols
# than Debian 12 has, so the one package that serves both is built on 12.
# Usage: tools/release/capture_deb.sh RELEASE OUT_DIR [SOUNDTRACK]
# Writes OUT_DIR/tolmar-capture_VERSION+debRELEASE_amd64.deb (and
# OUT_DIR/tolmar_VERSION_amd64.deb) and prints the paths; on failure, the
# end of the step's output and status 1.
set -euo pipefail
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: tools/release/capture_deb.sh RELEASE OUT_DIR [SOUNDTRACK]" >&2; exit 2; }
soundtrack=${3:+$(realpath "$3")}
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "capture_deb: building in a Debian $1 system needs root (chroot)" >&2; exit 1; }
work=$(mktemp -d)
case_dir=$work
log=$work/stderr.txt
fail() {
  echo "capture_deb: $*" >&2
  tail -n 40 "$log" >&2
  exit 1
}
. "$src/tools/release/debian_chroot.sh"
trap 'debian_unmount_all; rm -rf "${tree:-}" "$work"' EXIT

debian_ready_check "$1"
debian_tree "$src"
targets="tolmar-capture capture_package_files" components=capture
if [ -n "$soundtrack" ]; then
  targets="$targets tolmar picture-fit package_files" components="piece capture"
fi
epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
in_tree 'export DEB_BUILD_MAINT_OPTIONS=hardening=+all SOURCE_DATE_EPOCH='"$epoch"'
  export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
  cmake -S . -B build-capture -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLMAR_TESTS=OFF -DTOLMAR_CAPTURE=ON \
    -DTOLMAR_PACKAGE=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache &&
  cmake --build build-capture --target '"$targets" >"$log" 2>&1 ||
  fail "building tolmar-capture$([ -z "$soundtrack" ] || echo " and the piece") in Debian $release"
# The one soundtrack of the release, in place of the one composed here.
[ -z "$soundtrack" ] || cp "$soundtrack" "$tree/build-capture/package/tolmar.mp3"
for component in $components; do
  in_tree "export SOURCE_DATE_EPOCH=$epoch && cd build-capture && cpack -G DEB -D CPACK_COMPONENTS_ALL=$component" >"$log" 2>&1 ||
    fail "cpack for $component in Debian $release"
done
debs=$(cd "$tree/build-capture" && ls tolmar*_amd64.deb) || fail "cpack wrote no package"
for deb in $debs; do
  cp "$tree/build-capture/$deb" "$out/"
  echo "$out/$deb"
done
