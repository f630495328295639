#!/usr/bin/env bash
# The portable Linux archives' programs, built on Debian 11 (glibc 2.31) so
# they run there and on every newer system: in one Debian 11 (amd64) chroot
# kept ready in the cache (tools/release/debian_chroot.sh), with its own GCC
# 10 and CMake 3.18, from a copy of the source. aarch64 is cross-compiled
# there by Debian's GCC 10 for arm64 (cmake/aarch64-linux-gnu.cmake) against
# the arm64 development packages installed beside the amd64 ones: it gives
# the same program as a build in an emulated arm64 Debian 11 (docs/release.md
# has the comparison) in a tenth of the time. For each ARCH (uname -m's
# name: x86_64, aarch64) writes to OUT/ARCH:
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
# Usage: tools/release/linux_build.sh OUT ARCH...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: tools/release/linux_build.sh OUT ARCH...  (ARCH: x86_64, aarch64)" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$1
shift
[ "$(id -u)" -eq 0 ] || { echo "FAIL: building in a Debian 11 chroot needs root"; exit 1; }
work=$(mktemp -d)
case_dir=$work
log=$work/stderr.txt
. "$src/tools/release/debian_chroot.sh"
trap 'debian_unmount_all; rm -rf "$work" "${root:-/nonexistent}/tmp/tolmar"' EXIT
trap 'exit 1' INT TERM

# Debian's name of each architecture.
declare -A debian_arch=([x86_64]=amd64 [aarch64]=arm64)
for arch in "$@"; do
  [ -n "${debian_arch[$arch]:-}" ] || { echo "linux_build: no architecture '$arch' (x86_64, aarch64)" >&2; exit 2; }
done

debian_ready_build
echo "Debian 11 ready: $(in_debian "$root" g++ --version | head -n 1), $(in_debian "$root" cmake --version | head -n 1)"

# The program's sources only (no tools, no tests), copied in.
rm -rf "$root/tmp/tolmar"
mkdir -p "$root/tmp/tolmar/src"
cp -a "$src/CMakeLists.txt" "$src/VERSION" "$src/cmake" "$src/src" "$src/tests/support/event_log.c" \
  "$root/tmp/tolmar/src/"

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
SYSTEM='^(ld-linux-(x86-64|aarch64)|libc|libm|libdl|libpthread|librt|libstdc\+\+|libgcc_s)\.so
^lib(GL|GLX|EGL|OpenGL|gbm|drm|X[a-zA-Z0-9]*|xcb[a-z0-9-]*|wayland-[a-z]+|xkbcommon)\.so
^lib(asound|pulse|pulse-simple)\.so'
build=/tmp/tolmar/build

for arch in "$@"; do
  debarch=${debian_arch[$arch]}
  triplet=$arch-linux-gnu  # Debian's multiarch folder and tool prefix
  toolchain=""
  [ "$debarch" = amd64 ] || toolchain=-DCMAKE_TOOLCHAIN_FILE=/tmp/tolmar/src/cmake/$triplet.cmake
  # Debian's hardening flags for the architecture, as its packages have them.
  in_debian "$root" env DEB_HOST_ARCH="$debarch" TRIPLET="$triplet" TOOLCHAIN="$toolchain" sh -ec '
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
    export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
    export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
    rm -rf /tmp/tolmar/build /tmp/tolmar/checks
    cmake -S /tmp/tolmar/src -B /tmp/tolmar/build -G Ninja -DCMAKE_BUILD_TYPE=Release $TOOLCHAIN \
      -DTOLMAR_WERROR=ON -DTOLMAR_TESTS=OFF -DTOLMAR_TOOLS=OFF -DTOLMAR_CAPTURE=OFF
    cmake --build /tmp/tolmar/build --target tolmar
    $TRIPLET-strip --strip-unneeded /tmp/tolmar/build/tolmar /tmp/tolmar/build/src/audio/sdl/libaudio.so
    mkdir /tmp/tolmar/checks && cd /tmp/tolmar/checks
    $TRIPLET-gcc $CFLAGS -Wall -Wextra -shared -fPIC $($TRIPLET-pkg-config --cflags sdl2) -o libevent_log.so \
      ../src/event_log.c -lGL -ldl' >"$log" 2>&1 || fail "building tolmar for $arch in Debian 11"
  echo "built tolmar for $arch in Debian 11"

  # What the program, our library and the bundled ones link (readelf reads
  # any architecture's files).
  libs=$root/usr/lib/$triplet
  : >"$work/needed"
  for f in "$root$build/tolmar" "$root$build/src/audio/sdl/libaudio.so" $(awk -v d="$libs/" '{ print d $1 }' <<<"$BUNDLED"); do
    readelf -d "$f" >"$log" 2>&1 || fail "readelf -d $f"
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$log" >>"$work/needed"
  done
  needed=$(sort -u "$work/needed")
  unknown=$(grep -vx -e libaudio.so $(awk '{ printf " -e %s", $1 }' <<<"$BUNDLED") <<<"$needed" |
    grep -vE -f <(echo "$SYSTEM") || true)
  [ -z "$unknown" ] || { case_dir=""; fail "$arch: linked but neither bundled nor the system's own: $(echo $unknown) (decide in $0)"; }

  to=$out/$arch
  rm -rf "$to"
  mkdir -p "$to/lib" "$to/notices"
  cp -r "$root/tmp/tolmar/checks" "$to/"
  cp "$root$build/tolmar" "$to/"
  cp "$root$build/src/audio/sdl/libaudio.so" "$to/lib/"
  sources=$to/notices/SOURCES
  echo "Where the source of each library in lib/ is (besides libaudio.so, ours):" >"$sources"
  while read -r soname package; do
    grep -qx "$soname" <<<"$needed" || fail "nothing links $soname any more: take it out of BUNDLED in $0"
    # The file the soname names (a link to the versioned file in Debian).
    cp -L "$libs/$soname" "$to/lib/$soname"
    cp -L "$root/usr/share/doc/$package/copyright" "$to/notices/$package"
    in_debian "$root" dpkg-query -W -f="
\${Package}:\${Architecture} \${Version} ($soname), built from the Debian source package \${source:Package} \${source:Version}:
  apt-get source \${source:Package}=\${source:Version}  (Debian 11, bullseye)
  upstream: \${Homepage}
" "$package:$debarch" 2>"$log" | sed '/^  upstream: $/d' >>"$sources" || fail "dpkg-query $package:$debarch"
  done <<<"$BUNDLED"
  # libmpg123's licence, which its copyright file names.
  cp "$root/usr/share/common-licenses/LGPL-2.1" "$to/notices/"
  echo "$arch lib/: libaudio.so $(awk '{ printf "%s ", $1 }' <<<"$BUNDLED")"
done
