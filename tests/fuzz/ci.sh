#!/usr/bin/env bash
# Builds the fuzz preset and fuzzes each target for FUZZ_SECONDS (30 by
# default, so 60 s in all) from the committed seeds: the audio library's
# stream path, then the portable MP3 frame parser. Then replays every kept
# input once with leak checking. Exits non-zero on a crash, a hang, a
# sanitizer report or a leak. Corpora are kept in build-fuzz/ between runs.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target stream_fuzzer mp3frames_fuzzer
here=$PWD/tests/fuzz
work=$PWD/build-fuzz/fuzz-run

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TMPDIR=$work

# fuzz NAME: regressions, fuzzing, then the replay, for build-fuzz/tests/fuzz/NAME.
fuzz() {
  local name=$1
  local fuzzer=$PWD/build-fuzz/tests/fuzz/$name
  local run=$work/$name
  # The stream target's corpus predates the second target; keep using it.
  local corpus=$run/corpus
  [ "$name" = stream_fuzzer ] && corpus=$work/corpus
  mkdir -p "$corpus" "$run/artifacts"

  # Inputs that once broke a target must still pass.
  if compgen -G "$here/regressions/*" >/dev/null; then
    echo "== $name: regressions"
    "$fuzzer" "$here"/regressions/*
  fi

  # Every input leaves the audio library's handle bookkeeping behind
  # (reachable, by design), so libFuzzer's per-input leak scan would run on
  # each of them and slow the search tenfold; leaks are looked for in the
  # replay below instead.
  echo "== $name: fuzzing for $seconds s"
  local log=$run/fuzz.log
  if ! "$fuzzer" -detect_leaks=0 -max_total_time="$seconds" -timeout=20 -max_len=16384 \
    -dict="$here/mp3.dict" -artifact_prefix="$run/artifacts/" -print_final_stats=1 \
    "$corpus" "$here/seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAIL: $name found a problem; the input is in $run/artifacts/"
    exit 1
  fi
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|Done|stat::)' "$log" || true

  echo "== $name: replaying $(find "$corpus" -type f | wc -l) kept inputs with leak checking"
  if ! find "$corpus" "$here/seeds" -type f -print0 |
    xargs -0 -n 200 "$fuzzer" -detect_leaks=1 -timeout=20 >"$run/replay.log" 2>&1; then
    tail -n 60 "$run/replay.log"
    echo "FAIL: an input crashed or leaked on replay in $name"
    exit 1
  fi
}

fuzz stream_fuzzer
fuzz mp3frames_fuzzer
echo "PASS: fuzzing"
