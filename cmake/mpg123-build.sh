#!/usr/bin/env bash
# libmpg123 for the targets that have no Debian package of it: the Windows
# exe (mingw-w64) and the page (Emscripten). Built from Debian's own source
# package of the version the Linux build links (libmpg123-dev on this
# machine), so that every target decodes with the same code. Built once per
# version and target and kept in the cache beside the release checks' Debian
# systems ($TOLMAR_TEST_CACHE, default /var/cache/tolmar-tests; without root
# ~/.cache/tolmar), reproducibly: the same source, flags and dates give the
# same bytes.
# Usage: cmake/mpg123-build.sh windows|web
# Prints the installed prefix (include/, lib/, and for windows bin/ with the
# DLL) as its last line; the build's own output goes to stderr on failure.
set -euo pipefail
target=${1:-}
case "$target" in
windows) host=x86_64-w64-mingw32 ;;
web) host=i686-pc-linux-gnu ;;  # Emscripten's own configure host for 32-bit wasm
*) echo "usage: cmake/mpg123-build.sh windows|web" >&2; exit 2 ;;
esac
version=$(dpkg-query -W -f='${Version}' libmpg123-dev 2>/dev/null) ||
  { echo "mpg123 build: libmpg123-dev is not installed (tools/setup-debian.sh run)" >&2; exit 1; }
if [ "$(id -u)" -eq 0 ]; then
  top=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}
else
  top=${TOLMAR_TEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolmar}
fi
cache=$top/mpg123/$version
prefix=$cache/$target
# What makes one build differ from another; a change builds again.
flags="--host=$host --with-cpu=generic_fpu --with-audio=dummy --enable-modules=no --disable-dependency-tracking"
[ "$target" = web ] && flags="$flags --disable-shared --enable-static" || flags="$flags --enable-shared --disable-static"
recipe="$version $flags $(sha256sum "$0" | cut -c1-16)"
mkdir -p "$cache"
exec 8>"$cache/lock"
flock 8
if [ "$(cat "$prefix.recipe" 2>/dev/null)" = "$recipe" ] && [ -d "$prefix" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
fail() {
  echo "mpg123 build: $* (libmpg123 $version for $target)" >&2
  tail -n 30 "$log" >&2
  exit 1
}

# The source package, its files checked against the signed index (through a
# list of apt's of its own, so the machine's apt set-up stays as it is). The
# upstream tarball's signature is left out: not every mirror keeps it, and
# the index's hash already pins the tarball.
if ! compgen -G "$cache/source/mpg123_*.dsc" >/dev/null; then
  apt=$work/apt
  mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
  mkdir -p "$apt/lists/partial" "$cache/source.new"
  printf 'deb-src %s %s main\n' "$mirror" bookworm "$mirror" bookworm-updates \
    "$mirror-security" bookworm-security >"$apt/sources.list"
  opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt" -o "Acquire::Languages=none" -o "APT::Sandbox::User=root")
  apt-get "${opts[@]}" update >"$log" 2>&1 &&
    apt-get "${opts[@]}" source --print-uris "mpg123=$version" >"$work/uris" 2>>"$log" ||
    fail "cannot read Debian's index of source packages for mpg123 $version"
  while read -r uri name _ hash; do
    case "$name" in *.asc) continue ;; esac
    uri=${uri#\'} uri=${uri%\'}
    wget -q -T 30 -t 3 -O "$cache/source.new/$name" "$uri" >>"$log" 2>&1 || fail "cannot fetch $uri"
    [ "SHA256:$(sha256sum "$cache/source.new/$name" | cut -d' ' -f1)" = "$hash" ] ||
      fail "$name does not match the hash in Debian's index"
  done < <(grep "^'" "$work/uris")
  rm -rf "$cache/source"
  mv "$cache/source.new" "$cache/source"
fi

dsc=$(echo "$cache"/source/mpg123_*.dsc)
grep -v '\.asc$' "$dsc" >"$work/$(basename "$dsc")"
cp "$cache"/source/*.tar.* "$work/"
dpkg-source --no-check -x "$work/$(basename "$dsc")" "$work/src" >"$log" 2>&1 || fail "dpkg-source -x"
cd "$work/src"
# The encoder's info frame may claim up to 2^32 frames, and libmpg123 drops
# a claim above ULONG_MAX/4/1152: no claim at all where long has 64 bits
# (Linux), but 932067 frames where it has 32 (Windows, wasm32), so a damaged
# file decoded to other samples there. The bound as Linux has it, so that
# every target takes the same claims.
sed -i 's|^#define TRACK_MAX_FRAMES ULONG_MAX/4/1152$|#define TRACK_MAX_FRAMES 0xffffffffffffffffULL/4/1152|' src/libmpg123/parse.c
grep -q '^#define TRACK_MAX_FRAMES 0xffffffffffffffffULL/4/1152$' src/libmpg123/parse.c ||
  fail "src/libmpg123/parse.c no longer bounds the info frame's count as this script expects"
# Dates and paths that end up in the library come from the source, not the build.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -STimestamp)
export CFLAGS="-O2 -ffile-prefix-map=$work/src=. -fdebug-prefix-map=$work/src=."
export ZERO_AR_DATE=1 ARFLAGS=crD
# A DLL's header holds its link time unless told not to.
[ "$target" = web ] || export LDFLAGS="-Wl,--no-insert-timestamp"
rm -rf "$prefix.new"
mkdir -p "$prefix.new/include" "$prefix.new/lib"
# Only the decoding library: not the player, its output modules or the other
# libraries; nothing of this machine's own (pkg-config finds none).
export PKG_CONFIG_LIBDIR=/nonexistent
lib=src/libmpg123/libmpg123.la
install_lib() {
  ./libtool --mode=install install -c "$lib" "$prefix.new/lib" &&
    cp src/libmpg123/mpg123.h src/libmpg123/fmt123.h "$prefix.new/include/"
}
if [ "$target" = web ]; then
  # emcc's JavaScript parts find Debian's node modules only through NODE_PATH.
  export NODE_PATH=/usr/share/nodejs
  { emconfigure ./configure --prefix=/ $flags && emmake make -j"$(nproc)" "$lib" && install_lib; } >"$log" 2>&1 ||
    fail "the Emscripten build"
else
  { ./configure --prefix=/ $flags && make -j"$(nproc)" "$lib" && install_lib; } >"$log" 2>&1 ||
    fail "the mingw-w64 build"
fi
rm -f "$prefix.new"/lib/*.la
[ "$target" = web ] || "$host-strip" --strip-unneeded "$prefix.new"/bin/*.dll
cp debian/copyright "$prefix.new/COPYING.debian"
rm -rf "$prefix"
mv "$prefix.new" "$prefix"
echo "$recipe" >"$prefix.recipe"
echo "$prefix"
