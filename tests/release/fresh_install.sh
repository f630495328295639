#!/usr/bin/env bash
# The Debian package installed with apt on a fresh, minimal Debian 12: a
# debootstrap "minbase" system in a chroot, where `apt-get install
# --no-install-recommends ./tolmar_*.deb` must pull everything the piece
# needs from the declared dependencies alone. Then, inside the chroot: no
# binary lacks a library, the tools answer --version, tolmar-capture renders
# the piece with the installed soundtrack, and the launcher plays it on an X
# display of the host (Xvfb) with SDL's disk audio driver until Escape.
#
# What it fetches from the Debian mirror is kept outside the clone, in
# $TOLMAR_TEST_CACHE (default /var/cache/tolmar-tests): the minimal system as
# debootstrap's tarball, apt's package lists and the packages it downloaded.
# The first run fetches about 150 MB; later runs on the machine, from any
# clone, fetch only what changed on the mirror, and need no mirror at all
# when the cache holds everything (an unreachable mirror is then only noted).
# Without the cache and without the mirror it fails with one line. Network
# steps have time limits. Needs root, debootstrap, Xvfb and xdotool; without
# root it says so and exits 77 (skipped). DEBIAN_MIRROR picks the mirror;
# http_proxy is passed to apt.
# Usage: fresh_install.sh DEB
# Prints PASS per check, FAIL and exits 1 at the first failure.
set -uo pipefail
deb=$(realpath "${1:-}" 2>/dev/null)
[ -f "$deb" ] || { echo "usage: fresh_install.sh DEB" >&2; exit 2; }
. "$(dirname "$0")/../support/program_lib.sh"  # goes to a temporary folder
pass() { echo "PASS: $*"; }
[ "$(id -u)" -eq 0 ] || skip "installing on a fresh Debian 12 needs root (debootstrap, chroot)"
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}/debian12
base=$cache/minbase.tgz

chroot=$work/chroot
# What each step printed; a failure shows its end.
case_dir=$work/steps
mkdir "$case_dir"
log=$case_dir/stderr.txt
# The chroot's mounts go before its folder is removed.
unmount() {
  for m in tmp/.X11-unix var/cache/apt/archives var/lib/apt/lists dev/pts dev proc; do umount -l "$chroot/$m" 2>/dev/null; done
}
trap 'unmount; cleanup' EXIT
trap 'exit 1' INT TERM
# Every step in the chroot has a limit (for a hang or a mirror gone silent).
in_chroot() {
  timeout 1200 chroot "$chroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 ${http_proxy:+http_proxy=$http_proxy} "$@"
}

# One run at a time uses the cache (two clones may test at once).
mkdir -p "$cache/archives/partial" "$cache/lists/partial" || fail "cannot make the cache $cache"
exec 9>"$cache/lock"
flock 9
# One cheap request tells whether the mirror answers (its release file, 50 kB).
online=yes
wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/bookworm/InRelease" || online=""
if [ ! -s "$base" ]; then
  [ -n "$online" ] || { case_dir=""; fail "no Debian 12 in the cache ($cache) and the mirror $mirror cannot be reached"; }
  # The mirror may drop a connection now and then: a second try, and apt's
  # own retries below.
  for _ in 1 2; do
    rm -rf "$work/make-base"
    timeout 1200 debootstrap --variant=minbase --make-tarball="$base.new" bookworm "$work/make-base" "$mirror" \
      >"$log" 2>&1 && mv "$base.new" "$base" && break
  done
  rm -rf "$work/make-base" "$base.new"
  [ -s "$base" ] || fail "debootstrap of a minimal Debian 12 (into the cache)"
fi
timeout 600 debootstrap --variant=minbase --unpack-tarball="$base" bookworm "$chroot" "$mirror" >"$log" 2>&1 ||
  fail "debootstrap of a minimal Debian 12 from the cache ($base)"
