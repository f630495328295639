#!/usr/bin/env bash
# Faults of the environment around a running program (no display and no
# audio output at start-up are the program tests' no_display and
# no_audio_output cases). Usage: environment.sh CASE PROGRAM
#   file_changes: tolmar.mp3 deleted, cut to half, cut to nothing while it plays;
#   signals:      SIGINT in the timeline, SIGTERM in the lead-in;
#   device_lost:  the disk audio output's file system fills up mid-run, and
#                 the PulseAudio server the program plays to is killed.
case_name=$1
program=$2
. "$(dirname "$0")/lib.sh"

# bounded_audio NAME SECONDS: the audio threads stay near idle for SECONDS.
bounded_audio() {
  local before after cpu
  before=$(audio_ticks "$pid")
  sleep "$2"
  after=$(audio_ticks "$pid")
  cpu=$(awk -v t=$((after - before)) -v hz="$CLK_TCK" -v s="$2" 'BEGIN { printf "%.0f", t / hz / s * 100 }')
  echo "$1: audio threads ${cpu}% of a core"
  [ "$cpu" -le 25 ] || fail "$1: the audio threads used ${cpu}% of a core"
}

# The run goes on after the file under it changed, and ends normally.
file_change() {
  local name=$1 change=$2 dir=$work/$1
  mkdir "$dir"
  cp ref.mp3 "$dir/tolmar.mp3"
  start_program "$dir"
  sleep $((LEAD_IN_S + 1))
  (set +o pipefail && cd "$dir" && eval "$change") || fail "$name: could not change the file"
  bounded_audio "$name" 3
  finish_with_escape "$dir"
  echo "$name: the run went on and ended normally"
}

file_changes() {
  make_mp3 ref.mp3 2 44100 2
  start_xvfb
  file_change deleted "rm tolmar.mp3"
  file_change cut-to-half "truncate -s \$((\$(stat -c %s tolmar.mp3) / 2)) tolmar.mp3"
  file_change cut-to-nothing "truncate -s 0 tolmar.mp3"
  # Replaced in place: the same file now holds text.
  file_change overwritten "yes 'not music any more' | head -c 30000 >tolmar.mp3"
}

# signal_ends NAME SIGNAL AFTER_S: the process is gone within 3 s of the
# signal, killed by it as any console program is.
signal_ends() {
  local name=$1 sig=$2 dir=$work/$1 status
  mkdir "$dir"
  cp ref.mp3 "$dir/tolmar.mp3"
  # Background jobs of a script start with SIGINT ignored; a terminal's
  # foreground program does not.
  (cd "$dir" && exec env --default-signal=INT SDL_AUDIODRIVER=dummy "$program" >stdout.txt 2>&1) &
  pid=$!
  sleep "$3"
  kill -0 "$pid" 2>/dev/null || fail "$name: the program ended before the signal"
  kill -s "$sig" "$pid"
  if ! wait_gone "$pid" 3; then
    kill -9 "$pid"
    wait "$pid"
    fail "$name: still running 3 s after SIG$sig"
  fi
  wait "$pid"
  status=$?
  echo "$name: ended by SIG$sig, status $status"
  [ "$status" -eq $((128 + $(kill -l "$sig"))) ] || fail "$name: status $status, expected death by SIG$sig"
}

signals() {
  make_mp3 ref.mp3 2 44100 2
  start_xvfb
  signal_ends interrupt-in-timeline INT $((LEAD_IN_S + 1))
  signal_ends terminate-in-lead-in TERM 1
}

# The disk driver writes 352.8 kB of audio a second; a 2 MB file system is
# full about 6 s into the run, after the music has started, and SDL then
# treats the device as gone. Without the right to mount, a file size limit
# does the same (its signal ignored, so the write just fails).
disk_full() {
  local dir=$work/disk-full how fd size=""
  mkdir -p "$dir/out"
  cp ref.mp3 "$dir/tolmar.mp3"
  if unshare -m true 2>/dev/null; then
    how="a full 2 MB file system"
    (cd "$dir" && exec unshare -m sh -c 'mount -t tmpfs -o size=2m tmpfs out && exec "$@"' sh \
      env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/out/audio.raw" "$program" \
      >stdout.txt 2>stderr.txt) &
  else
    how="a 2 MB file size limit"
    (cd "$dir" && trap '' XFSZ && ulimit -f 2048 &&
      exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/out/audio.raw" "$program" \
        >stdout.txt 2>stderr.txt) &
  fi
  pid=$!  # unshare and the shells exec, so this becomes the program's
  sleep 8
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "the program ended (status $?) when its audio output failed ($how): $(cat "$dir/stdout.txt")"; }
  for fd in /proc/"$pid"/fd/*; do
    [ "$(readlink "$fd")" = "$dir/out/audio.raw" ] && size=$(stat -L -c %s "$fd")
  done
  echo "disk-full: the audio output stopped at ${size:-?} bytes"
  [ -n "$size" ] && [ "$size" -gt 2000000 ] || fail "disk-full: the output never reached the limit"
  bounded_audio "disk-full, after the loss" 3
  finish_with_escape "$dir"
  echo "disk-full: audio output lost to $how; the run went on and ended normally"
}

# A private PulseAudio server (a null sink) killed 5 s into the run: what a
# desktop's sound server crashing looks like to the program.
pulse_killed() {
  local dir=$work/pulse-killed pulse
  if ! command -v pulseaudio >/dev/null; then
    echo "SKIP pulse-killed: pulseaudio is not installed"
    return
  fi
  mkdir -p "$dir/run"
  chmod 700 "$dir/run"
  cp ref.mp3 "$dir/tolmar.mp3"
  export XDG_RUNTIME_DIR=$dir/run PULSE_SERVER=unix:$dir/run/pulse.sock
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -L module-null-sink \
    -L "module-native-protocol-unix socket=$dir/run/pulse.sock auth-anonymous=1" >"$dir/pulse.log" 2>&1 &
  pulse=$!
  local i
  for i in $(seq 50); do [ -S "$dir/run/pulse.sock" ] && break; sleep 0.1; done
  [ -S "$dir/run/pulse.sock" ] || fail "pulse-killed: the PulseAudio server did not start: $(tail -3 "$dir/pulse.log")"
  (cd "$dir" && exec env SDL_AUDIODRIVER=pulseaudio "$program" >stdout.txt 2>stderr.txt) &
  pid=$!
  sleep 5
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "pulse-killed: the program ended early (status $?): $(cat "$dir/stdout.txt")"; }
  kill -9 "$pulse"
  wait "$pulse" 2>/dev/null
  bounded_audio "pulse-killed, after the loss" 3
  finish_with_escape "$dir"
  echo "pulse-killed: the sound server died mid-run; the run went on and ended normally"
}

device_lost() {
  make_mp3 ref.mp3 2 44100 2
  start_xvfb
  disk_full
  pulse_killed
}

case "$case_name" in
file_changes) file_changes ;;
signals) signals ;;
device_lost) device_lost ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
