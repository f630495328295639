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
  printf '%-36s %7s %7s  %-12s %s\n' step 'wall s' 'cpu s' result 'load (1 min)'
  for row in "${table[@]}"; do
    IFS='|' read -r name seconds cpu result load <<<"$row"
    printf '%-36s %7s %7s  %-12s %s\n' "$name" "$seconds" "$cpu" "$result" "$load"
  done
  printf '%-36s %7s %7s  %-12s %s\n' total "$((SECONDS - started))" "$cpu_now" "$1" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
# background NAME COMMAND...: starts COMMAND as a step that runs beside the
# next ones, in a session of its own (so that an early end stops all its
# programs, chroots' included), its lines kept for when it is awaited.
declare -A bg_pid bg_log bg_start
background() {
  local name=$1
  shift
  bg_log[$name]=$(mktemp)
  bg_start[$name]=$SECONDS
  setsid bash -c '"${@:2}"; status=$?; echo $status >"$1.status"; echo $SECONDS >"$1.end"; exit $status' \
    background "${bg_log[$name]}" "$@" >"${bg_log[$name]}" 2>&1 &
  bg_pid[$name]=$!
}
# await NAME: waits for a background step, shows its lines and adds its row:
# the time from its start to its end, whichever steps it ran beside. Its
# processor time is counted in the rows of the steps it ran beside (the
# shell counts a child's time when it ends).
await() {
  local name=$1 status=0 end
  [ -n "${bg_pid[$name]:-}" ] || return 0
  wait "${bg_pid[$name]}" || status=$?
  unset "bg_pid[$name]"
  sed 's/^/  /' "${bg_log[$name]}"
  # The end as the step's own shell saw it: SECONDS counts from that
  # shell's start, which was this step's.
  end=$(cat "${bg_log[$name]}.end" 2>/dev/null || echo $((SECONDS - bg_start[$name])))
  rm -f "${bg_log[$name]}" "${bg_log[$name]}.end" "${bg_log[$name]}.status"
  table+=("$name (beside)|$end|-|$([ "$status" -eq 0 ] && echo ok || echo "FAILED ($status)")|$(cut -d' ' -f1 /proc/loadavg)")
  return "$status"
}
finish() {
  local status=$? pid
  # A run that stops early stops the background steps too.
  for pid in "${bg_pid[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  print_table "$([ "$status" -eq 0 ] && echo ok || echo FAILED)"
  rm -f "$times_file"
  exit "$status"
}
trap finish EXIT

# The test set builds on every other set but the benchmarks'.
step "packages" bash tools/setup-debian.sh test

# The release checks' Debian systems, as root (they are chroots): network
# and disk, while the builds and tests use the processors.
if [ "$quick" = no ] && [ "$(id -u)" -eq 0 ]; then
  background "Debian systems" bash tests/release/debian_systems.sh
fi

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
  # The piece's one whole run takes 136 s of real time and little of the
  # processors (the test display paces its frames as a 60 Hz one would).
  [ "$preset" != default ] || background "ctest default: whole run" ctest --preset default -L long
done
# libmpg123 for the Windows and web builds, made from Debian's source once
# per machine (cmake/mpg123-build.sh; nothing to do when the cache has it):
# mostly its configure scripts, one process at a time.
[ "$quick" = yes ] || background "libmpg123 for Windows and the web" \
  bash -c 'bash cmake/mpg123-build.sh windows && bash cmake/mpg123-build.sh web'
# Wine mostly waits for the programs it runs, on a display and sound server
# of its own (its build waits for its libmpg123, which the script locks).
[ "$quick" = yes ] || background "Windows (Wine)" bash tests/windows/ci.sh

# The release checks make their builds and then mostly wait for the programs
# they watch (on displays, sound servers and Debian systems of their own),
# so they run beside the ctest runs and the fuzzers, from the moment their
# Debian systems are ready (their libmpg123 builds wait for the one above,
# which the script locks). The browsers' checks, whose limits are for
# hangs but tight enough for a machine starved by builds, come after them.
if [ "$quick" = no ]; then
  # The browsers' drivers, which the web and the release checks both use.
  if [ ! -d tests/web/node_modules/puppeteer-core ] || [ ! -d tests/web/node_modules/selenium-webdriver ]; then
    step "the browsers' drivers (npm ci)" npm ci --prefix tests/web --no-audit --no-fund
  fi
  systems=${bg_log[Debian systems]:-}
  background "release" bash -c '
    if [ -n "$1" ]; then
      until [ -e "$1.end" ]; do sleep 1; done
      [ "$(cat "$1.status")" = 0 ] || { echo "no release checks: the Debian systems failed (their row)"; exit 1; }
    fi
    bash tests/release/ci.sh' release "$systems"
fi
step "ctest default" ctest --preset default -LE long
for preset in sanitize tsan; do
  step "ctest $preset" ctest --preset "$preset"
done
[ "$quick" = no ] || { await "ctest default: whole run"; exit 0; }
# Each of these builds what it needs and exits non-zero on failure.
step "fuzzing" bash tests/fuzz/ci.sh
await "ctest default: whole run"
await "libmpg123 for Windows and the web"
# The release waited for the systems' end (a file that await removes), so
# they are awaited after it, and their lines shown whatever its verdict.
await "release" || { await "Debian systems" || true; exit 1; }
await "Debian systems"
step "web (three engines)" bash tests/web/ci.sh
await "Windows (Wine)"
