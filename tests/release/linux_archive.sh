#!/usr/bin/env bash
# A portable Linux archive where its users are: unpacked once, then seen
# from fresh minimal Debian systems of its processor (chroots kept ready in
# the cache, desktop_lib.sh), each given only what a desktop
# has for graphics and sound: Debian 11, 12 and 13 for x86_64; 11 and 13 for
# aarch64, which run arm64 through qemu-user-static. On the host: the
# archive's name and its one folder, owned by root, every ELF file built for
# the processor the name says; none needs a glibc symbol version newer than
# 2.31 (readelf, which reads any architecture). In each system: every ELF
# file it carries finds all its libraries (ldd, with the launcher's library
# path), and the launcher, started through a link from an empty folder,
# plays on the host's X display (Xvfb) with SDL's disk audio driver until
# Escape: status 0, music only after the lead-in, the output the bundled
# soundtrack looped. The x86_64 archive in Debian 11 also from a folder with
# its own tolmar.mp3, which must win (the launcher is the same shell script
# in both archives). Every wait is for the program's events and output,
# never for a time, so the emulated runs pass however slow they are.
# Usage: linux_archive.sh ARCHIVE EVENT_LOG
#   ARCHIVE: tolmar-VERSION-linux-ARCH.tar.gz, ARCH x86_64 or aarch64
#   EVENT_LOG: the event log library built in Debian 11 with the program
#   (build-release/linux-archive/ARCH/checks/libevent_log.so).
# Environment: PCM_MATCH (tests/reliability's pcm_match). Needs root,
# debootstrap, Xvfb and xdotool, for aarch64 qemu-user-static and
# binfmt-support; without root it says so and exits 77.
# Prints PASS per check; at the first failure prints FAIL with what the
# program said and exits 1.
set -uo pipefail
archive=$(realpath "${1:-}" 2>/dev/null)
shim=$(realpath "${2:-}" 2>/dev/null)
[ -f "$archive" ] && [ -f "$shim" ] || { echo "usage: linux_archive.sh ARCHIVE EVENT_LOG" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
version=$(head -n 1 "$here/../../VERSION")
. "$here/../support/program_lib.sh"  # goes to a temporary folder
. "$here/play_lib.sh"
. "$here/../../tools/release/debian_chroot.sh"
. "$here/desktop_lib.sh"
[ "$(id -u)" -eq 0 ] || skip "the archive's checks on fresh Debian systems need root (debootstrap, chroot)"
[ -x "${PCM_MATCH:-}" ] || die "PCM_MATCH must name the default build's pcm_match"
trap 'debian_unmount_all; cleanup' EXIT
case_dir=$work/steps
mkdir "$case_dir"
log=$case_dir/stderr.txt

# --- The archive -----------------------------------------------------------------
# Per processor: Debian's name for it, what readelf calls it, and the
# releases it is seen from. Emulated arm64 is slow: its oldest and newest.
name=$(basename "$archive")
case "$name" in
"tolmar-$version-linux-x86_64.tar.gz") arch=x86_64 debarch=amd64 machine='Advanced Micro Devices X86-64' releases='11 12 13' ;;
"tolmar-$version-linux-aarch64.tar.gz") arch=aarch64 debarch=arm64 machine=AArch64 releases='11 13' ;;
*) die "file name $name, expected tolmar-$version-linux-x86_64.tar.gz or tolmar-$version-linux-aarch64.tar.gz" ;;
esac
top=tolmar-$version-linux-$arch
listing=$(tar -tvzf "$archive" --numeric-owner) || die "tar cannot list $archive"
odd=$(awk -v top="$top" '$2 != "0/0" || ($NF != top "/" && index($NF, top "/") != 1)' <<<"$listing")
[ -z "$odd" ] || die "entries outside $top/ or not owned by root: $odd"
mkdir "$work/unpacked"
tar -xzf "$archive" -C "$work/unpacked" || die "tar cannot unpack $archive"
dir=$work/unpacked/$top
[ -x "$dir/tolmar" ] && [ -x "$dir/lib/tolmar" ] && [ -s "$dir/tolmar.mp3" ] ||
  die "no launcher tolmar, program lib/tolmar or tolmar.mp3 in $top/"
elves=$(find "$dir" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' sh {} \; -print | sort)
other=$(for f in $elves; do readelf -h "$f" | grep -q "Machine: *$machine\$" || echo "${f#"$dir"/}"; done)
[ -z "$other" ] || die "$name: ELF files not built for $machine: $other"
pass "$name: one folder owned by root, with the launcher, the music and $(wc -l <<<"$elves") ELF files for $machine"

# The newest glibc symbol version any of them asks for.
newest=$(for f in $elves; do readelf -V "$f"; done | grep -o 'Name: GLIBC_[0-9.]*' | sed 's/.*GLIBC_//' | sort -uV | tail -n 1)
[ -n "$newest" ] && [ "$(printf '%s\n2.31\n' "$newest" | sort -V | tail -n 1)" = 2.31 ] ||
  die "glibc symbol versions up to ${newest:-none found} are needed; 2.31 is the most allowed"
pass "$arch: no file needs a glibc symbol newer than 2.31 (the newest: GLIBC_$newest)"

# The launcher through a link, as from a folder on PATH.
mkdir "$work/bin"
ln -s "../unpacked/$top/tolmar" "$work/bin/tolmar"
# Runs the launcher in the chroot at $root, in the folder it is started in:
# $work has the same path there.
program=$work/in_chroot
printf '#!/bin/sh\nexec chroot "$ROOT" /bin/sh -c %s sh "$PWD"\n' "'cd \"\$1\" && exec $work/bin/tolmar'" >"$program"
chmod +x "$program"
start_xvfb
# The event log where the systems see it too.
cp "$shim" "$work/libevent_log.so" || die "copying the event log $shim"
export TOLMAR_EVENT_SHIM=$work/libevent_log.so

# --- In each Debian ---------------------------------------------------------------
for release in $releases; do
  case_dir=$work/steps
  debian_ready_desktop "$release" "$debarch"
  export ROOT=$root
  debian_bind "$work" "$root$work"
  debian_bind /tmp/.X11-unix "$root/tmp/.X11-unix"

  missing=$(in_debian "$root" env LD_LIBRARY_PATH="$dir/lib" ldd $elves 2>&1 | grep -e ':$' -e 'not found' |
    grep -B 1 'not found')
  [ -z "$missing" ] || die "Debian $release $debarch: libraries not found: $missing"
  pass "Debian $release $debarch: every library of the $(wc -l <<<"$elves") ELF files found"

  mkdir "$work/empty$release"
  play_in "$work/empty$release" "$dir/tolmar.mp3" "the bundled soundtrack" \
    "Debian $release $debarch: the launcher through a link, from an empty folder"
  if [ "$debarch" = amd64 ] && [ "$release" = 11 ]; then
    mkdir "$work/own"
    make_mp3 "$work/own/tolmar.mp3" 2 44100 2
    play_in "$work/own" "$work/own/tolmar.mp3" "the folder's tolmar.mp3" \
      "Debian $release: the launcher from a folder with its own tolmar.mp3"
  fi
  debian_unmount_all
  rmdir "$root$work" 2>/dev/null
done
