# Debian systems in chroots: the Debian 11 that builds the portable Linux
# archives (tools/release/linux_build.sh) and the fresh Debian 11, 12 and 13
# the releases are checked on (tests/release/fresh_install.sh,
# tests/release/linux_archive.sh), amd64 or arm64; all of them made ahead by
# tests/release/debian_systems.sh. Sourced, as root, by scripts that set work
# (a temporary folder), log and case_dir; each step's output goes to $log,
# whose end a failure shows. A script may define its own fail MESSAGE;
# otherwise the one below is used.
#
# What comes from the Debian mirror is kept outside the clone, in
# $TOLMAR_TEST_CACHE (default /var/cache/tolmar-tests), a folder per release
# and architecture (debian11, debian12, debian13 for amd64, the host's;
# debian11-arm64 and so on for another): the minimal system as debootstrap's
# tarball, apt's package lists, the packages apt downloaded, and the systems
# kept ready there (debian_ready). The first run fetches the minimal system
# and the packages; later runs on the machine, from any clone, fetch only what
# changed on the mirror, and need no mirror at all when the cache holds
# everything (an unreachable mirror is then only noted). Without the cache
# and without the mirror the run fails with one line. Network steps have time
# limits. DEBIAN_MIRROR picks the mirror; http_proxy is passed to apt.

debian_mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

# fail MESSAGE: says what failed and the end of $case_dir/stderr.txt (unless
# case_dir is empty), and ends the run.
declare -F fail >/dev/null || fail() {
  echo "FAIL: $*"
  [ -z "$case_dir" ] || tail -n 40 "$case_dir/stderr.txt"
  exit 1
}
debian_mounted=""  # what debian_bind and debian_mount mounted, last first

# debian_cache RELEASE [ARCH]: RELEASE 11, 12 or 13, ARCH Debian's name
# (amd64, the default, or arm64, whose programs run through qemu). Locks that
# release's cache for this run, as two clones may test at once (held on
# descriptor 9 until the run ends or the next debian_cache), asks the mirror
# once whether it answers. Sets release, arch, suite, cache and online (yes,
# or empty when the mirror is away).
debian_cache() {
  release=$1
  arch=${2:-amd64}
  case "$1" in
  11) suite=bullseye ;;
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) fail "debian_cache: no Debian release '$1'" ;;
  esac
  cache=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}/debian$1
  # amd64 keeps the release's folder, which clones before arm64 share.
  if [ "$arch" != amd64 ]; then
    cache=$cache-$arch
    debian_emulate "$arch"
  fi
  mkdir -p "$cache/archives/partial" || fail "cannot make the cache $cache"
  exec 9>"$cache/lock"
  flock 9
  # One cheap request (the release file, about 50 kB).
  online=yes
  wget -q -T 20 -t 2 -O /dev/null "$debian_mirror/dists/$suite/InRelease" || online=""
}

# debian_minbase: debootstrap's minimal system of the release, fetched into
# the cache when it has none, for the systems that are unpacked from it.
debian_minbase() {
  [ ! -s "$cache/minbase.tgz" ] || return 0
  [ -n "$online" ] ||
    { case_dir=""; fail "no Debian $1 in the cache ($cache) and the mirror $debian_mirror cannot be reached"; }
  # The mirror may drop a connection now and then: a second try, and apt's
  # own retries later.
  for _ in 1 2; do
    rm -rf "$work/make-base"
    timeout 1200 debootstrap --arch="$arch" --variant=minbase --make-tarball="$cache/minbase.tgz.new" "$suite" \
      "$work/make-base" "$debian_mirror" >"$log" 2>&1 && mv "$cache/minbase.tgz.new" "$cache/minbase.tgz" && break
  done
  rm -rf "$work/make-base" "$cache/minbase.tgz.new"
  [ -s "$cache/minbase.tgz" ] || fail "debootstrap of a minimal Debian $1 $arch (into the cache)"
}

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

# in_debian ROOT COMMAND...: runs COMMAND in the system at ROOT with a clean
# environment, within a limit (for a hang or a mirror gone silent).
in_debian() {
  local root=$1
  shift
  timeout 1200 chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    ${http_proxy:+http_proxy=$http_proxy} "$@"
}

