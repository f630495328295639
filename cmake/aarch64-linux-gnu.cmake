# Cross-builds for 64-bit ARM Linux with Debian's cross-compiler
# (crossbuild-essential-arm64) against the arm64 development packages
# installed beside the host's (Debian's multiarch). Used by
# tools/release/linux_build.sh for the aarch64 archive.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries from /usr/lib/aarch64-linux-gnu, never the host's folder; the
# headers of both architectures share /usr/include.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)
