#!/usr/bin/env bash
# Soak: three full-length runs of the program back to back under Xvfb on the
# disk audio driver (about 7 minutes). Each must end by itself with status 0
# and one newline; from the music's first sample on, the audio it wrote must
# be the music decoded directly and repeated, without a break. (Peak memory
# and the audio threads' CPU share over a whole run: bench/run.sh audio.)
# Usage: tests/reliability/soak.sh [BUILD_DIR]   (default: build)
# MUSIC=file.mp3 soaks with that file instead of the default soundtrack.
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$root" && mkdir -p "${1:-build}" && cd "${1:-build}" && pwd)
program=$build/tolmar
. "$root/tests/support/program_lib.sh"

RUNS=3
RUN_LIMIT_S=200  # a run lasts 3 s of lead-in plus 133 s

[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || die "configure"
cmake --build "$build" --target tolmar pcm_match >/dev/null || die "build"

music=${MUSIC:-$root/tolmar.mp3}
if [ ! -f "$music" ]; then
  echo "Composing the default soundtrack ..."
  cmake --build "$build" --target soundtrack >/dev/null || die "build the soundtrack tool"
  music=$work/soundtrack.mp3
  "$build/tools/soundtrack/soundtrack" "$music" >/dev/null || die "compose the soundtrack"
fi
echo "music: $music ($(stat -c %s "$music") bytes)"
start_xvfb

table="| run | status | length (s) | audio against the decode |
| --- | --- | --- | --- |"
for n in $(seq "$RUNS"); do
  dir=$work/run$n
  mkdir "$dir"
  cp "$music" "$dir/tolmar.mp3"
  began=$(date +%s.%N)
  start_program "$dir"
  if ! wait_gone "$pid" "$RUN_LIMIT_S"; then
    kill -9 "$pid"
    die "run $n: still running after $RUN_LIMIT_S s"
  fi
  wait "$pid"
  status=$?
  ended=$(date +%s.%N)
  length=$(awk -v a="$began" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')
  match=$("$build/tests/reliability/pcm_match" "$dir/audio.raw" "$dir/tolmar.mp3")
  matched=$?
  echo "run $n: status $status, ${length} s; $match"
  table+="
| $n | $status | $length | $match |"
  [ "$status" -eq 0 ] || die "run $n: status $status: $(head -c 300 "$dir/stdout.txt")"
  [ "$(od -An -c "$dir/stdout.txt" | tr -d ' ')" = '\n' ] || die "run $n: standard output is not one newline"
  [ "$matched" -eq 0 ] || die "run $n: the audio output is not the music without a break"
  rm -f "$dir/audio.raw"  # 48 MB a run
done

echo
echo "$table"
echo
echo "PASS: soak"
