#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the optimised build (including
# one full-length run of the piece), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, the audio library under ThreadSanitizer, the
# fuzzers, the Windows build under Wine, the web build in Chromium, Firefox
# and WebKit, and a release (tools/release.sh) unpacked and run as its users
# get it. The Debian systems the release checks use are made or brought up
# to date in the background meanwhile (network and disk), while the builds
# and tests use the processors.
#
# Usage: ./test.sh          everything, as CI runs it
#        ./test.sh --quick  the three native builds and their ctest only:
#                           the developer's loop, a few minutes
# Ends with a table of each step's wall time, its result and the load
# average when it ended, on success and on failure alike.
set -euo pipefail
cd "$(dirname "$0")"

quick=no
case "${1:-}" in
"") ;;
--quick) quick=yes ;;
*) echo "usage: ./test.sh [--quick]" >&2; exit 2 ;;
esac

started=$SECONDS
table=()  # one "STEP|WALL|CPU|RESULT|LOAD" row a step, in the order run
# The processor time of the finished children of this shell, in seconds:
# with the wall time, it tells a step that waits from one that computes.
# (times runs in this shell: a subshell counts only its own children.)
times_file=$(mktemp)
# Sets cpu_now.
children_cpu() {
  times >"$times_file"
  cpu_now=$(awk 'NR == 2 { split($0, t, /[ms]+/); printf "%d", t[1] * 60 + t[2] + t[3] * 60 + t[4] }' "$times_file")
}
# step NAME COMMAND...: runs COMMAND as one row of the table; a failure ends
# the run (set -e) after the row is written.
step() {
  local name=$1 start=$SECONDS cpu status=0
  children_cpu
  cpu=$cpu_now
  shift
  "$@" || status=$?
  children_cpu
  table+=("$name|$((SECONDS - start))|$((cpu_now - cpu))|$([ "$status" -eq 0 ] && echo ok || echo "FAILED ($status)")|$(cut -d' ' -f1 /proc/loadavg)")
  return "$status"
}
print_table() {
  local row name seconds cpu result load
  children_cpu
  echo
  printf '%-34s %7s %7s  %-12s %s\n' step 'wall s' 'cpu s' result 'load (1 min)'
  for row in "${table[@]}"; do
    IFS='|' read -r name seconds cpu result load <<<"$row"
    printf '%-34s %7s %7s  %-12s %s\n' "$name" "$seconds" "$cpu" "$result" "$load"
  done
  printf '%-34s %7s %7s  %-12s %s\n' total "$((SECONDS - started))" "$cpu_now" "$1" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
systems_pid=""
finish() {
  local status=$?
  # A run that stops early stops the background step too.
  [ -z "$systems_pid" ] || kill -- "-$systems_pid" 2>/dev/null || true
  print_table "$([ "$status" -eq 0 ] && echo ok || echo FAILED)"
  rm -f "$times_file"
  exit "$status"
}
trap finish EXIT

# The test set builds on every other set but the benchmarks'.
step "packages" bash tools/setup-debian.sh test

# The release checks' Debian systems, as root (they are chroots). Its lines
# are kept and shown when the release step waits for it.
if [ "$quick" = no ] && [ "$(id -u)" -eq 0 ]; then
  systems_log=$(mktemp)
  systems_start=$(date +%s)
  # A session of its own, so that an early end stops its chroots' programs
  # too; its end is noted for the table, whenever the release step waits.
  setsid bash -c 'bash tests/release/debian_systems.sh; status=$?; date +%s >"$1.end"; exit $status' \
    systems "$systems_log" >"$systems_log" 2>&1 &
  systems_pid=$!
fi
# Waits for the background step and adds its row: the time from its start to
# its end, whichever step it overlapped.
debian_systems() {
  local status=0 cpu
  [ -n "$systems_pid" ] || return 0
  children_cpu
  cpu=$cpu_now
  wait "$systems_pid" || status=$?
  children_cpu
  systems_pid=""
  sed 's/^/  /' "$systems_log"
  local end
  end=$(cat "$systems_log.end" 2>/dev/null || date +%s)
  rm -f "$systems_log" "$systems_log.end"
  table+=("Debian systems (in the background)|$((end - systems_start))|$((cpu_now - cpu))|$([ "$status" -eq 0 ] && echo ok || echo "FAILED ($status)")|$(cut -d' ' -f1 /proc/loadavg)")
  return "$status"
}

# Compiled objects are kept beside the test command's other caches, so a
# second run, from this clone or another, compiles only what changed (paths
# under the clone are hashed relative to it). The checks' own builds take
# the same launcher; the package sets' checks build without it.
launcher=()
if command -v ccache >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    export CCACHE_DIR=${TOLMAR_TEST_CACHE:-/var/cache/tolmar-tests}/ccache
  else
    export CCACHE_DIR=${TOLMAR_TEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolmar}/ccache
  fi
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G} TOLMAR_LAUNCHER=ccache
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
for preset in default sanitize tsan; do
  step "build $preset" eval 'cmake --preset "$preset" -DTOLMAR_TESTS=ON -DTOLMAR_CAPTURE=ON "${launcher[@]}" >/dev/null &&
    cmake --build --preset "$preset"'
done
for preset in default sanitize tsan; do
  step "ctest $preset" ctest --preset "$preset"
done
[ "$quick" = no ] || exit 0
# Each of these builds what it needs and exits non-zero on failure.
step "fuzzing" bash tests/fuzz/ci.sh
step "Windows (Wine)" bash tests/windows/ci.sh
step "web (three engines)" bash tests/web/ci.sh
debian_systems
step "release" bash tests/release/ci.sh
