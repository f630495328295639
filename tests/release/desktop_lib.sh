# The desktops the portable archives are checked on (linux_archive.sh), made
# ahead by debian_systems.sh. Sourced after tools/release/debian_chroot.sh,
# with its work, log and case_dir set.

# debian_emulate ARCH: the kernel runs ARCH's programs through
# qemu-user-static, registered in binfmt_misc with its interpreter opened
# at registration (flag F), so that a chroot needs no qemu of its own. A
# fresh machine has binfmt_misc neither mounted nor filled.
debian_emulate() {
  local qemu entry
  case "$1" in
  arm64) qemu=qemu-aarch64 ;;
  *) fail "debian_emulate: no emulator for Debian's '$1'" ;;
  esac
  entry=/proc/sys/fs/binfmt_misc/$qemu
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc >"$log" 2>&1 || fail "mounting binfmt_misc"
  # qemu-user-static's own registration is skipped in containers and, in
  # one apt run with binfmt-support, may come before the latter is ready.
  if ! grep -qx enabled "$entry" 2>/dev/null; then
    { update-binfmts --import "$qemu" && { grep -qx enabled "$entry" || update-binfmts --enable "$qemu"; }; } \
      >"$log" 2>&1 || fail "registering $qemu with binfmt_misc (update-binfmts)"
  fi
  grep -q '^flags:.*F' "$entry" ||
    { case_dir=""; fail "$entry does not open its interpreter at registration (flag F), so chroots cannot use it: $(tr '\n' ' ' <"$entry")"; }
}

# debian_ready_desktop RELEASE ARCH: what a desktop has for graphics and
# sound, and no more (Debian 13 renamed ALSA's library for its 64-bit time),
# as a system kept in the cache (desktop-files) that holds the files of
# Debian's essential packages and of those, with what they depend on,
# unpacked by mmdebstrap and not configured, then given the linker's cache
# and base-passwd's users. No package's own scripts run, so another
# architecture's system is made in seconds instead of configured for minutes
# through qemu; finding and loading libraries and running programs, all that
# the archives' checks ask of a desktop, need nothing more. Made anew when
# the list changes, or when it is a day old and the mirror answers; without
# the mirror the one kept is used. Sets root, mounted.
debian_ready_desktop() {
  local packages alsa=libasound2
  [ "$2" = amd64 ] || debian_emulate "$2"
  debian_cache "$1" "$2"
  [ "$release" -lt 13 ] || alsa=libasound2t64
  packages="libgl1 libegl1 libgl1-mesa-dri libopengl0 libx11-6 libxext6 libxcursor1 libxinerama1 libxi6 libxrandr2
    libxss1 libxxf86vm1 libwayland-client0 libwayland-cursor0 libwayland-egl1 libxkbcommon0 $alsa libpulse0"
  root=$cache/desktop-files
  if [ ! -d "$root" ] || [ "$(cat "$root.packages" 2>/dev/null)" != "$(echo $packages)" ] ||
    { [ -n "$online" ] && [ -z "$(find "$root.packages" -mmin -1440 2>/dev/null)" ]; }; then
    [ -n "$online" ] || [ -d "$root" ] ||
      { case_dir=""; fail "no Debian $release $arch (desktop-files) in the cache ($cache) and the mirror $debian_mirror cannot be reached"; }
    if [ -n "$online" ]; then
      rm -rf --one-file-system "$root.new"
      timeout 1200 mmdebstrap --variant=extract --architectures="$arch" --include='?essential' \
        --include="$(echo $packages | tr ' ' ,)" "$suite" "$root.new" "$debian_mirror" >"$log" 2>&1 &&
        chroot "$root.new" /sbin/ldconfig >>"$log" 2>&1 &&
        cp "$root.new/usr/share/base-passwd/passwd.master" "$root.new/etc/passwd" &&
        cp "$root.new/usr/share/base-passwd/group.master" "$root.new/etc/group" ||
        fail "mmdebstrap of Debian $release $arch's files (desktop-files)"
      rm -rf --one-file-system "$root" "$root.packages"
      mv "$root.new" "$root"
      echo $packages >"$root.packages"
    fi
  fi
  debian_mount "$root"
}
