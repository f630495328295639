#!/usr/bin/env bash
# The inputs of the shared results suite (results_suite.h), made in DIR for
# every backend's run of it: a short tone as MP3, WAV and Ogg, lame's MP3 of
# no samples, two of the fuzzers' files, and the MPEG audio that is not plain
# MPEG-1 Layer III: Layer II named .mp3, free format, MPEG-2 at 16 kHz, mono,
# a rate change partway. (No encoder in Debian writes Layer I: the suite
# makes that itself.) Usage: suite_inputs.sh DIR
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
lame --quiet -t tone.wav untagged.mp3
ffmpeg -loglevel error -i tone.wav -c:a mp2 -b:a 192k -f mp2 layer2.mp3
lame --quiet --freeformat -b 400 tone.wav free-format.mp3
sox -q -n -r 16000 -c 2 low.wav synth 0.5 sine 300-900
lame --quiet -b 32 low.wav mpeg2-16k.mp3
sox -q -n -r 44100 -c 1 mono.wav synth 0.5 sine 600
lame --quiet mono.wav mono.mp3
# Frames at 44.1 kHz, then at 22.05 kHz, neither with an info frame.
sox -q -n -r 22050 -c 2 half.wav synth 0.5 sine 330
lame --quiet -t half.wav half.mp3
cat untagged.mp3 half.mp3 >rate-change.mp3
