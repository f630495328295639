#!/usr/bin/env bash
# A package set (tools/packages/SET.txt, with the sets it builds on) is
# enough to build what it is for: every file outside the source and build
# folders that building TARGET... read (the headers each object was
# compiled from, the libraries on their link lines, the compilers, CMake
# and Ninja themselves) belongs to a package of the set, to one of their
# dependencies, or to a package every Debian system has. A file no package
# owns (a header from /usr/local, a library copied in by hand) fails the
# check: the set cannot be what brought it. The CMake and pkg-config files
# found at configure time come with the same -dev packages. Installs
# nothing: it reads the build's records and dpkg's and apt's. Before that
# it shows it can fail: a file no package owns, put through the same
# classification, must be reported.
# Usage: set_build_test.sh SET BUILD_DIR SOURCE_DIR TARGET...
set -uo pipefail
source "$(dirname "$0")/../support/script_lib.sh"
source "$(dirname "$0")/../support/dpkg_lib.sh"
[ $# -ge 4 ] || die "usage: set_build_test.sh SET BUILD_DIR SOURCE_DIR TARGET..."
set_name=$1
build=$(cd "$2" && pwd) || die "no build folder $2"
root=$(cd "$3" && pwd) || die "no source folder $3"
shift 3
targets=("$@")
cd "$build"

# The system files of FILE... (on standard input) that no package owns, one
# a line: each is asked for under all its paths, all in one query; files of
# the project itself (the source and build folders) are left out.
# So are those of libmpg123 where the build made it from Debian's source
# package with the set's own compilers (cmake/Mpg123.cmake).
mpg123=$(sed -n 's/^TOLMAR_MPG123_PREFIX:INTERNAL=//p' CMakeCache.txt)
unowned_files() {
  local f
  while read -r f; do
    case "$f" in "$root"/* | "$build"/* | ${mpg123:-/nonexistent}/*) ;; *) echo "$f $f" ;; esac
  done | sort -u >"$work/asked"
  comm -13 <(owners_of <"$work/asked" | cut -d' ' -f1 | sort -u) <(cut -d' ' -f1 "$work/asked" | sort -u)
}

# The check must be able to fail: a file of no package is reported.
probe=$(mktemp /tmp/set-check-probe.XXXXXX.h)
found=$(echo "$probe" | unowned_files)
rm -f "$probe"
[ "$found" = "$probe" ] || die "the check does not report a file no package owns ($probe): '$found'"

# Headers the compiler read for every object of the targets.
objects=$(ninja -t inputs "${targets[@]}" | grep -E '\.o(bj)?$') || die "ninja cannot list the inputs of ${targets[*]}"
ninja -t deps $objects | awk '/^    \// { print $1 }' >"$work/files"
# The tools the build runs: the compilers CMake found (a toolchain file's
# may be in no cache), CMake, Ninja and pkg-config as the cache names them.
cache() { sed -n "s/^$1:[A-Z]*=//p" CMakeCache.txt; }
compiler() { sed -n "s/^set($1 \"\(.*\)\")$/\1/p" CMakeFiles/*/CMake*Compiler.cmake | head -n 1; }
cxx=$(compiler CMAKE_CXX_COMPILER)
[ -n "$cxx" ] || die "CMake names no C++ compiler in $build/CMakeFiles"
for tool in "$cxx" "$(compiler CMAKE_C_COMPILER)" "$(cache CMAKE_COMMAND)" "$(cache CMAKE_MAKE_PROGRAM)" \
            "$(cache PKG_CONFIG_EXECUTABLE)"; do
  [ -n "$tool" ] && command -v "$tool" >>"$work/files"
done
# Libraries on the link lines (paths, and -lNAME as the compiler finds it).
for word in $(ninja -t commands "${targets[@]}" | grep -v ' -c ' | grep ' -o '); do
  case "$word" in
  /*.so | /*.so.* | /*.a) echo "$word" >>"$work/files" ;;
  -l*)
    lib=$("$cxx" -print-file-name="lib${word#-l}.so")
    [ "$lib" = "lib${word#-l}.so" ] && lib=$("$cxx" -print-file-name="lib${word#-l}.a")
    case "$lib" in /*) echo "$lib" >>"$work/files" ;; esac
    ;;
  esac
done

stray=$(unowned_files <"$work/files")
[ -z "$stray" ] || die "the build of ${targets[*]} read $(echo "$stray" | wc -l) files no package owns: $(echo $stray | cut -c1-600)"
needed=$(owning_packages <"$work/files")
[ -n "$needed" ] || die "found no packages behind the build's files"

set_packages=$(bash "$root/tools/setup-debian.sh" --list "$set_name") || die "no package set $set_name"
covered=$(dependency_closure $set_packages)

missing=$(comm -23 <(echo "$needed") <(echo "$covered"))
echo "the build of ${targets[*]} used files of $(echo "$needed" | wc -l) packages; the $set_name set covers $(echo "$covered" | wc -l)"
[ -z "$missing" ] || die "the build needs packages the $set_name set does not bring: $(echo $missing)"
echo "PASS: every file the build of ${targets[*]} read comes with the $set_name set"
