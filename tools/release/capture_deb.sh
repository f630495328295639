#!/usr/bin/env bash
# tolmar-capture's Debian package for another Debian release: FFmpeg's
# library packages are named after their ABI, which each release changes, so
# the tool is built against each release's own. Built in that release's
# system of the check set (tools/release/debian_chroot.sh, made ahead by
# tests/release/debian_systems.sh) from a copy of this working tree, as
# tools/release.sh builds the Linux package here: Release, Debian's
# hardening flags, the tool and its package's files only, then cpack for
# the capture component (version VERSION+debRELEASE). Needs root.
# Usage: tools/release/capture_deb.sh RELEASE OUT_DIR
# Writes OUT_DIR/tolmar-capture_VERSION+debRELEASE_amd64.deb and prints its
# path; on failure, the end of the step's output and status 1.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: tools/release/capture_deb.sh RELEASE OUT_DIR" >&2; exit 2; }
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
in_tree 'export DEB_BUILD_MAINT_OPTIONS=hardening=+all SOURCE_DATE_EPOCH='"${SOURCE_DATE_EPOCH:-$(date +%s)}"'
  export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
  cmake -S . -B build-capture -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLMAR_TESTS=OFF -DTOLMAR_CAPTURE=ON \
    -DTOLMAR_PACKAGE=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache &&
  cmake --build build-capture --target tolmar-capture capture_package_files &&
  cd build-capture && cpack -G DEB -D CPACK_COMPONENTS_ALL=capture' >"$log" 2>&1 ||
  fail "building tolmar-capture's package in Debian $release"
deb=$(cd "$tree/build-capture" && ls tolmar-capture_*+deb"$release"_*.deb) || fail "cpack wrote no tolmar-capture package"
cp "$tree/build-capture/$deb" "$out/"
echo "$out/$deb"
