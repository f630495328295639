# Sourced by ci.sh and search.sh: builds the fuzz preset and sets the
# sanitizers' options. Defines $here (this folder), $targets, fuzzer NAME.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target stream_fuzzer mp3frames_fuzzer
top=$PWD
here=$top/tests/fuzz
targets=(stream_fuzzer mp3frames_fuzzer)

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

fuzzer() { echo "$top/build-fuzz/tests/fuzz/$1"; }

# Without address randomisation: libFuzzer feeds some addresses into its
# features, so with it the same seed takes another path from run to run.
fixed_addresses=(setarch "$(uname -m)" -R)
if ! "${fixed_addresses[@]}" true 2>/dev/null; then
  echo "note: this machine does not let address randomisation be turned off; runs from the same seed may differ"
  fixed_addresses=()
fi

# Options of every run. Every input leaves the audio library's handle
# bookkeeping behind (reachable, by design), so libFuzzer's per-input leak
# scan would run on each of them and slow the search tenfold; leaks are
# looked for by replaying the kept inputs instead. An input fails on its
# counted work, not its time: the timeout only catches a hang.
# The dictionary (mp3.dict) is added by each script.
fuzz_options=(-detect_leaks=0 -timeout=60 -max_len=16384)