# debian_bind FROM TO: FROM mounted at TO (made when missing) until
# debian_unmount_all, which callers run on exit, before removing anything.
debian_bind() {
  mkdir -p "$2" && mount --bind "$1" "$2" || fail "mounting $1 at $2"
  debian_mounted="$2 $debian_mounted"
}
debian_unmount_all() {
  local m
  for m in $debian_mounted; do umount -l "$m" 2>/dev/null; done
  debian_mounted=""
}

# debian_mount ROOT: /proc, /dev and the cache's package lists and packages
# mounted in the system at ROOT. apt's update drops the lists of
# architectures a system lacks, so one given foreign architectures (dpkg's
# arch file names them all) keeps its lists apart from the others'. Sets
# lists.
debian_mount() {
  lists=$cache/lists
  [ ! -s "$1/var/lib/dpkg/arch" ] || lists=$cache/lists-$(paste -sd- "$1/var/lib/dpkg/arch")
  mkdir -p "$lists/partial" || fail "cannot make $lists"
  mount -t proc proc "$1/proc" || fail "mounting /proc in $1"
  debian_mounted="$1/proc $debian_mounted"
  debian_bind /dev "$1/dev"
  debian_bind /dev/pts "$1/dev/pts"
  debian_bind "$lists" "$1/var/lib/apt/lists"
  debian_bind "$cache/archives" "$1/var/cache/apt/archives"
  printf 'Acquire::Retries "%s";\nAcquire::http::Timeout "30";\n' "$([ -n "$online" ] && echo 3 || echo 0)" \
    >"$1/etc/apt/apt.conf.d/80retries"
  # No translated package descriptions: nothing here reads them, and an
  # emulated system's apt-get update takes 10 s longer with them.
  echo 'Acquire::Languages "none";' >"$1/etc/apt/apt.conf.d/80languages"
}

# debian_update ROOT: online, apt's lists brought up to date and the system
# upgraded (only what changed since the cache was filled is fetched);
# offline, the cache's lists are used as they are.
debian_update() {
  if [ -n "$online" ]; then
    { in_debian "$1" apt-get update && in_debian "$1" env DEBIAN_FRONTEND=noninteractive apt-get upgrade -y; } \
      >"$log" 2>&1 || fail "apt-get update and upgrade in Debian $release"
  elif ! compgen -G "$lists/*_Packages*" >/dev/null; then
    case_dir=""
    fail "no package lists in the cache ($lists) and the mirror $debian_mirror cannot be reached"
  else
    echo "the mirror $debian_mirror cannot be reached: Debian $release from the cache"
  fi
}

# debian_unpack ROOT [FOREIGN-ARCH...]: a fresh minimal system from the
# cache at ROOT, given the foreign architectures, mounted and brought up to
# date. Another architecture's packages are configured through qemu, several
# times slower.
debian_unpack() {
  local root=$1 foreign
  shift
  debian_minbase
  timeout 1200 debootstrap --arch="$arch" --variant=minbase --unpack-tarball="$cache/minbase.tgz" "$suite" "$root" \
    "$debian_mirror" >"$log" 2>&1 || fail "debootstrap of a minimal Debian $release $arch from the cache ($cache/minbase.tgz)"
  for foreign in "$@"; do
    in_debian "$root" dpkg --add-architecture "$foreign" >"$log" 2>&1 || fail "dpkg --add-architecture $foreign"
  done
  debian_mount "$root"
  debian_update "$root"
}

# debian_install ROOT PACKAGE...: apt-get install without recommends.
debian_install() {
  local root=$1
  shift
  in_debian "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@" \
    >"$log" 2>&1 ||
    fail "apt-get install in Debian $release$([ -n "$online" ] || echo " (the mirror cannot be reached, and the cache lacks a package)"): $*"
  # Versions the mirror no longer has leave the cache.
  [ -z "$online" ] || in_debian "$root" apt-get autoclean >/dev/null 2>&1 || true
}

