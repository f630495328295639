# What every test script shares: a private temp folder ($work) removed at
# exit with the helpers started for it, the fatal failure and the skip,
# MP3s made with sox and lame, a display and a sound server of its own, the
# test command's compiler cache.
# Sourced; scripts that count their checks and go on source checks.sh too,
# whose fail is the counting one.

# The case being run: its folder holds what the program printed (stdout.txt,
# stderr.txt) and its event log; die shows them, so one red run is enough to
# find the cause.
case_dir=""
show_output() {
  local f
  for f in stderr.txt stdout.txt events.txt; do
    [ -s "$1/$f" ] || continue
    echo "--- $1/$f (last 40 lines) ---"
    tail -n 40 "$1/$f" | cut -c1-300
  done
}
# A check passed (checks.sh's pass, sourced before or after, counts it too).
declare -F pass >/dev/null || pass() { echo "PASS: $*"; }

# Fails the whole script here.
die() {
  echo "FAIL: $*"
  [ -n "$case_dir" ] && show_output "$case_dir"
  exit 1
}

# ctest counts a script that exits with this status as skipped.
SKIP_STATUS=77
skip() { echo "SKIP: $*"; exit "$SKIP_STATUS"; }

# The compiler cache the test command names (TOLMAR_LAUNCHER), as options
# for a script's own cmake configure.
launcher=()
[ -z "${TOLMAR_LAUNCHER:-}" ] ||
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$TOLMAR_LAUNCHER" -DCMAKE_CXX_COMPILER_LAUNCHER="$TOLMAR_LAUNCHER")

work=$(mktemp -d)
helpers=()  # process ids of the display and sound server started here
cleanup() {
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # through the EXIT trap, so nothing is left running

# A tone as WAV, then MP3 through lame with the given options (none: its
# defaults, with the info frame that records the encoder's delay and padding).
# make_mp3 OUT SECONDS RATE_HZ CHANNELS [lame options...]
make_mp3() {
  local out=$1 seconds=$2 rate=$3 channels=$4
  shift 4
  sox -q -n -r "$rate" -c "$channels" -b 16 "$out.wav" synth "$seconds" sine 330 sine 440 vol 0.5 ||
    die "sox could not make $out.wav"
  lame --quiet "$@" "$out.wav" "$out" || die "lame could not encode $out"
  rm -f "$out.wav"
}

# Repeatable pseudo-random bytes (an AES keystream): random_bytes COUNT SEED
random_bytes() {
  openssl enc -aes-128-ctr -nosalt -pass "pass:$2" -in /dev/zero 2>/dev/null | head -c "$1"
}

# start_display WIDTHxHEIGHT [Xvfb options]: an Xvfb server of our own, e.g.
# -wr for a white root window; exports DISPLAY. -displayfd lets the server
# pick a free display itself, so parallel tests never race for a number.
start_display() {
  local fifo=$work/xvfb.fd number size=$1
  shift
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp "$@" 3>"$fifo" >/dev/null 2>&1 &
  helpers+=($!)
  read -r -t 60 number <"$fifo" || die "Xvfb did not start"
  export DISPLAY=:$number
}

# start_sound_server DIR: a PulseAudio server of our own with one null sink,
# tolmar_sink, on a socket in DIR: a real output device that plays at
# real-time pace and touches no other sound server. Exports PULSE_SERVER and
# sets sound_pid; prints why and returns 1 when it does not answer.
start_sound_server() {
  mkdir -p "$1"
  chmod 700 "$1"
  XDG_RUNTIME_DIR=$1 pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    -L "module-native-protocol-unix socket=$1/socket auth-anonymous=1" \
    -L "module-null-sink sink_name=tolmar_sink" >"$1/log" 2>&1 &
  sound_pid=$!
  helpers+=("$sound_pid")
  export PULSE_SERVER=unix:$1/socket
  for _ in $(seq 300); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "the PulseAudio null sink did not start: $(tail -n 3 "$1/log")"
  return 1
}

# Mean grey (0..255) of the whole screen and the share of its pixels that
# are not black, as "mean share" ("none none" when it cannot be taken); the
# screenshot is kept in FILE.
screen_stats() {
  import -window root "$1" 2>/dev/null || { echo "none none"; return; }
  convert "$1" -colorspace Gray -format "%[fx:mean*255] " info:
  convert "$1" -colorspace Gray -threshold 1% -format "%[fx:mean]\n" info:
}
