#!/usr/bin/env bash
# The release, checked as the people who download it get it: cuts one with
# tools/release.sh (--allow-dirty, so the test command also runs on work not
# yet committed), then checks each file of dist/ on its own: the Debian
# packages unpacked and run (deb_test.sh), installed with apt on fresh
# minimal Debian 12 and 13 systems in chroots and run (fresh_install.sh, as
# root; about 150 MB from the Debian mirror the first time for each, then
# only what changed, kept in /var/cache/tolmar-tests), the project built
# with the default preset and its quick tests run in a Debian 13 system
# (debian_quick.sh, beside the others), the portable Linux archives unpacked and run,
# x86_64 on fresh minimal Debian 11, 12 and 13, aarch64 on arm64 Debian 11
# and 13 through qemu (linux_archive.sh, as root, cached the same way; the
# release builds their programs in a Debian 11 kept there too), the Windows
# zip unpacked and run
# under Wine (windows_zip.sh), the build and the x86-64 archive on a sway
# desktop at scale 1 and 2 (tests/wayland/ci.sh, beside the others), the web zip unpacked, served and run in
# chromium (web_zip.sh), the checks in Debian systems beside the others,
# the licences each carries for what its build
# linked (notices.sh), and SHA256SUMS against every file of dist/; the
# windows, web and release package sets against what the release's builds
# read (tests/setup/set_build_test.sh); then a release made to fail part way
# must leave dist/ as it was. Builds the event log and pcm_match in build/
# (the default preset) first. Prints PASS/FAIL/SKIP per check and "N passed,
# M failed, K skipped"; exits non-zero on any failure. Took 9 min with the
# cache filled on a 2-core machine at load average 3 to 7 (the Linux
# archives' build and checks about 3 min of it, the aarch64 archive's checks
# 1 min 40 s); the first run on a machine about 22 minutes more for the
# Debian systems (about 970 MB from the mirror), 10 of them making the arm64
# ones through qemu.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source tests/support/checks.sh
version=$(head -n 1 VERSION)
debian_release=$(. /etc/os-release && echo "$VERSION_ID")

log=$(mktemp)
trap 'rm -f "$log"' EXIT
began=$SECONDS
bash tools/release.sh --allow-dirty >"$log" 2>&1 && pass "tools/release.sh: $(grep -c '^  ' "$log") files in dist/" ||
  { fail "tools/release.sh"; tail -n 40 "$log"; finish; }
echo "(tools/release.sh: $((SECONDS - began)) s)"
# (Configured only when it is not: the test command's ctest runs beside
# these use build/.)
{ { [ -f build/CMakeCache.txt ] || cmake --preset default; } &&
  cmake --build --preset default --target event_log pcm_match; } >"$log" 2>&1 ||
  { fail "the event log and pcm_match (default build)"; tail -n 20 "$log"; finish; }

# Runs one of the checking scripts, shows its lines and counts them.
run_checks() {
  local began=$SECONDS status out
  out=$(mktemp)
  "$@" >"$out" 2>&1
  status=$?
  cat "$out"
  add_checks "$out" "$status" "$*"
  rm -f "$out"
  echo "(${*: -1}: $((SECONDS - began)) s)"
}
# The build and the x86-64 archive on a scaled Wayland desktop (sway, its
# own user and PipeWire; tests/wayland/ci.sh): their runs mostly wait for
# the piece, so they go on beside the checks below, which use no Wayland.
wayland_log=$(mktemp)
began_wayland=$SECONDS
bash tests/wayland/ci.sh "dist/tolmar-$version-linux-x86_64.tar.gz" \
  build-release/linux-archive/x86_64/checks/libevent_log.so >"$wayland_log" 2>&1 &
wayland_pid=$!

# The checks in Debian systems (chroots, each system locked while in use)
# go on beside the ones on this system; their lines are shown after them.
chroots_log=$(mktemp)
(
  passed=0 failed=0 skipped=0
  for release in 12 13; do
    run_checks timeout 1200 bash tests/release/fresh_install.sh "$release" "dist/tolmar_${version}_amd64.deb" \
      "dist/tolmar-capture_${version}+deb${release}_amd64.deb"
  done
  for arch in x86_64 aarch64; do
    PCM_MATCH=$root/build/tests/reliability/pcm_match run_checks timeout 1800 bash tests/release/linux_archive.sh \
      "dist/tolmar-$version-linux-$arch.tar.gz" "build-release/linux-archive/$arch/checks/libevent_log.so"
  done
  run_checks timeout 2400 bash tests/release/debian_quick.sh 13
  echo "$passed $failed $skipped" >"$chroots_log.counts"
) >"$chroots_log" 2>&1 &
chroots_pid=$!

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
wait "$chroots_pid"
cat "$chroots_log"
read -r p f k <"$chroots_log.counts" || { p=0 f=1 k=0; echo "FAIL: the checks in Debian systems ended early"; }
passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + k))
rm -f "$chroots_log" "$chroots_log.counts"
wait "$wayland_pid"
status=$?
cat "$wayland_log"
add_checks "$wayland_log" "$status" "tests/wayland/ci.sh"
echo "(tests/wayland/ci.sh, beside the others: $((SECONDS - began_wayland)) s)"
rm -f "$wayland_log"

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
