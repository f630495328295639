# Debian systems in chroots: the Debian 11 that builds the portable Linux
# archives (tools/release/linux_build.sh) and the fresh Debian 11, 12 and 13
# the releases are checked on (tests/release/fresh_install.sh, and the
# desktops of tests/release/desktop_lib.sh), amd64 or arm64; all of them made
# ahead by tests/release/debian_systems.sh. Sourced, as root, by scripts that
# set work (a temporary folder), log and case_dir; each step's output goes to
# $log, whose end a failure shows. A script may define its own fail MESSAGE;
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
# limits. DEBIAN_MIRROR picks the mirror, DEBIAN_SECURITY_MIRROR the one of the
# security updates; http_proxy is passed to apt.

debian_mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
debian_security_mirror=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

# fail MESSAGE: says what failed and the end of $case_dir/stderr.txt (unless
# case_dir is empty), and ends the run.
declare -F fail >/dev/null || fail() {
  echo "FAIL: $*"
  [ -z "$case_dir" ] || tail -n 40 "$case_dir/stderr.txt"
  exit 1
}
debian_mounted=""  # what debian_bind and debian_mount mounted, last first

# debian_cache RELEASE [ARCH]: RELEASE 11, 12 or 13, ARCH Debian's name
# (amd64, the default, or arm64, whose programs run through qemu, registered
# first: debian_emulate in tests/release/desktop_lib.sh). Locks that
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
  [ "$arch" = amd64 ] || cache=$cache-$arch
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
    { case_dir=""; fail "no Debian $release in the cache ($cache) and the mirror $debian_mirror cannot be reached"; }
  # The mirror may drop a connection or refuse for a while now and then
  # (debootstrap has no retries of its own): four tries, 10, 30 and 60 s
  # apart, and apt's own retries later.
  local pause
  for pause in 10 30 60 0; do
    rm -rf "$work/make-base"
    timeout 1200 debootstrap --arch="$arch" --variant=minbase --make-tarball="$cache/minbase.tgz.new" "$suite" \
      "$work/make-base" "$debian_mirror" >"$log" 2>&1 && mv "$cache/minbase.tgz.new" "$cache/minbase.tgz" && break
    sleep "$pause"
  done
  rm -rf "$work/make-base" "$cache/minbase.tgz.new"
  [ -s "$cache/minbase.tgz" ] || fail "debootstrap of a minimal Debian $release $arch (into the cache)"
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
  # The release's updates and security suites too, as a user's system has
  # them: a package built on an up-to-date system may need their versions.
  # Not for Debian 11, whose security support has ended: the mirror no
  # longer has all of its security updates (arm64's are gone).
  {
    echo "deb $debian_mirror $suite main"
    [ "$release" -lt 12 ] ||
      printf 'deb %s %s main\n' "$debian_mirror" "$suite-updates" "$debian_security_mirror" "$suite-security"
  } >"$1/etc/apt/sources.list"
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
  local try
  # A cached minimal system that does not unpack (a package in it cut
  # short) is fetched again, once.
  for try in 1 2; do
    debian_minbase
    timeout 1200 debootstrap --arch="$arch" --variant=minbase --unpack-tarball="$cache/minbase.tgz" "$suite" "$root" \
      "$debian_mirror" >"$log" 2>&1 && break
    [ "$try" = 1 ] && [ -n "$online" ] ||
      fail "debootstrap of a minimal Debian $release $arch from the cache ($cache/minbase.tgz)"
    rm -rf --one-file-system "$root" "$cache/minbase.tgz"
  done
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

# debian_ready_build: the Debian 11 the archives are built in, with the
# compilers, CMake and the development files of the libraries the program
# links, for both architectures whichever a build asks for, so that the
# system kept in the cache stays the same. Sets root, mounted.
debian_ready_build() {
  local dev='libsdl2-dev libmpg123-dev libgl-dev libegl-dev libglu1-mesa-dev'
  debian_cache 11
  debian_ready build-amd64-arm64 g++ crossbuild-essential-arm64 cmake ninja-build pkg-config dpkg-dev file \
    $dev $(printf '%s:arm64 ' $dev)
}

# debian_ready_check RELEASE: a Debian RELEASE (amd64) with the check set of
# tools/packages (everything built with the capture tool, and what the
# default build's tests start), where tests/release/debian_quick.sh builds
# and tests the project as a developer on that release would. Sets root,
# mounted. Holds the system's own lock as well as the release's, from
# before the system is brought up to date, so that a caller that only
# builds and tests there may let the release go (debian_leave_release).
debian_ready_check() {
  debian_cache "$1"
  exec 8>"$cache/check.lock"
  flock 8
  debian_ready check $(bash "$(dirname "${BASH_SOURCE[0]}")/../setup-debian.sh" --list check)
}
# debian_leave_release: the release's lock given up (its package lists and
# packages, its other systems free for the checks beside), the system's
# kept. Nothing started before it may still run.
debian_leave_release() { exec 9>&-; }

# debian_tree SRC: a copy of the working tree at SRC (its tracked and
# untracked files, not the ignored ones: what a commit of it would hold)
# at /tmp/tolmar in the system at $root, and the release's compiled
# objects (ccache, kept in its cache folder) at /tmp/ccache, so that a
# second build there compiles only what changed. Sets tree, which the
# caller removes at exit after debian_unmount_all.
debian_tree() {
  tree=$root/tmp/tolmar
  rm -rf "$tree"
  mkdir -p "$tree" "$cache/ccache"
  (cd "$1" && git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$tree" ||
    fail "copying the working tree into Debian $release"
  debian_bind "$cache/ccache" "$root/tmp/ccache"
}
# in_tree SCRIPT: runs the shell SCRIPT in that copy, compiling through ccache.
in_tree() {
  in_debian "$root" env CCACHE_DIR=/tmp/ccache CCACHE_BASEDIR=/tmp/tolmar CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=1G \
    sh -c "cd /tmp/tolmar && $1"
}
