#!/usr/bin/env bash
# libmpg123 for the targets that have no Debian package of it: the Windows
# exe (mingw-w64) and the page (Emscripten). Built from the Debian source
# package pinned in cmake/mpg123-source.sha256 (its version and each file's
# SHA-256), whatever release and packages this machine has, with the one
# change of cmake/mpg123-frame-count.patch. The source is fetched once from
# the Debian archive's pool (the main mirror, then the security one) and
# verified; every build is kept too, once per version and target, so that
# with both in the cache nothing is fetched. The cache is the one of the
# release checks' Debian systems ($TOLMAR_TEST_CACHE, default
# /var/cache/tolmar-tests; without root ~/.cache/tolmar). Reproducible: the
# same source, flags and dates give the same bytes.
# Usage: cmake/mpg123-build.sh windows|web|source
# Prints the installed prefix (include/, lib/, and for windows bin/ with the
# DLL) as its last line; with source, the patched source as a .tar.gz (a
# folder mpg123-VERSION, what the builds compile, with the patch beside it),
# which a release carries for libmpg123's licence. The build's own output
# goes to stderr on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
target=${1:-}
case "$target" in
windows) host=x86_64-w64-mingw32 ;;
web) host=i686-pc-linux-gnu ;;  # Emscripten's own configure host for 32-bit wasm
source) host="" ;;
*) echo "usage: cmake/mpg123-build.sh windows|web|source" >&2; exit 2 ;;
esac
pins=$here/mpg123-source.sha256
patch_file=$here/mpg123-frame-count.patch
files=$(awk '!/^#/ && NF == 2 { print $2 }' "$pins")
version=$(grep '\.dsc$' <<<"$files")
version=${version#mpg123_}
version=${version%.dsc}
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
[ "$target" = source ] && flags="" && prefix=$cache/mpg123-$version.tar.gz
recipe="$version $flags $(cat "$0" "$pins" "$patch_file" | sha256sum | cut -c1-16)"
mkdir -p "$cache"
exec 8>"$cache/lock"
flock 8
if [ "$(cat "$prefix.recipe" 2>/dev/null)" = "$recipe" ] && [ -e "$prefix" ]; then
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

# The source package's files, fetched once (their signature is left out:
# the pinned hashes say more than a key would).
verified() { (cd "$1" && grep -v '^#' "$pins" | sha256sum --check --strict --quiet) >>"$log" 2>&1; }
if ! verified "$cache/source"; then
  rm -rf "$cache/source.new"
  mkdir -p "$cache/source.new"
  mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
  security=${DEBIAN_SECURITY_MIRROR:-http://security.debian.org/debian-security}
  for name in $files; do
    for uri in "$mirror/pool/main/m/mpg123/$name" "$security/pool/updates/main/m/mpg123/$name" ""; do
      [ -n "$uri" ] || fail "cannot fetch $name from $mirror or $security"
      wget -q -T 30 -t 3 -O "$cache/source.new/$name" "$uri" >>"$log" 2>&1 && break
    done
  done
  verified "$cache/source.new" || fail "the fetched files do not match cmake/mpg123-source.sha256"
  rm -rf "$cache/source"
  mv "$cache/source.new" "$cache/source"
fi

dsc=mpg123_$version.dsc
grep -v '\.asc$' "$cache/source/$dsc" >"$work/$dsc"
for name in $files; do [ "$name" = "$dsc" ] || cp "$cache/source/$name" "$work/"; done
dpkg-source --no-check -x "$work/$dsc" "$work/src" >"$log" 2>&1 || fail "dpkg-source -x"
cd "$work/src"
rm -rf .pc  # quilt's record of Debian's own patches, applied above
patch -p1 --no-backup-if-mismatch <"$patch_file" >>"$log" 2>&1 || fail "cmake/mpg123-frame-count.patch does not apply"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -STimestamp)
if [ "$target" = source ]; then
  # What the builds compile, in a folder of its own, with the patch beside
  # it; names, owners and dates fixed, so the same source gives the same file.
  cp "$patch_file" "$work/src/tolmar-frame-count.patch"
  mv "$work/src" "$work/mpg123-$version"
  (cd "$work" && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode=go-w --format=gnu -cf - "mpg123-$version" | gzip -9n >"$prefix.new") || fail "packing the source"
  mv "$prefix.new" "$prefix"
  echo "$recipe" >"$prefix.recipe"
  echo "$prefix"
  exit 0
fi
# Dates and paths that end up in the library come from the source, not the build.
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
