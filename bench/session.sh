#!/usr/bin/env bash
# Runs inside one Xvfb display (started by run.sh through xvfb-run): the
# measured programs one after another, each through the launcher with the
# swap shim preloaded and under /usr/bin/time for its peak memory.
#
#   session.sh screen  RAW_DIR TAG ROUNDS TIME_SCALE FLOOR_SECONDS
#   session.sh startup RAW_DIR TAG ROUNDS
#   session.sh audio   RAW_DIR TAG
#   session.sh stream  RAW_DIR TAG ROUNDS TIME_SCALE
#
# Programs and the music come from the environment run.sh sets: BENCH_BIN,
# TOLMAR_BIN, MUSIC_DIR. Every run appends its shim line and a maxrss line
# to RAW_DIR/runs-MODE.log under the same label.
set -euo pipefail

mode=$1 raw=$2 tag=$3
log=$raw/runs-$mode.log
export TOLMAR_BENCH_LOG=$log
export TOLMAR_BENCH_PRELOAD=$BENCH_BIN/swap_shim.so

# measure LABEL PROGRAM [ARGS...] with extra environment already exported.
measure() {
  local label=$1
  shift
  local rss
  rss=$(mktemp)
  (cd "$MUSIC_DIR" && TOLMAR_BENCH_LABEL=$label /usr/bin/time -f "%M" -o "$rss" \
     "$BENCH_BIN/launch" "$@" >>"$raw/stdout.log" 2>>"$raw/stderr.log") ||
    echo "run $label failed with status $?" >>"$raw/stderr.log"
  echo "label=$label maxrss_kb=$(tail -n 1 "$rss")" >>"$log"
  rm -f "$rss"
}

case $mode in
screen)
  rounds=$4 scale=$5 floor_seconds=$6
  for round in $(seq "$rounds"); do
    # Rotate the order so no program always follows the same one.
    order=("tolmar" "array" "present" "triangle")
    shift_by=$(( (round - 1) % 4 ))
    order=("${order[@]:$shift_by}" "${order[@]:0:$shift_by}")
    for program in "${order[@]}"; do
      label="screen:$tag:$program:$round"
      case $program in
      tolmar)
        TOLMAR_BENCH_TIME_SCALE=$scale SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
          measure "$label" "$TOLMAR_BIN" ;;
      array)
        TOLMAR_BENCH_TIME_SCALE=$scale measure "$label" "$BENCH_BIN/array_floor" ;;
      present)
        measure "$label" "$BENCH_BIN/present_floor" "$floor_seconds" ;;
      triangle)
        # For memory only: the minimal program plus the driver's work for one
        # textured triangle.
        measure "$label" "$BENCH_BIN/present_floor" "$floor_seconds" triangle ;;
      esac
    done
  done
  ;;
startup)
  rounds=$4
  export TOLMAR_BENCH_FIRST_FRAME_EXIT=1
  for round in $(seq "$rounds"); do
    if (( round % 2 )); then order=(present tolmar); else order=(tolmar present); fi
    for program in "${order[@]}"; do
      label="startup:$tag:$program:$round"
      if [ "$program" = tolmar ]; then
        SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null measure "$label" "$TOLMAR_BIN"
      else
        measure "$label" "$BENCH_BIN/present_floor" 0
      fi
    done
  done
  ;;
audio)
  # The whole piece in real time; the disk driver's output is kept for audio_gaps.
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$raw/audio-$tag.raw measure "audio:$tag:tolmar:1" "$TOLMAR_BIN"
  ;;
stream)
  # Whole runs (clock sped up) with a 4 s and a 20-minute music file, from
  # folders that stream-short/ and stream-long/ under RAW_DIR hold: a streaming
  # library's peak memory does not depend on the file's length.
  rounds=$4 scale=$5
  for round in $(seq "$rounds"); do
    for length in short long; do
      TOLMAR_BENCH_TIME_SCALE=$scale SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
        MUSIC_DIR=$raw/stream-$length measure "stream:$tag:$length:$round" "$TOLMAR_BIN"
    done
  done
  ;;
*)
  echo "session.sh: unknown mode $mode" >&2
  exit 2
  ;;
esac
