# Helpers for the end-to-end checks of the real program (tests/program,
# tests/reliability), over script_lib.sh. Sourced by their scripts; each runs
# in its private temp folder ($work).
set -uo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/script_lib.sh"

# The scripts change folder, so a relative path to the program would break.
if [ -n "${program:-}" ]; then
  program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
fi

cd "$work" || exit 1

# The display the program runs on, for the whole script; Xvfb options may
# follow, e.g. -wr for a white root window.
start_xvfb() { start_display 640x480 "$@"; }

# One line per thread the audio library may run, "ID NAME VOLUNTARY OTHER TICKS":
# its voluntary and involuntary context switches and CPU ticks so far. These
# are SDL's device thread and the threads that carry the program's own name
# (the feeders); the main thread and the GL driver's threads are left out.
audio_threads() {
  local main_name t name
  main_name=$(cat "/proc/$1/comm" 2>/dev/null) || return 0
  for t in /proc/"$1"/task/*; do
    [ "${t##*/}" = "$1" ] && continue
    name=$(cat "$t/comm" 2>/dev/null) || continue
    case "$name" in
    SDLAudio*) name=SDLAudio ;;
    "$main_name") ;;
    *) continue ;;
    esac
    # Fields 14 and 15 (utime, stime) after the parenthesised name.
    echo "${t##*/} $name $(awk '/^voluntary_ctxt/ { v = $2 } /^nonvoluntary_ctxt/ { n = $2 } END { print v + 0, n + 0 }' "$t/status" 2>/dev/null) \
$(sed 's/.*) //' "$t/stat" 2>/dev/null | awk '{ print $12 + $13 }')"
  done
}

# Device buffers (1024 frames) played so far: from the disk driver's OUTPUT
# (32-bit float stereo) when given, else SDL's device thread's voluntary
# switches in the THREADS lines (it blocks once a buffer, also after its
# output was lost).
BUFFER_BYTES=$((1024 * 2 * 4))
buffers_played() {
  if [ -n "$2" ]; then
    echo $(($(stat -c %s "$2" 2>/dev/null || echo 0) / BUFFER_BYTES))
  else
    awk '$2 == "SDLAudio" { print $3; found = 1; exit } END { if (!found) print 0 }' <<<"$1"
  fi
}

# no_spin NAME [OUTPUT]: over the next 100 device buffers (2.3 s of audio),
# each audio thread blocks about once a buffer: SDL's thread waits for the
# device, a feeder for the callback's call for more. A thread that spins
# blocks far less often, or, spinning on short waits, far more. A thread that
# blocked less may only have gone to sleep (a feeder whose music ended): then
# nothing of it moves over 25 buffers more, where a spinning thread would be
# preempted or use CPU. All counts come from the program itself, so no speed
# of the machine and no other program on its cores moves the ratio; the
# bounds are 4x either way.
no_spin() {
  local snaps=() now start buffers n target
  snaps[0]=$(audio_threads "$pid")
  for target in 100 25; do
    start=$(buffers_played "${snaps[-1]}" "${2:-}")
    while_running 120 "$1: $target device buffers to play" buffers_reach "${2:-}"
    snaps+=("$now")
    n=${n:-$buffers}
  done
  awk -v what="$1" -v n="$n" 'FILENAME == ARGV[1] { v[$1] = $3; next }
    FILENAME == ARGV[2] { dv[$1] = $3 - v[$1]; at[$1] = $0; next }
    $1 in dv {
      asleep = at[$1] == $0
      if (dv[$1] == 0 && asleep) next
      printf "%s: %s thread %s blocked %d times in %d buffers%s\n", what, $2, $1, dv[$1], n, asleep ? ", then slept" : ""
      if (dv[$1] > n * 4 || (dv[$1] * 4 < n && !asleep)) bad = 1
    }
    END { exit bad }' <(echo "${snaps[0]}") <(echo "${snaps[1]}") <(echo "${snaps[2]}") ||
    die "$1: an audio thread blocked far from once a device buffer: spinning?"
}
# Whether no_spin's target is reached, from its start; sets now and buffers.
buffers_reach() {
  now=$(audio_threads "$pid")
  buffers=$(($(buffers_played "$now" "$1") - start))
  [ "$buffers" -ge "$target" ]
}

# Offset the program has read up to in the file it opened as NAME (its
# file position), empty when no such file is open.
read_position() {
  local fd
  for fd in /proc/"$1"/fd/*; do
    [ "$(readlink "$fd")" = "$2" ] || continue
    awk '/^pos:/ { print $2 }' "/proc/$1/fdinfo/${fd##*/}"
    return
  done
}

