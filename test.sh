#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the optimised build (including
# one full-length run of the piece), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the audio library under ThreadSanitizer, the
# fuzzers, the Windows build under Wine, the web build in Chromium, Firefox
# and WebKit, and a release (tools/release.sh) unpacked and run as its users
# get it, on the Debian systems made or brought up to date meanwhile. The
# steps and what runs beside what: tests/steps/CMakeLists.txt, run by CTest.
#
# Usage: ./test.sh          everything, as CI runs it
#        ./test.sh --quick  the three native builds and their ctest only:
#                           the developer's loop, a few minutes
# Ends with a table of each step's wall time and result, on success and on
# failure alike. A failed step's output is shown as it ends; every step's
# is in build-steps/Testing/Temporary/LastTest.log.
set -euo pipefail
cd "$(dirname "$0")"

labels=()
case "${1:-}" in
"") ;;
--quick) labels=(-L quick) ;;
*) echo "usage: ./test.sh [--quick]" >&2; exit 2 ;;
esac

# The test set builds on every other set but the benchmarks'.
started=$SECONDS
bash tools/setup-debian.sh test || { echo "packages: FAILED after $((SECONDS - started)) s"; exit 1; }
packages=$((SECONDS - started))

# Compiled objects are kept beside the test command's other caches, so a
# second run, from this clone or another, compiles only what changed (paths
# under the clone are hashed relative to it). The checks' own builds take
# the same launcher; the package sets' checks build without it.
if command -v ccache >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    export CCACHE_DIR=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}/ccache
  else
    export CCACHE_DIR=${TOLMAR_TEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolmar}/ccache
  fi
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G} TOLMAR_LAUNCHER=ccache
fi

cmake -S tests/steps -B build-steps >/dev/null
log=build-steps/steps.txt
status=0
ctest --test-dir build-steps -j 8 --resource-spec-file "$PWD/build-steps/cores.json" --output-on-failure "${labels[@]}" 2>&1 | tee "$log" || status=$?
echo
echo "The steps, as they ended (packages first: $packages s):"
grep -E '^ *[0-9]+/[0-9]+ Test +#' "$log" || true
echo "total $((SECONDS - started)) s, $([ "$status" -eq 0 ] && echo ok || echo FAILED), load average $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
