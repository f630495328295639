#!/usr/bin/env bash
# Builds the benchmarks and runs them all, writing a summary to
# build-bench/bench-results/results.md (raw logs beside it in raw/).
#
#   bash bench/run.sh                     everything (about 25 minutes on 2 cores)
#   bash bench/run.sh --quick             one round each, no fitter quality table
#   bash bench/run.sh frame screen ...    only these sections, in this order:
#                                         frame screen startup audio stream fit
#
# Environment: TOLMAR_BENCH_BUILD (build folder, default build-bench),
# ROUNDS (screen rounds, default 3), TIME_SCALE (clock speed-up for the screen
# runs, default 8), STARTUP_ROUNDS (default 15), REPETITIONS (frame bench,
# default 15), FIT_SETTINGS (candidates:moves pairs for the fitter table
# besides its default effort).
# Needs: cmake, ninja, g++, libbenchmark-dev, libsdl2-dev, libmpg123-dev, Mesa,
# xvfb, valgrind, /usr/bin/time (Debian package "time"), python3, sox, lame
# (tools/setup-debian.sh run test bench).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLMAR_BENCH_BUILD:-$root/build-bench}
results=$build/bench-results
raw=$results/raw

quick=0
sections=()
for arg in "$@"; do
  case $arg in
  --quick) quick=1 ;;
  frame | screen | startup | audio | stream | fit) sections+=("$arg") ;;
  *) echo "run.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done
