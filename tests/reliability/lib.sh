# Helpers shared by the reliability checks of the real program. Sourced by
# the scripts in this folder; each runs in a private temp folder ($work).
set -uo pipefail

fail() { echo "FAIL: $*"; exit 1; }

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
CLK_TCK=$(getconf CLK_TCK)

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
start_xvfb() {
  local fifo=$work/xvfb.fd
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local number
  read -r -t 20 number <"$fifo" || fail "Xvfb did not start"
  export DISPLAY=:$number
}

# CPU ticks used so far by the threads the audio library runs: SDL's device
# thread and the decoding threads, which carry the program's own name. The
# main thread (it spins by design) and the GL driver's threads are left out.
audio_ticks() {
  local pid=$1 main_name total=0 t name ticks
  main_name=$(cat "/proc/$pid/comm" 2>/dev/null) || { echo 0; return; }
  for t in /proc/"$pid"/task/*; do
    [ "${t##*/}" = "$pid" ] && continue
    name=$(cat "$t/comm" 2>/dev/null) || continue
    case "$name" in
    SDLAudio* | "$main_name") ;;
    *) continue ;;
    esac
    # Fields 14 and 15 (utime, stime) after the parenthesised name.
    ticks=$(sed 's/.*) //' "$t/stat" 2>/dev/null | awk '{ print $12 + $13 }') || continue
    total=$((total + ${ticks:-0}))
  done
  echo "$total"
}

peak_rss_kb() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

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
  (cd "$1" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$1/audio.raw" "$program" \
    >"$1/stdout.txt" 2>"$1/stderr.txt") &
  pid=$!
}

# Ends a run with Escape and checks it went as a normal run does: status 0,
# one newline on standard output. Kills a run that does not end.
finish_with_escape() {
  local dir=$1 status
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "$dir: the program ended early (status $?): $(cat "$dir/stdout.txt")"; }
  press_escape
  wait_gone "$pid" 10 || { kill -9 "$pid"; fail "$dir: Escape did not end the run"; }
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "$dir: status $status: $(head -c 300 "$dir/stdout.txt")"
  [ "$(od -An -c "$dir/stdout.txt" | tr -d ' ')" = '\n' ] ||
    fail "$dir: standard output is not one newline: $(head -c 300 "$dir/stdout.txt")"
}

# Seconds of output (32-bit float stereo at 44.1 kHz, the disk driver's
# format) from which on a non-zero sample appears after $2 seconds; empty
# when all is silence.
sound_after() {
  local skip=$(($2 * 44100 * 2 * 4))
  od -An -v -w4 -tx4 -j "$skip" "$1" | grep -nvm1 ' 00000000$' | cut -d: -f1 |
    awk -v s="$2" '{ print s + ($1 - 1) / 2 / 44100 }'
}
