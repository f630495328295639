#!/usr/bin/env bash
# Cuts a release: builds everything from scratch in build-release/ and
# writes what a release page offers into dist/:
#   tolmar_VERSION_amd64.deb      the Debian package of the piece and
#                                 picture-fit, for Debian 12 and 13 (cpack)
#   tolmar-capture_VERSION+deb12_amd64.deb  tolmar-capture's, one per
#   tolmar-capture_VERSION+deb13_amd64.deb  release (the other one built in
#                                 a Debian system of that release; root)
#   tolmar-VERSION-linux-x86_64.tar.gz  the portable Linux archives, for
#   tolmar-VERSION-linux-aarch64.tar.gz x86-64 and 64-bit ARM: the program
#                                 built on Debian 11 (in a chroot kept in
#                                 /var/cache/tolmar-tests; needs root), its
#                                 launcher, music, libraries
#   tolmar-VERSION-windows.zip    tolmar.exe, tolmar.mp3, README.txt, licences
#   tolmar-VERSION-web.zip        the web build and its tolmar.mp3, licences
#   tolmar-VERSION-libmpg123-source.tar.gz  the source of the libmpg123 the
#                                 exe and the page carry, as built
#   SHA256SUMS                    for sha256sum -c, over every file of dist/
# VERSION is the file VERSION. One soundtrack, composed once, goes into the
# piece's package and every archive. Refuses a checkout with uncommitted
# changes (a release must be rebuildable from its commit) unless
# --allow-dirty is given. The packages must pass lintian without errors or
# warnings. The files are made in
# build-release/dist and replace dist/ whole once every step has passed: a
# failed step leaves the last release as it was. Installs the packages it
# needs first (the release set, which brings those of every build).
# Usage: tools/release.sh [--allow-dirty]
# Exit status: 0 written, 1 a step failed (its output is shown), 2 bad use.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

allow_dirty=no
for arg in "$@"; do
  case "$arg" in
  --allow-dirty) allow_dirty=yes ;;
  -h | --help)
    sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "release: unknown argument '$arg' (usage: tools/release.sh [--allow-dirty])" >&2
    exit 2
    ;;
  esac
done

