#!/usr/bin/env bash
# The Debian package installed with apt on a fresh, minimal Debian 12: a
# debootstrap "minbase" system in a chroot, where `apt-get install
# --no-install-recommends ./tolmar_*.deb` must pull everything the piece
# needs from the declared dependencies alone. Then, inside the chroot: no
# binary lacks a library, the tools answer --version, tolmar-capture renders
# the piece with the installed soundtrack, and the launcher plays it on an X
# display of the host (Xvfb) with SDL's disk audio driver until Escape.
# Downloads about 150 MB from the Debian mirror (debootstrap and the
# dependencies) and takes about a minute. Needs root, debootstrap, Xvfb and
# xdotool; without root it says so and exits 77 (skipped).
# Usage: fresh_install.sh DEB
# Prints PASS per check, FAIL and exits 1 at the first failure.
set -uo pipefail
deb=$(realpath "${1:-}" 2>/dev/null)
[ -f "$deb" ] || { echo "usage: fresh_install.sh DEB" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: installing on a fresh Debian 12 needs root (debootstrap, chroot)"; exit 77; }
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

work=$(mktemp -d)
chroot=$work/chroot
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  for m in tmp/.X11-unix dev/pts dev proc; do umount -l "$chroot/$m" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL: $*"; [ -s "$work/log" ] && tail -n 30 "$work/log"; exit 1; }
pass() { echo "PASS: $*"; }
in_chroot() { chroot "$chroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
echo 'Acquire::Retries "3";' >"$work/retries"

# The mirror may drop a connection now and then: a second try, and apt's
# own retries below.
debootstrap --variant=minbase bookworm "$chroot" "$mirror" >"$work/log" 2>&1 ||
  { rm -rf "$chroot" && debootstrap --variant=minbase bookworm "$chroot" "$mirror" >"$work/log" 2>&1; } ||
  fail "debootstrap of a minimal Debian 12"
before=$(in_chroot dpkg-query -W | wc -l)
pass "a fresh minimal Debian 12 in a chroot ($before packages)"
mount -t proc proc "$chroot/proc" && mount --bind /dev "$chroot/dev" && mount --bind /dev/pts "$chroot/dev/pts" ||
  fail "mounting /proc and /dev in the chroot"
cp "$deb" "$chroot/root/"
cp "$work/retries" "$chroot/etc/apt/apt.conf.d/80retries"
in_chroot apt-get update >"$work/log" 2>&1 || fail "apt-get update"
download=$(in_chroot apt-get install --print-uris -qq --no-install-recommends "./root/$(basename "$deb")" 2>/dev/null |
  awk '{ bytes += $3 } END { printf "%.0f", bytes / 1048576 }')
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "/root/$(basename "$deb")" >"$work/log" 2>&1 || fail "apt-get install of the package"
after=$(in_chroot dpkg-query -W | wc -l)
pass "apt-get install --no-install-recommends ./$(basename "$deb"): $((after - before)) packages, $download MB downloaded"

missing=$(in_chroot sh -c 'for f in /usr/libexec/tolmar/tolmar /usr/lib/tolmar/libaudio.so /usr/bin/tolmar-capture /usr/bin/picture-fit; do ldd "$f"; done' | grep 'not found')
[ -z "$missing" ] || fail "libraries not found: $missing"
for tool in tolmar tolmar-capture picture-fit; do
  in_chroot "$tool" --version >"$work/log" 2>&1 || fail "$tool --version"
done
pass "every library found; tolmar, tolmar-capture and picture-fit answer --version"

mkdir -p "$chroot/tmp/capture"
in_chroot sh -c 'cd /tmp/capture && tolmar-capture --quiet --size 64x36 --fps 2 piece.mkv' >"$work/log" 2>&1 ||
  fail "tolmar-capture in an empty folder"
[ -s "$chroot/tmp/capture/piece.mkv" ] || fail "tolmar-capture wrote no piece.mkv"
pass "tolmar-capture renders the piece with the installed soundtrack ($(stat -c %s "$chroot/tmp/capture/piece.mkv") bytes)"

# The host's X display, shared through its socket folder.
fifo=$work/xvfb.fd
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 60 number <"$fifo" || fail "Xvfb did not start"
mkdir -p "$chroot/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$chroot/tmp/.X11-unix" || fail "sharing the X socket"
mkdir -p "$chroot/tmp/run"
in_chroot sh -c "cd /tmp/run && DISPLAY=:$number SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/tmp/run/audio.raw exec tolmar" \
  >"$work/log" 2>&1 &
pid=$!
# Music comes after the 3 s lead-in: wait for a sample that is not zero.
# (grep -q stops reading at the first match, so od's broken pipe must not
# count as a failure of the pipeline.)
has_sound() { (set +o pipefail; od -An -tx4 -v "$1" 2>/dev/null | grep -qv ' 00000000'); }
for _ in $(seq 300); do
  has_sound "$chroot/tmp/run/audio.raw" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
has_sound "$chroot/tmp/run/audio.raw" || fail "the launcher's run played no music"
DISPLAY=:$number xdotool keydown Escape && sleep 0.2 && DISPLAY=:$number xdotool keyup Escape
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "Escape did not end the run"; }
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "the launcher's run ended with status $status"
pass "the launcher plays the installed soundtrack on the host's display; Escape, status 0"
