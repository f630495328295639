# Helpers for the end-to-end checks of the real program (tests/program,
# tests/reliability). Sourced by their scripts; each runs in a private temp
# folder ($work).
set -uo pipefail

# The case being run: its folder holds what the program printed (stdout.txt,
# stderr.txt) and its event log; a failure shows them, so one red run is
# enough to find the cause.
case_dir=""
fail() {
  echo "FAIL: $*"
  if [ -n "$case_dir" ]; then
    show_output "$case_dir"
  fi
  exit 1
}
show_output() {
  local f
  for f in stderr.txt stdout.txt events.txt; do
    [ -s "$1/$f" ] || continue
    echo "--- $1/$f (last 40 lines) ---"
    tail -n 40 "$1/$f" | cut -c1-300
  done
}

# ctest counts a script that exits with this status as skipped.
SKIP_STATUS=77
skip() { echo "SKIP: $*"; exit "$SKIP_STATUS"; }

# The scripts change folder, so a relative path to the program would break.
if [ -n "${program:-}" ]; then
  program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
fi

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

LEAD_IN_S=3            # the program's fixed black lead-in

# A stereo tone as WAV, then MP3 through lame with the given options.
# make_mp3 OUT SECONDS RATE_HZ CHANNELS [lame options...]
make_mp3() {
  local out=$1 seconds=$2 rate=$3 channels=$4
  shift 4
  sox -q -n -r "$rate" -c "$channels" -b 16 "$out.wav" synth "$seconds" sine 330 sine 440 vol 0.5 ||
    fail "sox could not make $out.wav"
  lame --quiet "$@" "$out.wav" "$out" || fail "lame could not encode $out"
  rm -f "$out.wav"
}

# Repeatable pseudo-random bytes (an AES keystream): random_bytes COUNT SEED
random_bytes() {
  openssl enc -aes-128-ctr -nosalt -pass "pass:$2" -in /dev/zero 2>/dev/null | head -c "$1"
}

# One Xvfb server of our own for the whole script. -displayfd lets the server
# pick a free display itself, so parallel tests never race for a number.
# Extra server options may follow, e.g. -wr for a white root window.
start_xvfb() {
  local fifo=$work/xvfb.fd
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp "$@" 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r -t 60 number <"$fifo" || fail "Xvfb did not start"
  export DISPLAY=:$number
}

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
  local snaps=() now start i buffers n target
  snaps[0]=$(audio_threads "$pid")
  for target in 100 25; do
    start=$(buffers_played "${snaps[-1]}" "${2:-}")
    for i in $(seq 1200); do  # 120 s, a limit for hangs
      kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "$1: the program ended (status $?) while its audio played"; }
      now=$(audio_threads "$pid")
      buffers=$(($(buffers_played "$now" "${2:-}") - start))
      [ "$buffers" -ge "$target" ] && break
      sleep 0.1
    done
    [ "$buffers" -ge "$target" ] || fail "$1: only $buffers device buffers played in 120 s"
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
    fail "$1: an audio thread blocked far from once a device buffer: spinning?"
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
# has a line that the condition picks (e.g. '$1 == "frame" && $3 == 1'),
# failing when the program ends first or SECONDS go by.
wait_event() {
  local i
  for i in $(seq $(($3 * 10))); do
    [ -f "$1/events.txt" ] && awk "$2 { found = 1 } END { exit !found }" "$1/events.txt" && return 0
    kill -0 "$pid" 2>/dev/null || fail "$1: the program ended while waiting for an event ($2)"
    sleep 0.1
  done
  [ -n "${TOLMAR_EVENT_SHIM:-}" ] || fail "TOLMAR_EVENT_SHIM is not set: run this through ctest"
  fail "$1: no event ($2) within $3 s"
}

# wait_audio_bytes DIR BYTES SECONDS: waits until the disk driver's output
# DIR/audio.raw holds BYTES, failing when the program ends first or SECONDS go by.
wait_audio_bytes() {
  local i
  for i in $(seq $(($3 * 10))); do
    [ "$(stat -c %s "$1/audio.raw" 2>/dev/null || echo 0)" -ge "$2" ] && return 0
    kill -0 "$pid" 2>/dev/null || fail "$1: the program ended before playing $2 bytes"
    sleep 0.1
  done
  fail "$1: the audio output did not reach $2 bytes within $3 s"
}

# Value of field F of the first event line of kind K: event_field DIR K F.
event_field() { awk -v k="$2" -v f="$3" '$1 == k { print $f; exit }' "$1/events.txt" 2>/dev/null; }

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
# $1/audio.raw, standard output in $1/stdout.txt); sets pid.
start_program() {
  case_dir=$1
  (cd "$1" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$1/audio.raw" $(event_env "$1") "$program" \
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
  local dir=$1 status
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "$dir: the program ended early (status $?)"; }
  # What the device had played when the stop was asked for (pcm_match's
  # PLAYED_BYTES): the music must reach at least that far.
  escape_bytes=$(stat -c %s "$dir/audio.raw" 2>/dev/null || echo 0)
  press_escape
  wait_gone "$pid" 120 || { kill -9 "$pid"; fail "$dir: Escape did not end the run within 120 s"; }
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "$dir: status $status"
  [ "$(od -An -c "$dir/stdout.txt" | tr -d ' ')" = '\n' ] || fail "$dir: standard output is not one newline"
}

# Seconds of output (32-bit float stereo at 44.1 kHz, the disk driver's
# format) from which on a non-zero sample appears after $2 seconds; empty
# when all is silence.
sound_after() {
  local skip=$(($2 * 44100 * 2 * 4))
  od -An -v -w4 -tx4 -j "$skip" "$1" | grep -nvm1 ' 00000000$' | cut -d: -f1 |
    awk -v s="$2" '{ print s + ($1 - 1) / 2 / 44100 }'
}