# wait_event DIR AWK-CONDITION SECONDS: waits until the program's event log
# has a line that the condition picks (e.g. '$1 == "frame" && $3 == 1').
wait_event() {
  [ -n "${TOLMAR_EVENT_SHIM:-}" ] || die "TOLMAR_EVENT_SHIM is not set: run this through ctest"
  while_running "$3" "$1: an event ($2)" logged "$1" "$2"
}
logged() { [ -f "$1/events.txt" ] && awk "$2 { found = 1 } END { exit !found }" "$1/events.txt"; }

# wait_audio_bytes DIR BYTES SECONDS: waits until the disk driver's output
# DIR/audio.raw holds BYTES.
wait_audio_bytes() { while_running "$3" "$1: $2 bytes of audio output" output_holds "$1/audio.raw" "$2"; }
output_holds() { [ "$(stat -L -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ]; }

# Value of field F of the first event line of kind K: event_field DIR K F.
event_field() { awk -v k="$2" -v f="$3" '$1 == k { print $f; exit }' "$1/events.txt" 2>/dev/null; }

# Runs the program in folder $1 without a display, with a time limit for
# hangs; sets out (standard output) and status. Its standard error is kept
# in $1/stderr.txt for a failure to show.
run_headless() {
  local dir=$1
  shift
  case_dir=$dir
  (cd "$dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY "$@" timeout 120 "$program" >stdout.txt 2>stderr.txt)
  status=$?
  out=$(cat "$dir/stdout.txt")
}

# ms between the program's first clock read and the first event of kind $2.
since_start_ms() {
  local clock at
  clock=$(event_field "$1" clock 2)
  at=$(event_field "$1" "$2" 2)
  [ -n "$clock" ] && [ -n "$at" ] || die "the event log has no '$2' or no clock reading"
  echo $((at - clock))
}

# Presses and releases Escape on the X display.
press_escape() { xdotool keydown Escape; sleep 0.2; xdotool keyup Escape; }

# Waits up to $2 seconds for process $1 to end; true if it did.
wait_gone() {
  local i
  for i in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$1" 2>/dev/null
}

# Starts the program in folder $1 on the disk audio driver (output in
# $1/audio.raw, standard output in $1/stdout.txt), with any NAME=VALUE after
# the folder added to its environment; sets pid.
start_program() {
  case_dir=$1
  (cd "$1" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$1/audio.raw" $(event_env "$1") "${@:2}" "$program" \
    >"$1/stdout.txt" 2>"$1/stderr.txt") &
  pid=$!
}

# Environment that preloads the event log (TOLMAR_EVENT_SHIM, set by the test
# harness) into the program, writing to DIR/events.txt. The sanitizer build
# must be told to accept a library loaded before its runtime. Leak checking
# is off for these whole runs: at exit, with the GL driver's and SDL's
# threads still there, LeakSanitizer's own thread tracer now and then
# crashes ("Tracer caught signal 11", status 134) on a busy machine. Our
# code's leaks are checked where the tracer is reliable: the audio library's
# tests, the music tests and the fuzzers' replays. ASan and UBSan stay on.
event_env() {
  [ -n "${TOLMAR_EVENT_SHIM:-}" ] || return 0
  echo "LD_PRELOAD=$TOLMAR_EVENT_SHIM TOLMAR_EVENT_LOG=$1/events.txt ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0"
}

# Ends a run with Escape and checks it went as a normal run does: status 0,
# one newline on standard output. Kills a run that does not end.
finish_with_escape() {
  local dir=$1
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; die "$dir: the program ended early (status $?)"; }
  # What the device had played when the stop was asked for (pcm_match's
  # PLAYED_BYTES): the music must reach at least that far.
  escape_bytes=$(stat -c %s "$dir/audio.raw" 2>/dev/null || echo 0)
  press_escape
  wait_gone "$pid" 120 || { kill -9 "$pid"; die "$dir: Escape did not end the run within 120 s"; }
  wait "$pid"
  ended_normally "$dir" $?
}

# ended_normally DIR STATUS: as a run ends by itself or by Escape, status 0
# and one newline on standard output.
ended_normally() {
  [ "$2" -eq 0 ] || die "$1: status $2"
  [ "$(od -An -c "$1/stdout.txt" | tr -d ' ')" = '\n' ] || die "$1: standard output is not one newline"
}

# Seconds of output (32-bit float stereo at 44.1 kHz, the disk driver's
# format) from which on a non-zero sample appears after $2 seconds; empty
# when all is silence.
sound_after() {
  local skip=$(($2 * 44100 * 2 * 4))
  od -An -v -w4 -tx4 -j "$skip" "$1" | grep -nvm1 ' 00000000$' | cut -d: -f1 |
    awk -v s="$2" '{ print s + ($1 - 1) / 2 / 44100 }'
}
