#!/usr/bin/env bash
# The release, checked as the people who download it get it: cuts one with
# tools/release.sh --allow-dirty (so work not yet committed is checked too;
# with --made, dist/ as the test command's step before it cut it), then
# checks each file of dist/ on its own, with PASS/FAIL/SKIP per check, "N
# passed, M failed, K skipped" and a non-zero status on any failure:
# - the Debian packages unpacked and run (deb_test.sh), and installed with
#   apt on fresh minimal Debian 12 and 13 systems and run (fresh_install.sh);
# - the portable archives unpacked and run, x86_64 on fresh Debian 11, 12
#   and 13, aarch64 on arm64 Debian 11 and 13 through qemu
#   (linux_archive.sh);
# - the project built with the default preset and its quick tests run in a
#   Debian 13 system (debian_quick.sh);
# - the build and the x86_64 archive on a sway desktop (tests/wayland/ci.sh);
# - the Windows zip under Wine, the web zip served and run in Chromium
#   (windows_zip.sh, web_zip.sh), the licences each file carries
#   (notices.sh), SHA256SUMS, and the windows, web and release package sets
#   against what the release's builds read (tests/setup/set_build_test.sh);
# - a release made to fail part way leaves dist/ as it was.
# The Debian systems are chroots (root only), made ahead by
# debian_systems.sh and kept in /var/cache/tolmar-tests. Three lanes run
# side by side, each mostly waiting for the programs it watches: the checks
# on this system, those in the Debian systems, and the Wayland checks; the
# Debian 13 build of debian_quick.sh goes beside the other Debian systems.
# Builds the event log and pcm_match in build/ (the default preset) first.
# Usage: tests/release/ci.sh [--made]
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source tests/support/checks.sh
version=$(head -n 1 VERSION)
debian_release=$(. /etc/os-release && echo "$VERSION_ID")

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ "${1:-}" != --made ]; then
  began=$SECONDS
  bash tools/release.sh --allow-dirty >"$log" 2>&1 && pass "tools/release.sh: $(grep -c '^  ' "$log") files in dist/" ||
    { fail "tools/release.sh"; tail -n 40 "$log"; finish; }
  echo "(tools/release.sh: $((SECONDS - began)) s)"
fi
# (Configured only when it is not: the test command's ctest runs beside
# these use build/.)
{ { [ -f build/CMakeCache.txt ] || cmake --preset default; } &&
  cmake --build --preset default --target event_log pcm_match; } >"$log" 2>&1 ||
  { fail "the event log and pcm_match (default build)"; tail -n 20 "$log"; finish; }

# Runs one of the checking scripts, shows its lines and counts them.
run_checks() {
  local began=$SECONDS status out script
  for script in "$@"; do [[ $script == *.sh ]] && break; done
  out=$(mktemp)
  "$@" >"$out" 2>&1
  status=$?
  cat "$out"
  add_checks "$out" "$status" "$*"
  rm -f "$out"
  echo "($(basename "$script") ${*: -1}: $((SECONDS - began)) s)"
}
# A lane beside the checks below: COMMAND... runs in the background, its
# lines shown and counted after them.
lanes=()
beside() {
  local out
  out=$(mktemp)
  "$@" >"$out" 2>&1 &
  lanes+=("$!:$out")
}
chroot_checks() {
  for release in 12 13; do
    run_checks timeout 1200 bash tests/release/fresh_install.sh "$release" "dist/tolmar_${version}_amd64.deb" \
      "dist/tolmar-capture_${version}+deb${release}_amd64.deb"
  done
  for arch in x86_64 aarch64; do
    PCM_MATCH=$root/build/tests/reliability/pcm_match run_checks timeout 1800 bash tests/release/linux_archive.sh \
      "dist/tolmar-$version-linux-$arch.tar.gz" "build-release/linux-archive/$arch/checks/libevent_log.so"
  done
}
beside chroot_checks
beside run_checks timeout 2400 bash tests/release/debian_quick.sh 13
beside run_checks timeout 2400 bash tests/wayland/ci.sh "dist/tolmar-$version-linux-x86_64.tar.gz" \
  build-release/linux-archive/x86_64/checks/libevent_log.so

# The package sets of the release's builds bring all that each build read
# (the run, tools and capture sets are checked by ctest in build/).
set_check=tests/setup/set_build_test.sh
run_checks bash $set_check windows build-release/windows . tolmar
run_checks bash $set_check web build-release/web . tolmar
run_checks bash $set_check release build-release/linux . tolmar soundtrack picture-fit frame-shot tolmar-capture
TOLMAR_EVENT_SHIM=$root/build/tests/support/libevent_log.so PCM_MATCH=$root/build/tests/reliability/pcm_match \
  run_checks timeout 1200 bash tests/release/deb_test.sh "dist/tolmar_${version}_amd64.deb" \
  "dist/tolmar-capture_${version}+deb${debian_release}_amd64.deb"
run_checks bash tests/release/windows_zip.sh "dist/tolmar-$version-windows.zip"
run_checks bash tests/release/web_zip.sh "dist/tolmar-$version-web.zip"
run_checks bash tests/release/notices.sh build-release dist
for lane in "${lanes[@]}"; do
  wait "${lane%%:*}"
  status=$?
  cat "${lane#*:}"
  add_checks "${lane#*:}" "$status" "a lane of checks beside the others"
  rm -f "${lane#*:}"
done

# SHA256SUMS names every other file of dist/, once, and they verify.
(cd dist && sha256sum --check --strict SHA256SUMS) >"$log" 2>&1 &&
  [ "$(cd dist && LC_ALL=C ls | grep -vx SHA256SUMS)" = "$(awk '{ print $2 }' dist/SHA256SUMS | LC_ALL=C sort)" ] &&
  pass "SHA256SUMS verifies every file of dist/: $(awk '{ printf "%s ", $2 }' dist/SHA256SUMS)" ||
  fail "SHA256SUMS verifies every file of dist/ ($(ls dist | tr '\n' ' ')): $(cat "$log")"

# A release that fails part way leaves the last one as it was: with a cmake
# that fails at once first on PATH, the first build step fails (after the
# point where dist/ used to be emptied) and dist/ must be unchanged.
fake=$(mktemp -d)
printf '#!/bin/sh\necho "cmake: made to fail by the release check" >&2\nexit 1\n' >"$fake/cmake"
chmod +x "$fake/cmake"
before=$(cd dist && ls -l --full-time && sha256sum -- *)
PATH=$fake:$PATH bash tools/release.sh --allow-dirty >"$log" 2>&1
status=$?
rm -rf "$fake"
[ "$status" -eq 1 ] && grep -q '^release: FAILED: Linux build' "$log" &&
  [ "$(cd dist && ls -l --full-time && sha256sum -- *)" = "$before" ] &&
  pass "a release whose build fails leaves dist/ as it was" ||
  fail "a release whose build fails (status $status) changed dist/ or did not say so: $(tail -n 5 "$log")"
finish