# debian_ready NAME PACKAGE...: a system kept ready in the cache, the
# minimal one with PACKAGEs (and what they depend on, no recommends): made
# the first time and again when the list changes, later only brought up to
# date. A PACKAGE:ARCH of another architecture adds that one to the system.
# Sets root to it, mounted. A run that uses it leaves it as it found it
# (what it adds goes below /tmp and is removed).
debian_ready() {
  local name=$1 foreign
  shift
  foreign=$(printf '%s\n' "$@" | awk -F: -v own="$arch" 'NF == 2 && $2 != own && !seen[$2]++ { print $2 }')
  root=$cache/$name
  if [ -d "$root" ] && [ "$(cat "$root.packages" 2>/dev/null)" = "$*" ]; then
    debian_mount "$root"
    # Brought up to date in the last hour (by debian_systems.sh, which
    # ./test.sh runs ahead of the checks): taken as it is.
    [ -z "$(find "$root.packages" -mmin -60 2>/dev/null)" ] || return 0
    debian_update "$root"
    debian_install "$root" "$@"  # brings back one that an upgrade removed
    touch "$root.packages"
  else
    # A stale one, or one whose making was cut short (no list written).
    rm -rf --one-file-system "$root" "$root.packages"
    debian_unpack "$root" $foreign
    debian_install "$root" "$@"
    echo "$*" >"$root.packages"
  fi
}

# debian_files NAME PACKAGE...: a system kept in the cache that holds the
# files of Debian's essential packages and of PACKAGEs, with what they
# depend on, unpacked by mmdebstrap and not configured, then given the
# linker's cache and base-passwd's users. No package's own scripts run, so
# another architecture's system is made in seconds instead of configured for
# minutes through qemu; finding and loading libraries and running programs,
# all that the archives' checks ask of a desktop, need nothing more. Made
# anew when the list changes, or when it is a day old and the mirror
# answers; without the mirror the one kept is used. Sets root, mounted.
debian_files() {
  local name=$1
  shift
  root=$cache/$name
  if [ ! -d "$root" ] || [ "$(cat "$root.packages" 2>/dev/null)" != "$*" ] ||
    { [ -n "$online" ] && [ -z "$(find "$root.packages" -mmin -1440 2>/dev/null)" ]; }; then
    [ -n "$online" ] || [ -d "$root" ] ||
      { case_dir=""; fail "no Debian $release $arch ($name) in the cache ($cache) and the mirror $debian_mirror cannot be reached"; }
    if [ -n "$online" ]; then
      rm -rf --one-file-system "$root.new"
      timeout 1200 mmdebstrap --variant=extract --architectures="$arch" --include='?essential' \
        --include="$(IFS=,; echo "$*")" "$suite" "$root.new" "$debian_mirror" >"$log" 2>&1 &&
        chroot "$root.new" /sbin/ldconfig >>"$log" 2>&1 &&
        cp "$root.new/usr/share/base-passwd/passwd.master" "$root.new/etc/passwd" &&
        cp "$root.new/usr/share/base-passwd/group.master" "$root.new/etc/group" ||
        fail "mmdebstrap of Debian $release $arch's files ($name)"
      rm -rf --one-file-system "$root" "$root.packages"
      mv "$root.new" "$root"
      echo "$*" >"$root.packages"
    fi
  fi
  debian_mount "$root"
}

# The two kinds of system kept ready, one list each, for their users and for
# debian_systems.sh alike. Both set root, mounted; debian_cache comes first.
# debian_ready_build: the Debian 11 the archives are built in, with the
# compilers, CMake and the development files of the libraries the program
# links, for both architectures whichever a build asks for, so that the
# system kept in the cache stays the same.
debian_ready_build() {
  local dev='libsdl2-dev libmpg123-dev libgl-dev libegl-dev libglu1-mesa-dev'
  debian_ready build-amd64-arm64 g++ crossbuild-essential-arm64 cmake ninja-build pkg-config dpkg-dev file \
    $dev $(printf '%s:arm64 ' $dev)
}
# debian_ready_desktop: what a desktop has for graphics and sound, and no
# more, as files (debian_files). Debian 13 renamed ALSA's library for its
# 64-bit time.
debian_ready_desktop() {
  local alsa=libasound2
  [ "$release" -lt 13 ] || alsa=libasound2t64
  debian_files desktop-files libgl1 libegl1 libgl1-mesa-dri libopengl0 libx11-6 libxext6 libxcursor1 libxinerama1 \
    libxi6 libxrandr2 libxss1 libxxf86vm1 libwayland-client0 libwayland-cursor0 libwayland-egl1 libxkbcommon0 \
    "$alsa" libpulse0
}
