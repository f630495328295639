#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes the audio library's stream path for
# FUZZ_SECONDS (60 by default) from the committed seeds, then replays every
# kept input once with leak checking. Exits non-zero on a crash, a hang, a
# sanitizer report or a leak. The corpus is kept in build-fuzz/ between runs.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target stream_fuzzer
fuzzer=$PWD/build-fuzz/tests/fuzz/stream_fuzzer
here=$PWD/tests/fuzz
work=$PWD/build-fuzz/fuzz-run
mkdir -p "$work/corpus" "$work/artifacts"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TMPDIR=$work

# Inputs that once broke the library must still pass.
if compgen -G "$here/regressions/*" >/dev/null; then
  echo "== regressions"
  "$fuzzer" "$here"/regressions/*
fi

# Every input leaves the library's handle bookkeeping behind (reachable, by
# design), so libFuzzer's per-input leak scan would run on each of them and
# slow the search tenfold; leaks are looked for in the replay below instead.
echo "== fuzzing for $seconds s"
log=$work/fuzz.log
if ! "$fuzzer" -detect_leaks=0 -max_total_time="$seconds" -timeout=20 -max_len=16384 \
  -dict="$here/mp3.dict" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
  "$work/corpus" "$here/seeds" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "FAIL: the fuzzer found a problem; the input is in $work/artifacts/"
  exit 1
fi
grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|Done|stat::)' "$log" || true

echo "== replaying $(find "$work/corpus" -type f | wc -l) kept inputs with leak checking"
if ! find "$work/corpus" "$here/seeds" -type f -print0 |
  xargs -0 -n 200 "$fuzzer" -detect_leaks=1 -timeout=20 >"$work/replay.log" 2>&1; then
  tail -n 60 "$work/replay.log"
  echo "FAIL: an input crashed or leaked on replay"
  exit 1
fi
echo "PASS: fuzzing"
