#!/usr/bin/env bash
# What the real program does with a bad or unusual tolmar.mp3. The audio
# library decides each kind of file on every backend (tests/audio's results
# suite and the Linux backend's own kinds in results_test.cpp); here the
# whole program shows what only a run shows: one case of each refusal, and
# the files whose play tests the run itself.
# Usage: bad_input.sh refused|unreadable|plays PROGRAM
#   refused: each result code's failure report and status 255, before any
#            window (run with no display at all);
#   unreadable: a file the user may not read (needs root to switch to nobody;
#            skipped, and counted as skipped, when that cannot be done);
#   plays:   files that loop many times a second or are long, each run under
#            Xvfb on the disk audio driver for a few seconds of music and
#            ended with Escape; the audio threads must not spin and a long
#            file must be streamed.
group=$1
program=$2
. "$(dirname "$0")/../support/program_lib.sh"

# make_case NAME SHELL-COMMAND: folder NAME holding tolmar.mp3 made by the command.
make_case() {
  mkdir "$work/$1"
  # Without pipefail: "head" ending a generator early is how these work.
  (set +o pipefail && cd "$work/$1" && eval "$2") || die "$1: could not make the file"
}

# refused NAME CODE TEXT: the run prints exactly the failure report, ends
# with 255, and needs no display to get there.
refused() {
  local dir=$work/$1
  run_headless "$dir" SDL_AUDIODRIVER=dummy ${as_user:-}
  [ "$status" -eq 255 ] || die "$1: status $status, expected 255"
  printf 'FMOD error! (%d) %s\n' "$2" "$3" | cmp -s - "$dir/stdout.txt" ||
    die "$1: expected 'FMOD error! ($2) $3' on standard output"
  echo "refused  $1: ($2) $3"
}

NOT_FOUND="File not found. "
BAD_FILE="Error loading file. "
FORMAT="Unsupported file or audio format. "

refused_cases() {
  make_case missing ":"
  refused missing 23 "$NOT_FOUND"
  make_case directory "mkdir tolmar.mp3"
  refused directory 19 "$BAD_FILE"
  make_case text "yes 'tolmar plays one music file, looped.' | head -c 20000 >tolmar.mp3"
  refused text 25 "$FORMAT"
}

# plays NAME: a few seconds of music with this file, ended by Escape; sets
# position, how far the program had read the file. Waits on the program's
# own events, not on the wall clock, so a slow machine only makes it take
# longer.
plays() {
  local dir=$work/$1 music_ms
  start_program "$dir"
  wait_event "$dir" '$1 == "sound"' 120
  no_spin "plays    $1" "$dir/audio.raw"
  position=$(read_position "$pid" "$dir/tolmar.mp3")
  finish_with_escape "$dir"
  music_ms=$(since_start_ms "$dir" sound)
  [ "$music_ms" -ge 3000 ] || die "$1: the music started $music_ms ms into the run, inside the lead-in"
  [ -n "$(sound_after "$dir/audio.raw" 0)" ] || die "$1: no sound in the audio output"
  echo "plays    $1: music from $music_ms ms, read up to byte ${position:-?} of $(stat -c %s "$dir/tolmar.mp3")"
}

plays_cases() {
  start_xvfb
  make_case tenth-second "make_mp3 tolmar.mp3 0.1 44100 2"
  plays tenth-second
  # 20 minutes of 128 kbps frames (19 MB): ten seconds without the info
  # frame, repeated; encoding the whole length would take a minute.
  make_case twenty-minutes "make_mp3 t.mp3 10 44100 2 -t && for i in \$(seq 120); do cat t.mp3; done >tolmar.mp3 && rm t.mp3"
  plays twenty-minutes

  # Streamed, not read whole: a few seconds into the 19 MB file the program
  # has read a second or so ahead of what it played (16 kB a second). Peak
  # memory and CPU time are measured in bench/, not checked here.
  [ "${position:-0}" -gt 0 ] && [ "$position" -lt 2000000 ] ||
    die "the 20-minute file was read up to byte ${position:-?} a few seconds into the music"
}

# Root reads any file, so as root the program runs as nobody, from a copy
# that nobody can reach (with the build's own libraries beside it).
unreadable_case() {
  make_case unreadable "make_mp3 tolmar.mp3 1 44100 2 && chmod 000 tolmar.mp3"
  if [ "$(id -u)" -ne 0 ]; then
    refused unreadable 19 "$BAD_FILE"
    return
  fi
  local as_nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups" lib
  $as_nobody true 2>/dev/null || skip "running as root and cannot switch to user nobody"
  mkdir "$work/bin"
  cp "$program" "$work/bin/"
  for lib in $(ldd "$program" | awk '$3 ~ /^\// { print $3 }' | grep -v -e '^/lib/' -e '^/usr/'); do
    cp "$lib" "$work/bin/"
  done
  # A sanitizer's suppressions file goes along: where the clone lies in a
  # folder only root may pass (root's home), nobody could not read it.
  local supp=${LSAN_OPTIONS:-}
  supp=${supp#*suppressions=}
  supp=${supp%%:*}
  if [ -f "$supp" ]; then
    cp "$supp" "$work/bin/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS/"$supp"/"$work/bin/lsan.supp"}
  fi
  chmod -R a+rX "$work/bin"
  chmod 755 "$work" "$work/unreadable"
  program=$work/bin/tolmar as_user="$as_nobody env LD_LIBRARY_PATH=$work/bin" refused unreadable 19 "$BAD_FILE"
}

case "$group" in
refused) refused_cases ;;
unreadable) unreadable_case ;;
plays) plays_cases ;;
*) die "unknown group $group" ;;
esac
echo "PASS: $group"
