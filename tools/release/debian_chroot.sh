# Debian systems in chroots: the Debian 11 that builds the portable Linux
# archive (tools/release/linux_build.sh) and the fresh Debian 11, 12 and 13
# the releases are checked on (tests/release/fresh_install.sh,
# tests/release/linux_archive.sh). Sourced, as root, by scripts that define
# fail MESSAGE (shows the end of $case_dir/stderr.txt unless case_dir is
# empty, and ends the run) and work (a temporary folder); each step's output
# goes to $log, whose end a failure shows.
#
# What comes from the Debian mirror is kept outside the clone, in
# $TOLMAR_TEST_CACHE (default /var/cache/tolmar-tests), a folder per release
# (debian11, debian12, debian13): the minimal system as debootstrap's
# tarball, apt's package lists, the packages apt downloaded, and the systems
# kept ready there (debian_ready). The first run fetches the minimal system
# and the packages; later runs on the machine, from any clone, fetch only what
# changed on the mirror, and need no mirror at all when the cache holds
# everything (an unreachable mirror is then only noted). Without the cache
# and without the mirror the run fails with one line. Network steps have time
# limits. DEBIAN_MIRROR picks the mirror; http_proxy is passed to apt.

debian_mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
debian_mounted=""  # what debian_bind and debian_mount mounted, last first

# debian_cache RELEASE (11, 12 or 13): locks that release's cache for this
# run, as two clones may test at once (held on descriptor 9 until the run
# ends or the next debian_cache), asks the mirror once whether it answers,
# and fetches the minimal system into the cache when it has none. Sets
# release, suite, cache and online (yes, or empty when the mirror is away).
debian_cache() {
  release=$1
  case "$1" in
  11) suite=bullseye ;;
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) fail "debian_cache: no Debian release '$1'" ;;
  esac
  cache=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}/debian$1
  mkdir -p "$cache/archives/partial" "$cache/lists/partial" || fail "cannot make the cache $cache"
  exec 9>"$cache/lock"
  flock 9
  # One cheap request (the release file, about 50 kB).
  online=yes
  wget -q -T 20 -t 2 -O /dev/null "$debian_mirror/dists/$suite/InRelease" || online=""
  [ ! -s "$cache/minbase.tgz" ] || return 0
  [ -n "$online" ] ||
    { case_dir=""; fail "no Debian $1 in the cache ($cache) and the mirror $debian_mirror cannot be reached"; }
  # The mirror may drop a connection now and then: a second try, and apt's
  # own retries later.
  for _ in 1 2; do
    rm -rf "$work/make-base"
    timeout 1200 debootstrap --variant=minbase --make-tarball="$cache/minbase.tgz.new" "$suite" \
      "$work/make-base" "$debian_mirror" >"$log" 2>&1 && mv "$cache/minbase.tgz.new" "$cache/minbase.tgz" && break
  done
  rm -rf "$work/make-base" "$cache/minbase.tgz.new"
  [ -s "$cache/minbase.tgz" ] || fail "debootstrap of a minimal Debian $1 (into the cache)"
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
# mounted in the system at ROOT.
debian_mount() {
  mount -t proc proc "$1/proc" || fail "mounting /proc in $1"
  debian_mounted="$1/proc $debian_mounted"
  debian_bind /dev "$1/dev"
  debian_bind /dev/pts "$1/dev/pts"
  debian_bind "$cache/lists" "$1/var/lib/apt/lists"
  debian_bind "$cache/archives" "$1/var/cache/apt/archives"
  printf 'Acquire::Retries "%s";\nAcquire::http::Timeout "30";\n' "$([ -n "$online" ] && echo 3 || echo 0)" \
    >"$1/etc/apt/apt.conf.d/80retries"
}

# debian_update ROOT: online, apt's lists brought up to date and the system
# upgraded (only what changed since the cache was filled is fetched);
# offline, the cache's lists are used as they are.
debian_update() {
  if [ -n "$online" ]; then
    { in_debian "$1" apt-get update && in_debian "$1" env DEBIAN_FRONTEND=noninteractive apt-get upgrade -y; } \
      >"$log" 2>&1 || fail "apt-get update and upgrade in Debian $release"
  elif ! compgen -G "$cache/lists/*_Packages*" >/dev/null; then
    case_dir=""
    fail "no package lists in the cache ($cache) and the mirror $debian_mirror cannot be reached"
  else
    echo "the mirror $debian_mirror cannot be reached: Debian $release from the cache"
  fi
}

# debian_unpack ROOT: a fresh minimal system from the cache at ROOT, mounted
# and brought up to date.
debian_unpack() {
  timeout 600 debootstrap --variant=minbase --unpack-tarball="$cache/minbase.tgz" "$suite" "$1" "$debian_mirror" \
    >"$log" 2>&1 || fail "debootstrap of a minimal Debian $release from the cache ($cache/minbase.tgz)"
  debian_mount "$1"
  debian_update "$1"
}

# debian_install ROOT PACKAGE...: apt-get install without recommends.
debian_install() {
  local root=$1
  shift
  in_debian "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@" \
    >"$log" 2>&1 ||
    fail "apt-get install in Debian $release$([ -n "$online" ] || echo " (the mirror cannot be reached, and the cache lacks a package)"): $*"
  # Versions the mirror no longer has leave the cache.
  [ -z "$online" ] || in_debian "$root" apt-get autoclean >/dev/null 2>&1
}

# debian_ready NAME PACKAGE...: a system kept ready in the cache, the
# minimal one with PACKAGEs (and what they depend on, no recommends): made
# the first time and again when the list changes, later only brought up to
# date. Sets root to it, mounted. A run that uses it leaves it as it found
# it (what it adds goes below /tmp and is removed).
debian_ready() {
  local name=$1
  shift
  root=$cache/$name
  if [ -d "$root" ] && [ "$(cat "$root.packages" 2>/dev/null)" = "$*" ]; then
    debian_mount "$root"
    debian_update "$root"
    debian_install "$root" "$@"  # brings back one that an upgrade removed
  else
    # A stale one, or one whose making was cut short (no list written).
    rm -rf --one-file-system "$root" "$root.packages"
    debian_unpack "$root"
    debian_install "$root" "$@"
    echo "$*" >"$root.packages"
  fi
}
