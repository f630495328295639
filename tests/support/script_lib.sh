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

# while_running SECONDS WHAT COMMAND...: runs COMMAND every 0.1 s until it
# succeeds; fails when the program ($pid) ends first or SECONDS go by.
while_running() {
  local limit=$1 what=$2 i
  shift 2
  for i in $(seq $((limit * 10))); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; die "$what: the program ended (status $?)"; }
    sleep 0.1
  done
  die "$what: not done within $limit s"
}

# Music whose place can be heard: STEPS one-second tones, the k-th at
# 400 + 100k Hz (make_steps_mp3 OUT STEPS).
make_steps_mp3() {
  local k parts=()
  for k in $(seq 0 $(($2 - 1))); do
    parts+=("$1.$k.wav")
    sox -q -n -r 44100 -c 2 -b 16 "$1.$k.wav" synth 1 sine $((400 + 100 * k)) vol 0.5 || die "sox could not make $1"
  done
  sox -q "${parts[@]}" "$1.wav" && lame --quiet "$1.wav" "$1" || die "could not make $1"
  rm -f "${parts[@]}" "$1.wav"
}

# record_sink FILE: the null sink's monitor, 16-bit stereo at 44.1 kHz, into
# FILE from now on; sets rec_pid, and rec_zero to the time (epoch seconds) of
# its first sample, from when the data began to flow: parec can take seconds
# to start on a busy machine, and then keeps pace with the sink.
record_sink() {
  local size=0
  parec -d tolmar_sink.monitor --latency-msec=20 --format=s16le --rate=44100 --channels=2 --raw "$1" 2>/dev/null &
  rec_pid=$!
  helpers+=("$rec_pid")
  for _ in $(seq 600); do
    size=$(stat -c %s "$1" 2>/dev/null || echo 0)
    [ "$size" -gt 0 ] && break
    sleep 0.1
  done
  [ "$size" -gt 0 ] || die "parec recorded nothing in a minute"
  rec_zero=$(awk -v now="$(date +%s.%N)" -v b="$size" 'BEGIN { printf "%.3f", now - b / 176400 }')
}

# Per tenth of a second of such a recording: "RMS HZ", the left channel's RMS
# (full scale 1) and its frequency from upward swings through +-0.05.
tenths() {
  od -An -v -w4 -td2 "$1" 2>/dev/null | awk '{ x = $1 / 32768; sum += x * x
    if (x < -0.05) low = 1; if (low && x > 0.05) { up++; low = 0 }
    if (++n == 4410) { printf "%.3f %d\n", sqrt(sum / n), up * 10; n = sum = up = 0 } }'
}
# Seconds into the recording FILE of its first sample louder than 0.1.
onset() { od -An -v -w4 -td2 "$1" | awk '$1 > 3277 || $1 < -3277 { printf "%.3f\n", (NR - 1) / 44100; exit }'; }
# loud_for FILE TENTHS: the recording holds TENTHS tenths louder than RMS 0.1.
loud_for() { [ "$(tenths "$1" | awk '$1 > 0.1' | wc -l)" -ge "$2" ]; }

# Where the steps music was heard in a recording started at REC_START (epoch
# seconds) against where a clock started with the music at MUSIC_START puts
# it, round its loop of STEPS seconds: "BACK HEARD EXPECTED", the seconds
# from SERVER_START to the sound, the step heard in its fourth loud tenth,
# and the clock's place then. judge_place says whether they agree (within
# 1.5 s of the step's middle: a start over or a clock stopped while the
# server was away is 4 s off).
heard_place() {  # FILE REC_START MUSIC_START STEPS SERVER_START
  tenths "$1" | awk -v r="$2" -v m="$3" -v steps="$4" -v s="$5" '$1 > 0.1 && !first { first = NR }
    first && NR == first + 3 { e = (r + (NR - 0.5) / 10 - m) % steps
      printf "%.1f %d %.2f\n", r - s + (first - 1) / 10, int(($2 - 350) / 100), e; exit }'
}
judge_place() {
  awk -v h="$2" -v e="$3" -v steps="$4" 'BEGIN { d = e - h - 0.5; d -= steps * int(d / steps)
    if (d > steps / 2) d -= steps; if (d < -steps / 2) d += steps; exit !(d <= 1.5 && d >= -1.5) }' </dev/null
}

# server_restarted DIR NAME [PLACE]: with the program ($pid) playing the
# steps music (8 s) to our sound server, recorded into DIR/before.raw since
# before it started: a second of music heard, the server killed, the loss
# told on DIR/stderr.txt, the server started again 2.5 s into a pass after
# the first (so that the place heard tells the clock's from a start over),
# the music heard again, at the clock's place unless PLACE is "shown", and
# the picture still moving.
server_restarted() {
  local dir=$1 name=$2 place=${3:-judged} music_start server_start back heard expected shot
  while_running 120 "$name: a second of music on the sink" loud_for "$dir/before.raw" 10
  music_start=$(awk -v r="$rec_zero" -v o="$(onset "$dir/before.raw")" 'BEGIN { printf "%.3f", r + o }')
  echo "$name: the music played, RMS $(tenths "$dir/before.raw" | sort -n | tail -n 1 | cut -d' ' -f1)"
  kill -9 "$sound_pid"
  wait "$sound_pid" 2>/dev/null
  while_running 120 "$name: the loss noticed" grep -q "sound output went away" "$dir/stderr.txt"
  while_running 120 "$name: the music's clock 2.5 s into a later pass" into_pass "$music_start"
  server_start=$(date +%s.%N)
  start_sound_server "$dir/pulse" || die "$name: the sound server did not start again"
  record_sink "$dir/after.raw"
  while_running 120 "$name: the music back on the sink" loud_for "$dir/after.raw" 10
  read -r back heard expected <<<"$(heard_place "$dir/after.raw" "$rec_zero" "$music_start" 8 "$server_start")"
  echo "$name: the music back $back s after the server started, at step $heard where the clock says $expected s"
  [ "$place" = shown ] || judge_place "$back" "$heard" "$expected" 8 || die "$name: the music came back at the wrong place"
  shot=$(screen_stats "$dir/shot.png")
  while_running 120 "$name: the picture moving on" picture_moved "$dir" "$shot"
}
into_pass() { awk -v m="$1" -v now="$(date +%s.%N)" 'BEGIN { t = (now - m) % 8; exit !(now - m > 8 && t > 2.5 && t < 3.5) }'; }
picture_moved() { [ "$(screen_stats "$1/shot.png")" != "$2" ]; }

# Mean grey (0..255) of the whole screen and the share of its pixels that
# are not black, as "mean share" ("none none" when it cannot be taken); the
# screenshot is kept in FILE.
screen_stats() {
  import -window root "$1" 2>/dev/null || { echo "none none"; return; }
  convert "$1" -colorspace Gray -format "%[fx:mean*255] " info:
  convert "$1" -colorspace Gray -threshold 1% -format "%[fx:mean]\n" info:
}