version=$(head -n 1 VERSION)
if ! [[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "release: VERSION holds '$version'; it must be MAJOR.MINOR.PATCH" >&2
  exit 2
fi
if [ -e .git ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  if [ "$allow_dirty" = no ]; then
    echo "release: the checkout has uncommitted changes; commit them, or pass --allow-dirty" >&2
    exit 2
  fi
  echo "release: building with uncommitted changes (--allow-dirty)"
fi

bash tools/setup-debian.sh release

# Dates inside the package and the archives come from the commit, so the
# same commit gives the same files.
if [ -e .git ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
else
  SOURCE_DATE_EPOCH=$(date +%s)
fi
export SOURCE_DATE_EPOCH

out=$root/build-release
dist=$out/dist  # staged here, moved to $root/dist at the end
rm -rf "$out"
mkdir -p "$out" "$dist"
log=$out/step.log

# Runs a step quietly; on failure shows the end of what it printed.
step() {
  local what=$1 start=$SECONDS
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "release: FAILED: $what" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  echo "release: $what ($((SECONDS - start)) s)"
}

# --- Linux: the Debian package ------------------------------------------------
# The Debian release this machine runs, which the capture tool's package is
# built for here.
debian_release=$(. /etc/os-release && echo "$VERSION_ID")
case "$debian_release" in
12 | 13) ;;
*) echo "release: the Debian packages are built on Debian 12 or 13, not '$debian_release'" >&2; exit 2 ;;
esac
# Debian's own hardening flags (PIE, full RELRO, stack protector, fortified
# calls), as a package built by Debian would have them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CFLAGS CXXFLAGS LDFLAGS
# A compiler launcher, when one is named (the test command names ccache, so
# a second release from any clone compiles only what changed).
launcher=()
[ -z "${TOLMAR_LAUNCHER:-}" ] ||
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$TOLMAR_LAUNCHER" -DCMAKE_CXX_COMPILER_LAUNCHER="$TOLMAR_LAUNCHER")
step "Linux build (Release, with the tools and the package's files)" \
  cmake -S . -B "$out/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLMAR_TESTS=OFF \
  -DTOLMAR_CAPTURE=ON -DTOLMAR_PACKAGE=ON "${launcher[@]}"
step "Linux build: compiling and composing the soundtrack" cmake --build "$out/linux"
unset CFLAGS CXXFLAGS LDFLAGS
# The piece's package, which serves Debian 12 and 13 alike, so is built on
# 12 (a Debian 12 system when this machine runs 13), and the capture tool's
# for this machine's release; the capture tool's for the other release is
# built in a system of that release (tools/release/capture_deb.sh).
soundtrack=$out/linux/package/tolmar.mp3
if [ "$debian_release" = 12 ]; then
  here="tolmar, tolmar-capture" components="piece capture" elsewhere=()
else
  here=tolmar-capture components=capture elsewhere=("$soundtrack")
fi
step "Debian packages (cpack): $here for Debian $debian_release" \
  bash -c "cd '$out/linux' && for c in $components; do cpack -G DEB -D CPACK_COMPONENTS_ALL=\$c || exit; done &&
    mv tolmar*_amd64.deb '$dist/'"
for other in 12 13; do
  [ "$other" = "$debian_release" ] ||
    step "tolmar-capture${elsewhere:+ and tolmar} for Debian $other (built in a Debian $other system)" \
      bash tools/release/capture_deb.sh "$other" "$dist" "${elsewhere[@]}"
done

step "lintian" lintian --fail-on error,warning "$dist/"*.deb

# Zips of a folder named like the zip, with every file dated from the commit
# and no extra attributes, so the same commit gives the same zip.
zip_folder() {  # FOLDER (inside $out/zip)
  find "$out/zip/$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$out/zip" && TZ=UTC zip -q -X -r "$dist/$1.zip" "$1")
}
# The same for a .tar.gz: names sorted, owner root, modes without group or
# other write, no gzip name or time.
tar_folder() {  # FOLDER (inside $out/zip)
  (cd "$out/zip" && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode=go-w --format=gnu -cf - "$1" | gzip -9n >"$dist/$1.tar.gz")
}
# A text for the zip, with the version (and an archive's processor, $arch)
# filled in.
readme() {  # SOURCE DEST
  sed -e "s/@VERSION@/$version/g; s/@ARCH@/${arch:-}/g" "$1" >"$2"
}

# Our licence and the notices of what a zip's program carries of others
# (linked statically), each under its own terms: LICENSE.txt and LICENSES/
# in the zip's folder. The notices are the copyright files of the very
# Debian packages that built the program, so they match the toolchain's
# version and change only when it does, as the program's bytes do.
notices() {  # FOLDER (inside $out/zip) FILE...
  local to=$out/zip/$1 f
  shift
  mkdir -p "$to/LICENSES"
  cp LICENSE "$to/LICENSE.txt"
  for f in "$@"; do cp "$f" "$to/LICENSES/$(basename "${f%/copyright}" .txt).txt"; done
}

# --- Linux: the portable archives ----------------------------------------------
# Built on Debian 11 (glibc 2.31), so they run there and on everything newer
# (docs/release.md), one per processor, named as uname -m names it. The
# program, its audio library and the libraries a desktop may lack go into
# lib/, found through the launcher, which is the package's with the
# archive's layout filled in.
step "Linux archives build, x86_64 and aarch64 (Debian 11 chroot)" \
  bash tools/release/linux_build.sh "$out/linux-archive" x86_64 aarch64
for arch in x86_64 aarch64; do
  linux=tolmar-$version-linux-$arch
  mkdir -p "$out/zip/$linux/lib"
  cp "$out/linux-archive/$arch/tolmar" "$out/linux-archive/$arch/lib/"* "$out/zip/$linux/lib/"
  cp "$soundtrack" "$out/zip/$linux/tolmar.mp3"
  sed -e "s|@TOLMAR_PROGRAM@|lib/tolmar|; s|@TOLMAR_SOUNDTRACK_DIR@|.|; s|@TOLMAR_PRIVATE_LIBS@|lib|" \
    -e "s|@TOLMAR_MANUAL@|README.txt|; s|@PROJECT_VERSION@|$version|" tools/release/tolmar.sh.in >"$out/zip/$linux/tolmar"
  chmod 755 "$out/zip/$linux/tolmar" "$out/zip/$linux/lib/tolmar"
  chmod 644 "$out/zip/$linux/lib/"*.so*
  readme tools/release/README-linux.txt "$out/zip/$linux/README.txt"
  # SDL2 (zlib), libmpg123 (LGPL-2.1) and GLU (SGI Free B): the copyright
  # files of the Debian 11 packages they came from, and where their source is.
  notices "$linux" "$out/linux-archive/$arch/notices/"*
  tar_folder "$linux"
done

# --- Windows: tolmar.exe with its music -----------------------------------------
step "Windows build (mingw-w64)" \
  bash -c 'cmake --preset windows -B "$0" "${@}" && cmake --build "$0"' "$out/windows" "${launcher[@]}"
win=tolmar-$version-windows
mkdir -p "$out/zip/$win"
cp "$out/windows/tolmar.exe" "$out/windows/libmpg123-0.dll" "$soundtrack" "$out/zip/$win/"
readme tools/release/README-windows.txt "$out/zip/$win/README.txt"
# libmpg123 (LGPL-2.1), the DLL beside the exe, which a user may replace:
# the copyright file of the Debian source package it was built from (its
# binary package's name, as the Linux archives have it), and where that
# source and our one change to it are.
mpg123=$(bash cmake/mpg123-build.sh windows | tail -n 1)
mpg123_version=$(basename "$(dirname "$mpg123")")
mkdir -p "$out/windows-notices"
cp "$mpg123/COPYING.debian" "$out/windows-notices/libmpg123-0"
sed -e "s/@MPG123_CARRIER@/libmpg123-0.dll/; s/@MPG123_HOW@/the DLL beside tolmar.exe/" \
  -e "s/@MPG123_VERSION@/$mpg123_version/g; s/@VERSION@/$version/; s/@MPG123_PRESET@/windows/" \
  tools/release/libmpg123-sources.txt.in >"$out/windows-notices/SOURCES"
# -static-libgcc -static-libstdc++ -static (cmake/mingw-w64.cmake): GCC's
# runtime (GPL-3 with the GCC Runtime Library Exception), the mingw-w64
# runtime and winpthreads.
notices "$win" /usr/share/doc/mingw-w64-common/copyright \
  /usr/share/doc/gcc-mingw-w64-base/copyright /usr/share/common-licenses/GPL-3 \
  "$out/windows-notices/"* /usr/share/common-licenses/LGPL-2.1
# Every text in CRLF, for Windows readers.
sed -i 's/$/\r/' "$out/zip/$win/README.txt" "$out/zip/$win/LICENSE.txt" "$out/zip/$win/LICENSES/"*
zip_folder "$win"

# --- Web: the page, the program and its music ----------------------------------
# The soundtrack is put in place first, so the web build plays it as it is
# rather than composing its own.
mkdir -p "$out/web"
cp "$soundtrack" "$out/web/tolmar.mp3"
step "web build (Emscripten)" bash -c "cmake --preset web -B '$out/web' && cmake --build '$out/web'"
web=tolmar-$version-web
mkdir -p "$out/zip/$web"
# tolmar.html, the one-file page, beside the served files.
for f in index.html tolmar.js tolmar.wasm tolmar.mp3 tolmar.html; do cp "$out/web/$f" "$out/zip/$web/"; done
readme tools/release/README-web.txt "$out/zip/$web/README.txt"
# Linked by emcc: Emscripten's runtime (its JavaScript, musl, libc++ and
# libc++abi; Apache-2.0 is named there by reference); and libmpg123, whose
# notice, licence and sources the build gathers in notices/ (cmake/web.cmake).
notices "$web" /usr/share/doc/emscripten/copyright /usr/share/common-licenses/Apache-2.0 \
  "$out/web/notices/"*
zip_folder "$web"

# libmpg123's source as the exe and the page were built from it, patched,
# which their SOURCES.txt name: the licence's offer of the source does not
# depend on a mirror keeping that version.
mpg123_source=$(bash cmake/mpg123-build.sh source | tail -n 1)
cp "$mpg123_source" "$dist/tolmar-$version-libmpg123-source.tar.gz"

(cd "$dist" && sha256sum -- * >SHA256SUMS)
# Every step passed: the new release replaces the last one by renames on one
# file system, so dist/ is never half old, half new.
rm -rf "$root/dist.old"
if [ -e "$root/dist" ]; then mv "$root/dist" "$root/dist.old"; fi
mv "$dist" "$root/dist"
rm -rf "$root/dist.old"
dist=$root/dist
echo "release: tolmar $version in dist/:"
(cd "$dist" && ls -l --time-style=+ -- * | awk '{ printf "  %-34s %9d bytes\n", $NF, $5 }')