before=$(in_chroot dpkg-query -W | wc -l)
pass "a fresh minimal Debian 12 in a chroot ($before packages)"
mount -t proc proc "$chroot/proc" && mount --bind /dev "$chroot/dev" && mount --bind /dev/pts "$chroot/dev/pts" &&
  mount --bind "$cache/lists" "$chroot/var/lib/apt/lists" && mount --bind "$cache/archives" "$chroot/var/cache/apt/archives" ||
  fail "mounting /proc, /dev and the cache in the chroot"
cp "$deb" "$chroot/root/"
printf 'Acquire::Retries "%s";\nAcquire::http::Timeout "30";\n' "$([ -n "$online" ] && echo 3 || echo 0)" >"$chroot/etc/apt/apt.conf.d/80retries"
# Online: the lists brought up to date and the minimal system upgraded, which
# fetches only what changed since the cache was filled; offline: the cache's.
if [ -n "$online" ]; then
  { in_chroot apt-get update && in_chroot env DEBIAN_FRONTEND=noninteractive apt-get upgrade -y; } \
    >"$log" 2>&1 || fail "apt-get update and upgrade"
elif ! compgen -G "$cache/lists/*_Packages*" >/dev/null; then
  case_dir=""
  fail "no package lists in the cache ($cache) and the mirror $mirror cannot be reached"
else
  echo "the mirror $mirror cannot be reached: installing from the cache"
fi
download=$(in_chroot apt-get install --print-uris -qq --no-install-recommends "./root/$(basename "$deb")" 2>/dev/null |
  awk '$1 ~ /^.https?:/ { bytes += $3 } END { printf "%.0f", bytes / 1048576 }')  # not the local .deb
[ -n "$online" ] || case_dir=""  # offline, apt's complaint adds nothing to the line
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "/root/$(basename "$deb")" >"$log" 2>&1 ||
  fail "apt-get install of the package$([ -n "$online" ] || echo " (the mirror cannot be reached, and the cache lacks a package)")"
# Versions the mirror no longer has leave the cache.
[ -z "$online" ] || in_chroot apt-get autoclean >/dev/null 2>&1
after=$(in_chroot dpkg-query -W | wc -l)
pass "apt-get install --no-install-recommends ./$(basename "$deb"): $((after - before)) packages, $download MB downloaded"

missing=$(in_chroot sh -c 'for f in /usr/libexec/tolmar/tolmar /usr/lib/tolmar/libaudio.so /usr/bin/tolmar-capture /usr/bin/picture-fit; do ldd "$f"; done' | grep 'not found')
[ -z "$missing" ] || fail "libraries not found: $missing"
for tool in tolmar tolmar-capture picture-fit; do
  in_chroot "$tool" --version >"$log" 2>&1 || fail "$tool --version"
done
pass "every library found; tolmar, tolmar-capture and picture-fit answer --version"

mkdir -p "$chroot/tmp/capture"
in_chroot sh -c 'cd /tmp/capture && tolmar-capture --quiet --size 64x36 --fps 2 piece.mkv' >"$log" 2>&1 ||
  fail "tolmar-capture in an empty folder"
[ -s "$chroot/tmp/capture/piece.mkv" ] || fail "tolmar-capture wrote no piece.mkv"
pass "tolmar-capture renders the piece with the installed soundtrack ($(stat -c %s "$chroot/tmp/capture/piece.mkv") bytes)"

# The host's X display, shared through its socket folder.
start_xvfb
mkdir -p "$chroot/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$chroot/tmp/.X11-unix" || fail "sharing the X socket"
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
[ -f "$audio" ] && [ -n "$(sound_after "$audio" 0)" ] || fail "the launcher's run played no music"
press_escape
wait_gone "$pid" 120 || { kill "$pid"; fail "Escape did not end the run"; }
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "the launcher's run ended with status $status"
pass "the launcher plays the installed soundtrack on the host's display; Escape, status 0"