[ ${#sections[@]} -gt 0 ] || sections=(frame screen startup audio stream fit)
if [ $quick = 1 ]; then
  : "${ROUNDS:=1}" "${STARTUP_ROUNDS:=5}" "${REPETITIONS:=5}" "${FIT_SETTINGS:=}"
fi
ROUNDS=${ROUNDS:-3}
TIME_SCALE=${TIME_SCALE:-8}
STARTUP_ROUNDS=${STARTUP_ROUNDS:-15}
REPETITIONS=${REPETITIONS:-15}
FIT_SETTINGS=${FIT_SETTINGS-500:1500 1000:3000 4000:12000}

for tool in cmake ninja xvfb-run valgrind python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (see the header)" >&2; exit 1; }
done

echo "== building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLMAR_BENCH=ON -DTOLMAR_TESTS=OFF >/dev/null
cmake --build "$build" --target tolmar soundtrack picture-fit frame_bench frame_count \
  swap_shim launch present_floor array_floor audio_gaps

# Sections run on their own replace only their own raw files, so the summary
# can combine a full run with a later re-run of one section.
[ ${#sections[@]} -eq 6 ] && rm -rf "$results"
mkdir -p "$raw"
export BENCH_BIN=$build/bench TOLMAR_BIN=$build/tolmar MUSIC_DIR=$raw/music
mkdir -p "$MUSIC_DIR"
echo "== composing the default soundtrack"
"$build/tools/soundtrack/soundtrack" "$MUSIC_DIR/tolmar.mp3" >/dev/null

{
  echo "date=$(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo -)"
  echo "nproc=$(nproc)"
  echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
  echo "mesa=$(dpkg-query -W -f '${Version}' libgl1-mesa-dri 2>/dev/null || echo -)"
  echo "sdl=$(dpkg-query -W -f '${Version}' libsdl2-2.0-0 2>/dev/null || echo -)"
  echo "kernel=$(uname -r)"
  echo "settings=rounds:$ROUNDS time_scale:$TIME_SCALE startup_rounds:$STARTUP_ROUNDS repetitions:$REPETITIONS"
} >"$raw/machine.txt"

for section in "${sections[@]}"; do
  rm -f "$raw/runs-$section.log"
  case $section in
  frame)
    echo "== frame cost: renderFrame on the recording sink against the sine floor"
    "$BENCH_BIN/frame_bench" --benchmark_repetitions="$REPETITIONS" \
      --benchmark_enable_random_interleaving=true --benchmark_min_time=0.05 \
      --benchmark_report_aggregates_only=true --benchmark_format=json \
      >"$raw/frame_bench.json" 2>"$raw/frame_bench.err"
    echo "== frame cost: instructions under callgrind"
    for mode in render floor; do
      if [ $mode = render ]; then fn='renderFrame(float)'; else fn='sinFloor(float, int*)'; fi
      valgrind --tool=callgrind --callgrind-out-file="$raw/callgrind.$mode" \
        --toggle-collect="$fn" "$BENCH_BIN/frame_count" $mode 200 \
        >"$raw/callgrind-$mode.out" 2>"$raw/callgrind-$mode.err"
    done
    ;;
  screen)
    for size in 1280x720 1920x1080; do
      echo "== frames on screen at $size ($ROUNDS rounds)"
      xvfb-run -a -s "-screen 0 ${size}x24" \
        bash "$root/bench/session.sh" screen "$raw" "$size" "$ROUNDS" "$TIME_SCALE" 8
    done
    ;;
  startup)
    echo "== start-up ($STARTUP_ROUNDS rounds)"
    xvfb-run -a -s "-screen 0 1280x720x24" \
      bash "$root/bench/session.sh" startup "$raw" 1280x720 "$STARTUP_ROUNDS"
    ;;
  audio)
    echo "== audio: one full-length run in real time (about 140 s)"
    xvfb-run -a -s "-screen 0 1280x720x24" bash "$root/bench/session.sh" audio "$raw" 1280x720
    "$BENCH_BIN/audio_gaps" "$raw/audio-1280x720.raw" "$MUSIC_DIR/tolmar.mp3" \
      >"$raw/audio_gaps.txt" 2>"$raw/audio_gaps.err" || true
    rm -f "$raw/audio-1280x720.raw"
    ;;
  stream)
    echo "== streaming: peak memory with a 4 s and a 20-minute music file ($ROUNDS rounds)"
    rm -rf "$raw"/stream-*
    mkdir -p "$raw/stream-short" "$raw/stream-long"
    sox -q -n -r 44100 -c 2 -b 16 "$raw/tone.wav" synth 4 sine 330 sine 440 vol 0.5
    lame --quiet "$raw/tone.wav" "$raw/stream-short/tolmar.mp3"
    # 20 minutes: ten seconds without an info frame, repeated 120 times.
    sox -q -n -r 44100 -c 2 -b 16 "$raw/tone.wav" synth 10 sine 330 sine 440 vol 0.5
    lame --quiet -t "$raw/tone.wav" "$raw/ten.mp3"
    for _ in $(seq 120); do cat "$raw/ten.mp3"; done >"$raw/stream-long/tolmar.mp3"
    rm -f "$raw/tone.wav" "$raw/ten.mp3"
    xvfb-run -a -s "-screen 0 1280x720x24" \
      bash "$root/bench/session.sh" stream "$raw" 1280x720 "$ROUNDS" "$TIME_SCALE"
    ;;
  fit)
    # The documented command (docs/picture.md) with the committed seed and the
    # default effort, which made the committed tables; then other efforts.
    echo "== picture fitter on 2 threads: default settings, then the effort table"
    rm -rf "$raw"/fit-*
    for setting in default $FIT_SETTINGS; do
      effort=()
      if [ "$setting" = default ]; then
        dir=$raw/fit-default
      else
        candidates=${setting%%:*} moves=${setting##*:}
        dir=$raw/fit-$candidates-$moves
        effort=(--candidates "$candidates" --moves "$moves")
      fi
      mkdir -p "$dir"
      /usr/bin/time -f "wall_s=%e maxrss_kb=%M" -o "$dir/time.txt" \
        "$build/tools/picture-fit/picture-fit" "$root/src/picture/source.png" --out "$dir" \
        --preview "$dir" --seed 1 --threads 2 "${effort[@]}" >"$dir/report.txt" 2>"$dir/progress.txt"
      rm -f "$dir"/*.png
      cmp -s "$dir/triangles.bin" "$root/src/picture/triangles.bin" &&
        echo "same_as_committed=1" >>"$dir/time.txt" || echo "same_as_committed=0" >>"$dir/time.txt"
      rm -f "$dir/triangles.bin" "$dir/shades.bin"
    done
    ;;
  esac
done

python3 "$root/bench/summarize.py" "$raw" >"$results/results.md"
echo "== results: $results/results.md"
cat "$results/results.md"
