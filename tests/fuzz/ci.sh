#!/usr/bin/env bash
# The fuzzing gate of the test command: the same work on every machine and
# every run. Each target first replays tests/fuzz/regressions/, then runs a
# fixed number of inputs from a fixed seed over the committed seeds and
# regressions (FUZZ_RUNS_STREAM, FUZZ_RUNS_FRAMES, FUZZ_SEED), into a corpus
# made afresh, then replays what it kept with leak checking. Exits non-zero
# on a crash, an input whose counted work passes its bound, a hang, a
# sanitizer report or a leak. The open-ended search is tests/fuzz/search.sh.
source "$(dirname "$0")/fuzz_lib.sh"

seed=${FUZZ_SEED:-1}
declare -A runs=([stream_fuzzer]=${FUZZ_RUNS_STREAM:-10000} [mp3frames_fuzzer]=${FUZZ_RUNS_FRAMES:-300000})
work=$top/build-fuzz/fuzz-gate
rm -rf "$work"

for name in "${targets[@]}"; do
  run=$work/$name
  mkdir -p "$run/corpus" "$run/artifacts"
  # The stream target names its input file in the working directory.
  cd "$run"
  echo "== $name: regressions"
  "$(fuzzer "$name")" "$here"/regressions/*

  echo "== $name: ${runs[$name]} inputs from seed $seed"
  log=$run/fuzz.log
  # The same stack under every checkout: compares the fuzzer learns from
  # may hold stack addresses, which shift with the length of the program's
  # name, its arguments and its environment. So it runs by short relative
  # names in a fixed environment, wherever the clone is.
  ln -s "$(fuzzer "$name")" fuzzer && ln -s "$here/seeds" seeds && ln -s "$here/regressions" regressions &&
    ln -s "$here/mp3.dict" mp3.dict
  if ! env -i PATH=/usr/bin:/bin ASAN_OPTIONS="$ASAN_OPTIONS" UBSAN_OPTIONS="$UBSAN_OPTIONS" \
    "${fixed_addresses[@]}" ./fuzzer "${fuzz_options[@]}" -dict=mp3.dict \
    -reload=0 -runs="${runs[$name]}" -seed="$seed" -artifact_prefix=artifacts/ -print_final_stats=1 \
    corpus seeds regressions >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAIL: $name found a problem; the input is in $run/artifacts/ (keep it in tests/fuzz/regressions/ with its fix)"
    exit 1
  fi
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|Done|stat::number_of_executed_units)' "$log" || true

  # libFuzzer names each kept input by its digest: the same list, the same run.
  echo "== $name: kept $(ls "$run/corpus" | wc -l) inputs, corpus $(ls "$run/corpus" | sha256sum | cut -c1-16)"
  echo "== $name: replaying them with leak checking"
  if ! find "$run/corpus" "$here/seeds" -type f -print0 |
    xargs -0 -n 200 "$(fuzzer "$name")" -detect_leaks=1 -timeout=60 >"$run/replay.log" 2>&1; then
    tail -n 60 "$run/replay.log"
    echo "FAIL: an input crashed or leaked on replay in $name"
    exit 1
  fi
  cd - >/dev/null
done
echo "PASS: fuzzing"
