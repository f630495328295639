#!/usr/bin/env bash
# The Debian packages installed with apt on a fresh, minimal Debian 12 or
# 13: a debootstrap "minbase" system in a chroot, where `apt-get install
# --no-install-recommends ./tolmar_*.deb ./tolmar-capture_*.deb` (the
# piece's package, the same for both releases, and the capture tool's for
# that release) must pull everything they need from the declared
# dependencies alone. Then, inside the chroot: no
# binary lacks a library, the tools answer --version, tolmar-capture renders
# the piece with the installed soundtrack, and the launcher plays it on an X
# display of the host (Xvfb) with SDL's disk audio driver until Escape.
#
# The minimal system, apt's package lists and the packages it downloads are
# kept outside the clone (tools/release/debian_chroot.sh: in
# $TOLMAR_TEST_CACHE, default /var/cache/tolmar-tests; about 150 MB from the
# Debian mirror the first time, then only what changed; no mirror needed
# when the cache holds everything; one line when neither is there). Needs
# root, debootstrap, Xvfb and xdotool; without root it says so and exits 77
# (skipped). DEBIAN_MIRROR picks the mirror; http_proxy is passed to apt.
# Usage: fresh_install.sh RELEASE DEB CAPTURE_DEB
# Prints PASS per check, FAIL and exits 1 at the first failure.
set -uo pipefail
wanted=${1:-}
deb=$(realpath "${2:-}" 2>/dev/null)
capture_deb=$(realpath "${3:-}" 2>/dev/null)
[ -f "$deb" ] && [ -f "$capture_deb" ] || { echo "usage: fresh_install.sh RELEASE DEB CAPTURE_DEB" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/program_lib.sh"  # goes to a temporary folder
[ "$(id -u)" -eq 0 ] || skip "installing on a fresh Debian $wanted needs root (debootstrap, chroot)"
. "$here/../../tools/release/debian_chroot.sh"

chroot=$work/chroot
# What each step printed; a failure shows its end.
case_dir=$work/steps
mkdir "$case_dir"
log=$case_dir/stderr.txt
# The chroot's mounts go before its folder is removed.
trap 'debian_unmount_all; cleanup' EXIT
in_chroot() { in_debian "$chroot" "$@"; }

debian_cache "$wanted"
debian_unpack "$chroot"
before=$(in_chroot dpkg-query -W | wc -l)
pass "a fresh minimal Debian $release in a chroot ($before packages)"
cp "$deb" "$capture_deb" "$chroot/root/"
debs=("/root/$(basename "$deb")" "/root/$(basename "$capture_deb")")
download=$(in_chroot apt-get install --print-uris -qq --no-install-recommends "${debs[@]}" 2>/dev/null |
  awk '$1 ~ /^.https?:/ { bytes += $3 } END { printf "%.0f", bytes / 1048576 }')  # not the local .debs
[ -n "$online" ] || case_dir=""  # offline, apt's complaint adds nothing to the line
debian_install "$chroot" "${debs[@]}"
after=$(in_chroot dpkg-query -W | wc -l)
pass "Debian $release: apt-get install --no-install-recommends ./$(basename "$deb") ./$(basename "$capture_deb"): $((after - before)) packages, $download MB downloaded"

missing=$(in_chroot sh -c 'for f in /usr/libexec/tolmar/tolmar /usr/lib/tolmar/libaudio.so /usr/bin/tolmar-capture /usr/bin/picture-fit; do ldd "$f"; done' | grep 'not found')
[ -z "$missing" ] || die "libraries not found: $missing"
for tool in tolmar tolmar-capture picture-fit; do
  in_chroot "$tool" --version >"$log" 2>&1 || die "$tool --version"
done
pass "Debian $release: every library found; tolmar, tolmar-capture and picture-fit answer --version"

mkdir -p "$chroot/tmp/capture"
in_chroot sh -c 'cd /tmp/capture && tolmar-capture --quiet --size 64x36 --fps 2 piece.mkv' >"$log" 2>&1 ||
  die "tolmar-capture in an empty folder"
[ -s "$chroot/tmp/capture/piece.mkv" ] || die "tolmar-capture wrote no piece.mkv"
pass "Debian $release: tolmar-capture renders the piece with the installed soundtrack ($(stat -c %s "$chroot/tmp/capture/piece.mkv") bytes)"

# The host's X display, shared through its socket folder.
start_xvfb
debian_bind /tmp/.X11-unix "$chroot/tmp/.X11-unix"
mkdir -p "$chroot/tmp/run"
audio=$chroot/tmp/run/audio.raw
in_chroot sh -c "cd /tmp/run && DISPLAY=$DISPLAY SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/tmp/run/audio.raw exec tolmar" \
  >"$log" 2>&1 &
pid=$!
# Music comes after the 3 s lead-in: waits for a sample that is not zero
# (a limit for hangs only).
for _ in $(seq 300); do
  [ -f "$audio" ] && [ -n "$(sound_after "$audio" 0)" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
[ -f "$audio" ] && [ -n "$(sound_after "$audio" 0)" ] || die "the launcher's run played no music"
press_escape
wait_gone "$pid" 120 || { kill "$pid"; die "Escape did not end the run"; }
wait "$pid" || die "the launcher's run ended with status $?"
pass "Debian $release: the launcher plays the installed soundtrack on the host's display; Escape, status 0"
