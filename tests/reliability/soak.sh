#!/usr/bin/env bash
# Soak: three full-length runs of the program back to back, each
# program_test.sh's full_run (under Xvfb on the disk audio driver; about 7
# minutes in all): each must end by itself with status 0 and one newline,
# and from the music's first sample on, the audio it wrote must be the music
# decoded directly and repeated, without a break. (Peak memory and the audio
# threads' CPU share over a whole run: bench/run.sh audio.)
# Usage: tests/reliability/soak.sh [BUILD_DIR]   (default: build)
# MUSIC=file.mp3 soaks with that file instead of the default soundtrack.
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$root" && mkdir -p "${1:-build}" && cd "${1:-build}" && pwd)
. "$root/tests/support/script_lib.sh"

[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || die "configure"
cmake --build "$build" --target tolmar pcm_match event_log >/dev/null || die "build"

MUSIC=${MUSIC:-$root/tolmar.mp3}
if [ ! -f "$MUSIC" ]; then
  echo "Composing the default soundtrack ..."
  cmake --build "$build" --target soundtrack >/dev/null || die "build the soundtrack tool"
  MUSIC=$work/soundtrack.mp3
  "$build/tools/soundtrack/soundtrack" "$MUSIC" >/dev/null || die "compose the soundtrack"
fi
echo "music: $MUSIC ($(stat -c %s "$MUSIC") bytes)"
export MUSIC TOLMAR_EVENT_SHIM=$build/tests/support/libevent_log.so PCM_MATCH=$build/tests/reliability/pcm_match
for n in 1 2 3; do
  echo "run $n:"
  bash "$root/tests/program/program_test.sh" full_run "$build/tolmar" || die "run $n"
done
echo "PASS: soak"
