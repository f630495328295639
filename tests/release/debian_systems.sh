#!/usr/bin/env bash
# Makes, or brings up to date, every Debian system that tools/release.sh and
# tests/release use (tools/release/debian_chroot.sh, desktop_lib.sh): the
# Debian 11 that builds the portable archives, the desktops of Debian 11, 12
# and 13 for amd64 and of 11 and 13 for arm64 (files only), the Debian 13
# the project is built and tested in (debian_quick.sh) and the capture
# tool's package for it made, and the minimal Debian 12 and 13 that the
# packages are installed on. Mostly waiting on the mirror and the disk, so
# ./test.sh runs it in the background while it builds and tests; the
# scripts that use the systems then find them ready and up to date. Needs
# root. Prints a line per system; FAIL and the end of the step's output at
# the first failure, then exits 1.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "FAIL: making Debian systems needs root (debootstrap, chroot)"; exit 1; }
work=$(mktemp -d)
case_dir=$work
log=$work/stderr.txt
. "$src/tools/release/debian_chroot.sh"
. "$src/tests/release/desktop_lib.sh"
trap 'debian_unmount_all; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

ready() {  # WHAT KIND [RELEASE ARCH]
  local start=$SECONDS
  "debian_ready_$2" "${@:3}"
  debian_unmount_all
  echo "Debian $release $arch, $1: ready in $((SECONDS - start)) s"
}
# The Debian 13 of the check set, the most to fetch and to configure (about
# 300 MB, 470 packages), is made beside the others, with a log of its own;
# the release's other Debian 13 systems wait for it through that release's
# lock.
(
  case_dir=$work/check
  log=$case_dir/stderr.txt
  mkdir "$case_dir"
  trap 'debian_unmount_all' EXIT
  ready "built and tested in (the check set)" check 13
) &
check_pid=$!
ready "the archives' build system" build
for release in 11 12 13; do
  ready desktop desktop "$release" amd64
done
for release in 11 13; do
  ready desktop desktop "$release" arm64
done
wait "$check_pid" || exit 1
# The minimal systems the packages are installed on, fresh each time.
for release in 12 13; do
  start=$SECONDS
  debian_cache "$release"
  debian_minbase
  echo "Debian $release amd64, the minimal system: ready in $((SECONDS - start)) s"
done
