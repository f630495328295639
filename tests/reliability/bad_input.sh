#!/usr/bin/env bash
# What the real program does with every kind of bad or unusual tolmar.mp3.
# Usage: bad_input.sh refused|plays PROGRAM
#   refused: files it must refuse with the audio failure report and status
#            255, before any window (run with no display at all);
#   plays:   files it must play, each run under Xvfb on the disk audio driver
#            for a few seconds of music and ended with Escape; the audio
#            threads must not spin and a long file must be streamed.
#   unreadable: a file the user may not read (needs root to switch to nobody;
#            skipped, and counted as skipped, when that cannot be done).
group=$1
program=$2
. "$(dirname "$0")/../support/program_lib.sh"

# One reference file most cases are cut from: 4 s, 44.1 kHz stereo, 128 kbps.
make_mp3 ref.mp3 4 44100 2

# make_case NAME SHELL-COMMAND: folder NAME holding tolmar.mp3 made by the command.
make_case() {
  mkdir "$work/$1"
  # Without pipefail: "head" ending a generator early is how these work.
  (set +o pipefail && cd "$work/$1" && eval "$2") || fail "$1: could not make the file"
}

# refused NAME CODE TEXT: the run prints exactly the failure report, ends
# with 255, and needs no display to get there.
refused() {
  local dir=$work/$1 status
  case_dir=$dir
  (cd "$dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy ${as_user:-} \
    timeout 120 "$program" >stdout.txt 2>stderr.txt)
  status=$?
  [ "$status" -eq 255 ] || fail "$1: status $status, expected 255"
  printf 'FMOD error! (%d) %s\n' "$2" "$3" | cmp -s - "$dir/stdout.txt" ||
    fail "$1: expected 'FMOD error! ($2) $3' on standard output"
  echo "refused  $1: ($2) $3"
}

NOT_FOUND="File not found. "
BAD_FILE="Error loading file. "
FORMAT="Unsupported file or audio format. "

refused_cases() {
  make_case missing ":"
  refused missing 23 "$NOT_FOUND"
  make_case empty ": >tolmar.mp3"
  refused empty 25 "$FORMAT"
  make_case directory "mkdir tolmar.mp3"
  refused directory 19 "$BAD_FILE"
  make_case dangling-link "ln -s gone.mp3 tolmar.mp3"
  refused dangling-link 23 "$NOT_FOUND"
  make_case link-loop "ln -s tolmar.mp3 tolmar.mp3"
  refused link-loop 19 "$BAD_FILE"
  # Neither ends when read: opening them as a stream would hang or run forever.
  make_case named-pipe "mkfifo tolmar.mp3"
  refused named-pipe 19 "$BAD_FILE"
  make_case link-to-dev-zero "ln -s /dev/zero tolmar.mp3"
  refused link-to-dev-zero 19 "$BAD_FILE"

  make_case zeros "head -c 1048576 /dev/zero >tolmar.mp3"
  refused zeros 25 "$FORMAT"
  make_case random-bytes "random_bytes 65536 tolmar >tolmar.mp3"
  refused random-bytes 25 "$FORMAT"
  make_case text "yes 'tolmar plays one music file, looped.' | head -c 20000 >tolmar.mp3"
  refused text 25 "$FORMAT"
  make_case wav-renamed "sox -q -n -r 44100 -c 2 -b 16 -t wav tolmar.mp3 synth 1 sine 440"
  refused wav-renamed 25 "$FORMAT"
  make_case ogg-renamed "sox -q -n -r 44100 -c 2 -t ogg tolmar.mp3 synth 1 sine 440"
  refused ogg-renamed 25 "$FORMAT"
  make_case png-renamed "convert -size 64x64 gradient: png:tolmar.mp3"
  refused png-renamed 25 "$FORMAT"
  # An ID3v2.3 tag (title frame plus padding, 1034 bytes) and nothing else.
  make_case id3-only "printf 'ID3\x03\x00\x00\x00\x00\x08\x00TIT2\x00\x00\x00\x07\x00\x00\x00tolmar' >tolmar.mp3 &&
    head -c 1007 /dev/zero >>tolmar.mp3"
  refused id3-only 25 "$FORMAT"
  make_case first-10-bytes "head -c 10 ../ref.mp3 >tolmar.mp3"
  refused first-10-bytes 25 "$FORMAT"
  # The LAME info frame alone: a valid frame header, no audio.
  make_case info-frame-only "make_mp3 t.mp3 1 48000 2 -b 128 && head -c 384 t.mp3 >tolmar.mp3"
  refused info-frame-only 25 "$FORMAT"
  # One audio frame with nothing after it: the decoder cannot confirm the
  # sync without a second header, so it finds no audio (as mpg123 does).
  make_case lone-frame "make_mp3 t.mp3 1 48000 2 -b 128 -t && head -c 384 t.mp3 >tolmar.mp3"
  refused lone-frame 25 "$FORMAT"
}

# plays NAME: a few seconds of music with this file, ended by Escape. Waits
# on the program's own events, not on the wall clock, so a slow machine only
# makes it take longer.
plays() {
  local dir=$work/$1 clock sound position
  start_program "$dir"
  wait_event "$dir" '$1 == "sound"' 120
  no_spin "plays    $1" "$dir/audio.raw"
  position=$(read_position "$pid" "$dir/tolmar.mp3")
  finish_with_escape "$dir"
  clock=$(event_field "$dir" clock 2)
  sound=$(event_field "$dir" sound 2)
  [ $((sound - clock)) -ge 3000 ] || fail "$1: the music started $((sound - clock)) ms into the run, inside the lead-in"
  [ -n "$(sound_after "$dir/audio.raw" 0)" ] || fail "$1: no sound in the audio output"
  echo "plays    $1: music from $((sound - clock)) ms, read up to byte ${position:-?} of $(stat -c %s "$dir/tolmar.mp3")"
  eval "position_${1//-/_}=${position:-0}"
}

plays_cases() {
  start_xvfb
  make_case reference "cp ../ref.mp3 tolmar.mp3"
  plays reference
  make_case first-frame "make_mp3 t.mp3 1 48000 2 -b 128 && head -c 768 t.mp3 >tolmar.mp3"
  plays first-frame
  make_case half "head -c \$((\$(stat -c %s ../ref.mp3) / 2)) ../ref.mp3 >tolmar.mp3"
  plays half
  make_case garbage-inside "head -c 32000 ../ref.mp3 >tolmar.mp3 && random_bytes 4096 splice >>tolmar.mp3 &&
    tail -c +32001 ../ref.mp3 >>tolmar.mp3"
  plays garbage-inside
  make_case 8k-mono "make_mp3 tolmar.mp3 4 8000 1"
  plays 8k-mono
  make_case 22k-stereo "make_mp3 tolmar.mp3 4 22050 2"
  plays 22k-stereo
  make_case 32k-mono "make_mp3 tolmar.mp3 4 32000 1"
  plays 32k-mono
  make_case 48k-stereo "make_mp3 tolmar.mp3 4 48000 2"
  plays 48k-stereo
  make_case vbr "make_mp3 tolmar.mp3 4 44100 2 -V 2"
  plays vbr
  make_case tenth-second "make_mp3 tolmar.mp3 0.1 44100 2"
  plays tenth-second
  # 20 minutes of 128 kbps frames (19 MB): ten seconds without the info
  # frame, repeated; encoding the whole length would take a minute.
  make_case twenty-minutes "make_mp3 t.mp3 10 44100 2 -t && for i in \$(seq 120); do cat t.mp3; done >tolmar.mp3 && rm t.mp3"
  plays twenty-minutes

  # Streamed, not read whole: a few seconds into the 19 MB file the program
  # has read a second or so ahead of what it played (16 kB a second). Peak
  # memory and CPU time are measured in bench/, not checked here.
  [ "$position_twenty_minutes" -gt 0 ] && [ "$position_twenty_minutes" -lt 2000000 ] ||
    fail "the 20-minute file was read up to byte $position_twenty_minutes a few seconds into the music"
}

# Root reads any file, so as root the program runs as nobody, from a copy
# that nobody can reach (with the build's own libraries beside it).
unreadable_case() {
  make_case unreadable "cp ../ref.mp3 tolmar.mp3 && chmod 000 tolmar.mp3"
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
  chmod -R a+rX "$work/bin"
  chmod 755 "$work" "$work/unreadable"
  program=$work/bin/tolmar as_user="$as_nobody env LD_LIBRARY_PATH=$work/bin" refused unreadable 19 "$BAD_FILE"
}

case "$group" in
refused) refused_cases ;;
unreadable) unreadable_case ;;
plays) plays_cases ;;
*) fail "unknown group $group" ;;
esac
echo "PASS: $group"
