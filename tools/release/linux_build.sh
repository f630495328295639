#!/usr/bin/env bash
# The portable Linux archive's program, built on Debian 11 (glibc 2.31) so
# it runs there and on every newer system: in a Debian 11 chroot kept ready
# in the cache (tools/release/debian_chroot.sh), with its own GCC 10 and
# CMake 3.18, from a copy of the source. Writes to OUT:
#   tolmar                 the program (stripped)
#   lib/                   our audio library and the libraries the archive
#                          carries (BUNDLED below), as Debian 11 has them
#   notices/               their copyright files and SOURCES (where the
#                          source of each bundled library is)
#   checks/libevent_log.so the event log the release checks preload into
#                          the program (tests/support/event_log.c), built
#                          here so it loads where the program does. SDL's
#                          symbols are left to the program's SDL, found
#                          when called: the launcher's shell, which
#                          inherits the preload too, has no SDL to link
# Fails when the program loads a library that is neither bundled nor the
# system's own (SYSTEM below): a new dependency is then decided here, not
# found missing on a user's desktop. Needs root (debootstrap, chroot).
# Usage: tools/release/linux_build.sh OUT
set -uo pipefail
[ $# -eq 1 ] || { echo "usage: tools/release/linux_build.sh OUT" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$1
[ "$(id -u)" -eq 0 ] || { echo "FAIL: building in a Debian 11 chroot needs root"; exit 1; }
work=$(mktemp -d)
case_dir=$work
log=$work/stderr.txt
fail() {
  echo "FAIL: $*"
  [ -z "$case_dir" ] || tail -n 40 "$case_dir/stderr.txt"
  exit 1
}
. "$src/tools/release/debian_chroot.sh"
trap 'debian_unmount_all; rm -rf "$work" "${root:-/nonexistent}/tmp/tolmar"' EXIT
trap 'exit 1' INT TERM

# What the build needs: the compiler, CMake, and the development files of
# the libraries the program links.
debian_cache 11
debian_ready build g++ cmake ninja-build pkg-config dpkg-dev file libsdl2-dev libmpg123-dev \
  libgl-dev libegl-dev libglu1-mesa-dev
echo "Debian 11 ready: $(in_debian "$root" g++ --version | head -n 1), $(in_debian "$root" cmake --version | head -n 1)"

# The program's sources only (no tools, no tests), copied in.
rm -rf "$root/tmp/tolmar"
mkdir -p "$root/tmp/tolmar/src"
cp -a "$src/CMakeLists.txt" "$src/VERSION" "$src/cmake" "$src/src" "$src/tests/support/event_log.c" \
  "$root/tmp/tolmar/src/"
# Debian's hardening flags, as the .deb has them.
in_debian "$root" sh -c 'export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
  cmake -S /tmp/tolmar/src -B /tmp/tolmar/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTOLMAR_TESTS=OFF -DTOLMAR_TOOLS=OFF -DTOLMAR_CAPTURE=OFF &&
  cmake --build /tmp/tolmar/build --target tolmar &&
  mkdir /tmp/tolmar/checks && cd /tmp/tolmar/checks &&
  gcc $CFLAGS -Wall -Wextra -Werror -shared -fPIC $(pkg-config --cflags sdl2) -o libevent_log.so \
    ../src/event_log.c -lGL -ldl' >"$log" 2>&1 || fail "building tolmar in Debian 11"
echo "built tolmar in Debian 11"

# The libraries the archive carries: SDL2 and libmpg123 in the versions the
# program was built against, and GLU, which a desktop with OpenGL often
# lacks and which does not depend on the graphics driver. Each with its
# Debian package, whose copyright file is its notice.
BUNDLED='libSDL2-2.0.so.0  libsdl2-2.0-0
libmpg123.so.0     libmpg123-0
libGLU.so.1        libglu1-mesa'
# The system's own, never carried: glibc, GCC's runtime, OpenGL and Mesa,
# the X11 and Wayland clients and the sound servers' clients (they must
# match the user's drivers and servers). What these load in turn is the
# system's business.
SYSTEM='^(ld-linux-x86-64|libc|libm|libdl|libpthread|librt|libstdc\+\+|libgcc_s)\.so
^lib(GL|GLX|EGL|OpenGL|gbm|drm|X[a-zA-Z0-9]*|xcb[a-z0-9-]*|wayland-[a-z]+|xkbcommon)\.so
^lib(asound|pulse|pulse-simple)\.so'

# What the program, our library and the bundled ones link, each name
# resolved in Debian 11 (ldd, which also shows one missing).
build=/tmp/tolmar/build
in_debian "$root" env LD_LIBRARY_PATH=$build/src/audio/sdl ldd $build/tolmar $build/src/audio/sdl/libaudio.so \
  >"$log" 2>&1 || fail "ldd of the program in Debian 11"
! grep -q 'not found' "$log" || fail "libraries not found in Debian 11: $(grep 'not found' "$log")"
needed=$(for f in "$root$build/tolmar" "$root$build/src/audio/sdl/libaudio.so" \
  $(awk -v r="$root/usr/lib/x86_64-linux-gnu/" '{ print r $1 }' <<<"$BUNDLED"); do
  readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
done | sort -u)
unknown=$(grep -vx -e libaudio.so $(awk '{ printf " -e %s", $1 }' <<<"$BUNDLED") <<<"$needed" |
  grep -vE -f <(echo "$SYSTEM") || true)
[ -z "$unknown" ] || { case_dir=""; fail "linked but neither bundled nor the system's own: $(echo $unknown) (decide in $0)"; }

rm -rf "$out"
mkdir -p "$out/lib" "$out/notices"
cp -r "$root/tmp/tolmar/checks" "$out/"
cp "$root$build/tolmar" "$out/"
cp "$root$build/src/audio/sdl/libaudio.so" "$out/lib/"
strip --strip-unneeded "$out/tolmar" "$out/lib/libaudio.so"
sources=$out/notices/SOURCES
echo "Where the source of each library in lib/ is (besides libaudio.so, ours):" >"$sources"
while read -r soname package; do
  grep -qx "$soname" <<<"$needed" || fail "nothing links $soname any more: take it out of BUNDLED in $0"
  # The file the soname names (a link to the versioned file in Debian).
  cp -L "$root/usr/lib/x86_64-linux-gnu/$soname" "$out/lib/$soname" || fail "copying $soname from Debian 11"
  cp -L "$root/usr/share/doc/$package/copyright" "$out/notices/$package" || fail "the copyright file of $package"
  in_debian "$root" dpkg-query -W -f="
\${Package} \${Version} ($soname), built from the Debian source package \${source:Package} \${source:Version}:
  apt-get source \${source:Package}=\${source:Version}  (Debian 11, bullseye)
  upstream: \${Homepage}
" "$package" 2>"$log" | sed '/^  upstream: $/d' >>"$sources" || fail "dpkg-query $package"
done <<<"$BUNDLED"
# libmpg123's licence, which its copyright file names.
cp "$root/usr/share/common-licenses/LGPL-2.1" "$out/notices/" || fail "Debian 11's LGPL-2.1"
echo "lib/: libaudio.so $(awk '{ printf "%s ", $1 }' <<<"$BUNDLED")"
