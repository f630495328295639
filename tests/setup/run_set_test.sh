#!/usr/bin/env bash
# The "run" package set (tools/packages/run.txt) is enough to build the
# piece: every system file that building `tolmar` and `soundtrack` reads
# (the headers each object was compiled from, the libraries on their link
# lines, the tools themselves) belongs to a package of the set, to one of
# their dependencies, or to a package every Debian system has. The CMake and
# pkg-config files found at configure time come with the same -dev packages;
# optional finds (FFmpeg for the capture tool) are not needed to build these.
# Installs nothing: it reads this build's records and dpkg's and apt's.
# Usage: run_set_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
fail() { echo "FAIL: $*"; exit 1; }
source "$(dirname "$0")/../support/dpkg_lib.sh"
root=$(cd "$2" && pwd) || fail "no source folder $2"
build=$1
cd "$build" || fail "no build folder $build"
targets="tolmar tools/soundtrack/soundtrack"

files=$(mktemp)
trap 'rm -f "$files"' EXIT
# Headers the compiler read for every object of the two programs.
objects=$(ninja -t inputs $targets | grep '\.o$') || fail "ninja cannot list the inputs of $targets"
ninja -t deps $objects | awk '/^    \// { print $1 }' >>"$files"
# Libraries on their link lines (paths, and -lNAME as the linker finds it).
for word in $(ninja -t commands $targets | grep -v ' -c ' | grep ' -o '); do
  case "$word" in
  /*.so | /*.so.* | /*.a) echo "$word" >>"$files" ;;
  -l*) c++ -print-file-name="lib${word#-l}.so" >>"$files" ;;
  esac
done
for tool in cmake ninja pkg-config c++ cc; do
  command -v "$tool" >>"$files" || fail "$tool is not installed"
done

needed=$(owning_packages <"$files")
[ -n "$needed" ] || fail "found no packages behind the build's files"

set_packages=$(sed 's/#.*//' "$root/tools/packages/run.txt" | awk 'NF { print $1 }')
covered=$(dependency_closure $set_packages)

missing=$(comm -23 <(echo "$needed") <(echo "$covered"))
echo "the build used files of $(echo "$needed" | wc -l) packages; the run set covers $(echo "$covered" | wc -l)"
[ -z "$missing" ] || fail "the build needs packages the run set does not bring: $(echo $missing)"
echo "PASS: every package the build needs comes with the run set"
