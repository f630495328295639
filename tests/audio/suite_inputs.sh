#!/usr/bin/env bash
# The inputs of the shared results suite (results_suite.h), made in DIR for
# every backend's run of it: a short tone as MP3, WAV and Ogg, lame's MP3 of
# no samples, and two of the fuzzers' files. Usage: suite_inputs.sh DIR
set -euo pipefail
fuzz=$(cd "$(dirname "$0")/../fuzz" && pwd)
cd "$1"
sox -q -n -r 44100 -c 2 tone.wav synth 0.5 sine 440
lame --quiet tone.wav tone.mp3
sox -q tone.wav tone.ogg
sox -q -n -r 44100 -c 2 silent.wav trim 0 0
lame --quiet silent.wav no-samples.mp3
cp "$fuzz/regressions/slow-open.mp3" slow-open.mp3
cp "$fuzz/seeds/five_samples.mp3" five-samples.mp3
