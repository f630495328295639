#!/usr/bin/env bash
# Faults of the environment around a running program (no display and no
# audio output at start-up are the program tests' no_display and
# no_audio_output cases). Usage: environment.sh CASE PROGRAM
#   file_changes: tolmar.mp3 deleted, cut to half, cut to nothing while it plays;
#   signals:      SIGINT in the timeline, SIGTERM in the lead-in;
#   disk_full:    the disk audio output's file system fills up mid-run;
#   pulse_killed: the PulseAudio server the program plays to is killed and
#                 started again; the music comes back at the clock's place
#                 (skipped, and counted as skipped, without pulseaudio).
# Each waits on the program's own events (the event log), never on a guess
# of how long start-up takes, so a slow machine only makes it take longer.
case_name=$1
program=$2
. "$(dirname "$0")/../support/program_lib.sh"

# new_case NAME: folder NAME, the case's, holding the music.
new_case() {
  case_dir=$work/$1
  mkdir -p "$case_dir"
  cp ref.mp3 "$case_dir/tolmar.mp3"
}

# The run goes on after the file under it changed, and ends normally.
file_change() {
  local name=$1 change=$2 dir=$work/$1
  new_case "$name"
  start_program "$dir"
  wait_event "$dir" '$1 == "sound"' 120
  (set +o pipefail && cd "$dir" && eval "$change") || die "$name: could not change the file"
  no_spin "$name" "$dir/audio.raw"
  finish_with_escape "$dir"
  echo "$name: the run went on and ended normally"
}

file_changes() {
  file_change deleted "rm tolmar.mp3"
  file_change cut-to-half "truncate -s \$((\$(stat -c %s tolmar.mp3) / 2)) tolmar.mp3"
  file_change cut-to-nothing "truncate -s 0 tolmar.mp3"
  # Replaced in place: the same file now holds text.
  file_change overwritten "yes 'not music any more' | head -c 30000 >tolmar.mp3"
}

# signal_ends NAME SIGNAL EVENT: once the event log shows EVENT, the signal
# ends the process (within 30 s, a limit for hangs), killed by it as any
# console program is.
signal_ends() {
  local name=$1 sig=$2 dir=$work/$1 status
  new_case "$name"
  # Background jobs of a script start with SIGINT ignored; a terminal's
  # foreground program does not.
  (cd "$dir" && exec env --default-signal=INT SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/audio.raw" \
    $(event_env "$dir") "$program" >stdout.txt 2>stderr.txt) &
  pid=$!
  wait_event "$dir" "$3" 120
  kill -s "$sig" "$pid"
  if ! wait_gone "$pid" 30; then
    kill -9 "$pid"
    wait "$pid"
    die "$name: still running 30 s after SIG$sig"
  fi
  wait "$pid"
  status=$?
  echo "$name: ended by SIG$sig, status $status"
  [ "$status" -eq $((128 + $(kill -l "$sig"))) ] || die "$name: status $status, expected death by SIG$sig"
}

signals() {
  # The music has started: the timeline runs.
  signal_ends interrupt-in-timeline INT '$1 == "sound"'
  # The first black frame is up; the log must still show no music and no
  # lit frame after the process died, so the signal came in the lead-in.
  signal_ends terminate-in-lead-in TERM '$1 == "frame"'
  ! grep -q -e '^sound' -e '^frame [0-9]* 1' "$work/terminate-in-lead-in/events.txt" ||
    die "terminate-in-lead-in: the signal came after the lead-in"
  echo "terminate-in-lead-in: the run was in its lead-in when the signal came"
}

# The descriptor the program writes the disk-full case's audio to.
output_fd() {
  local fd
  for fd in /proc/"$pid"/fd/*; do
    [ "$(readlink "$fd")" = "$work/disk-full/out/audio.raw" ] && echo "${fd##*/}"
  done
}

# The disk driver writes 352.8 kB of audio a second; a 2 MB file system is
# full about 6 s into the run, after the music has started (at whatever pace
# the machine manages), and SDL then treats the device as gone. Without the
# right to mount, a file size limit does the same (its signal ignored, so
# the write just fails).
disk_full() {
  local dir=$work/disk-full how
  new_case disk-full
  mkdir "$dir/out"
  local run=(env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/out/audio.raw" $(event_env "$dir") "$program")
  if unshare -m true 2>/dev/null; then
    how="a full 2 MB file system"
    (cd "$dir" && exec unshare -m sh -c 'mount -t tmpfs -o size=2m tmpfs out && exec "$@"' sh "${run[@]}" >stdout.txt 2>stderr.txt) &
  else
    how="a 2 MB file size limit"
    (cd "$dir" && trap '' XFSZ && ulimit -f 2048 && exec "${run[@]}" >stdout.txt 2>stderr.txt) &
  fi
  pid=$!  # unshare and the shells exec, so this becomes the program's
  wait_event "$dir" '$1 == "sound"' 120
  # The output grows at real-time pace or slower; wait for it to hit the
  # limit. Through the program's own descriptor: the file system may be
  # mounted in the program's private namespace only.
  while_running 120 "disk-full: the output filling $how" output_holds "/proc/$pid/fd/$(output_fd)" 2000001
  echo "disk-full: the audio output passed 2 MB"
  # The output lives in the program's namespace: SDL's thread counts the buffers.
  no_spin "disk-full, after the loss"
  finish_with_escape "$dir"
  echo "disk-full: audio output lost to $how; the run went on and ended normally"
}

# A private PulseAudio server (a null sink) killed mid-run and started again:
# what a desktop's sound server crashing, or restarted as a cure, looks like
# to the program. The music is eight one-second steps, so the recording of
# the server's output tells where in the music it came back.
pulse_killed() {
  local dir=$work/pulse-killed
  new_case pulse-killed
  make_steps_mp3 "$dir/tolmar.mp3" 8
  start_sound_server "$dir/pulse" || die "pulse-killed: no sound server to play to"
  record_sink "$dir/before.raw"
  start_program "$dir" SDL_AUDIODRIVER=pulseaudio
  server_restarted "$dir" pulse-killed
  finish_with_escape "$dir"
  echo "pulse-killed: the sound server died and came back mid-run; the music followed, the run ended normally"
}

[ "$case_name" != pulse_killed ] || command -v pulseaudio >/dev/null || skip "pulse-killed: pulseaudio is not installed"
make_mp3 ref.mp3 2 44100 2
start_xvfb
case "$case_name" in
file_changes | signals | disk_full | pulse_killed) "$case_name" ;;
*) die "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
