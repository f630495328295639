#!/usr/bin/env bash
# The open-ended search, for a developer to run as long as they like:
#   tests/fuzz/search.sh [SECONDS] [TARGET]   (default: 600 s, each target)
# Each target searches from a random seed, keeping its corpus in
# build-fuzz/fuzz-search/TARGET/ between runs, so a search goes on where the
# last one stopped. An input that crashes, or costs more work than its size
# allows, lands in that folder's artifacts/: keep it in tests/fuzz/regressions/
# together with its fix, and the test command replays it from then on.
source "$(dirname "$0")/fuzz_lib.sh"

seconds=${1:-600}
[ $# -ge 2 ] && targets=("$2")
for name in "${targets[@]}"; do
  run=$top/build-fuzz/fuzz-search/$name
  mkdir -p "$run/corpus" "$run/artifacts"
  echo "== $name: searching for $seconds s from $(find "$run/corpus" -type f | wc -l) kept inputs"
  (cd "$run" && "$(fuzzer "$name")" "${fuzz_options[@]}" -dict="$here/mp3.dict" -max_total_time="$seconds" \
    -artifact_prefix="$run/artifacts/" -print_final_stats=1 \
    "$run/corpus" "$here/seeds" "$here/regressions") 2>&1 | tail -n 20
done
