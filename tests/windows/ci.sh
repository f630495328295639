#!/usr/bin/env bash
# The Windows build, checked under Wine: cross-builds tolmar.exe (the windows
# preset) and the test programs beside it, then runs them in a throwaway Wine
# prefix with a private PulseAudio null sink and Xvfb. Prints PASS/FAIL per
# check and "N passed, M failed"; exits non-zero on any failure.
# Environment: WINEDEBUG=-all, the prefix's X11 driver unmanaged (or the
# window stays 1x1), a 1280x720 Xvfb screen. Takes about a minute and a half.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

source tests/support/checks.sh

# --- Build ----------------------------------------------------------------
if cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null &&
   [ -f build-windows/tolmar.exe ]; then
  pass "cross-build of build-windows/tolmar.exe"
else
  fail "cross-build of build-windows/tolmar.exe"
  finish
fi
if cmake -S tests/windows -B build-windows/tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null &&
   cmake --build build-windows/tests >/dev/null; then
  pass "cross-build of the Windows test programs"
else
  fail "cross-build of the Windows test programs"
  finish
fi
exe=$root/build-windows/tolmar.exe
tests=$root/build-windows/tests

# Linked statically: only DLLs that every Windows has may be imported.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ { print tolower($3) }' | sort | tr '\n' ' ')
if [ "$imports" = "gdi32.dll glu32.dll kernel32.dll msacm32.dll msvcrt.dll opengl32.dll user32.dll winmm.dll " ]; then
  pass "tolmar.exe imports only system DLLs"
else
  fail "tolmar.exe imports: $imports"
fi

# --- Wine, sound server, test files ---------------------------------------
wine=$(dpkg -L wine64 | grep -m1 '/wine64$')  # Debian keeps it off the PATH
wineserver=$(dirname "$wine")/wineserver
work=$(mktemp -d)
pulse_pid=""
cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
  WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # through the EXIT trap, so nothing is left running

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1; then
  pass "fresh Wine prefix"
else
  fail "fresh Wine prefix"
  finish
fi

# A null sink on a private socket: a real output device for waveOut that
# plays at real-time pace and touches no other sound server.
mkdir -p "$work/pulse"
XDG_RUNTIME_DIR=$work/pulse pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" \
  -L "module-null-sink sink_name=tolmar_sink" >"$work/pulse/log" 2>&1 &
pulse_pid=$!
export PULSE_SERVER=unix:$work/pulse/socket
for _ in $(seq 300); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
if pactl info >/dev/null 2>&1; then
  pass "PulseAudio null sink"
else
  fail "PulseAudio null sink: $(tail -n 3 "$work/pulse/log")"
fi
no_sound_server=unix:$work/no-such-socket

mkdir -p "$work/files" "$work/run"
cd "$work/files"
sox -q -n -r 44100 -c 2 -b 16 tone.wav synth 4 sine 330 sine 440 vol 0.5 &&
  lame --quiet tone.wav tone.mp3 &&
  sox -q -n -r 22050 -c 1 -b 16 sweep.wav synth 3 sine 300-900 vol 0.6 &&
  lame --quiet -V 4 sweep.wav mono-vbr.mp3 &&
  lame --quiet --id3v2-only --tt "A title" -b 192 tone.wav tagged.mp3 &&
  sox -q -n -r 44100 -c 2 -b 16 music.wav synth 20 sine 220 sine 277 vol 0.5 &&
  lame --quiet music.wav music.mp3 ||
  { fail "making the test MP3s with sox and lame"; finish; }

# Runs a Windows program; sets out (stdout, as bytes) and status.
# The time limit is for hangs only.
run_wine() {
  last_err=$work/stderr.txt
  out=$(timeout 300 "$wine" "$@" 2>"$last_err"; echo "status=$?")
  status=${out##*status=}
  out=${out%status=*}
}

# --- The program's audio failures -------------------------------------------
cd "$work/run"
run_wine "$exe"
if [ "$out" = $'FMOD error! (23) File not found. \r\n' ] && [ "$status" -eq 255 ]; then
  pass "missing tolmar.mp3: the report and status 255"
else
  fail "missing tolmar.mp3: status $status, output $(printf '%s' "$out" | od -c | head -n 3)"
fi

cp "$work/files/music.mp3" tolmar.mp3
PULSE_SERVER=$no_sound_server run_wine "$exe"
if [ "$out" = $'FMOD error! (62) Error initializing output device. \r\n' ] && [ "$status" -eq 255 ]; then
  pass "no audio output: the report and status 255"
else
  fail "no audio output: status $status, output $(printf '%s' "$out" | od -c | head -n 3)"
fi

# --- The audio library on its own -------------------------------------------
mkdir -p "$work/checks" && cd "$work/checks"
PULSE_SERVER=$no_sound_server run_wine "$tests/audio_checks.exe" no-output
if [ "$status" -eq 0 ]; then pass "audio library without an output device"; else
  fail "audio library without an output device:"; printf '%s' "$out" | grep FAIL; fi
run_wine "$tests/audio_checks.exe" results "$work/files/tone.mp3"
if [ "$status" -eq 0 ]; then pass "audio library results and handles ($(grep -c ^PASS <<<"$out") checks)"; else
  fail "audio library results and handles:"; printf '%s' "$out" | grep -v ^PASS; fi

# Plays FILE through the library for MS ms, releases it, waits AFTER_MS and
# closes, while the null sink is recorded. Sets status and figures to
# "SECONDS HZ TAIL": how long a tone was heard (10 ms blocks of the left
# channel above 1000), its frequency (upward swings from below -1000 to above
# 1000, so noise near zero does not count, in the median loud block: a block
# cut short by an underrun on a busy machine counts too few, but not most of
# them) and the silence at the end of the recording, in seconds. The first
# second or so of a recording is often lost.
record_play() {  # FILE MS AFTER_MS
  parec -d tolmar_sink.monitor --format=s16le --rate=44100 --channels=2 --raw recorded.raw &
  local rec=$!
  run_wine "$tests/audio_checks.exe" play "$1" "$2" "$3"
  kill $rec; wait $rec 2>/dev/null
  figures=$(od -An -v -w4 -td2 recorded.raw | awk '
    { x = $1; if (x > peak) peak = x; if (-x > peak) peak = -x
      if (x > 1000 || x < -1000) last = NR
      if (x < -1000) low = 1
      if (low && x > 1000) { up++; low = 0 }
      if (++n == 441) { if (peak > 1000) { active++; blocks[up]++ } n = 0; peak = 0; up = 0 } }
    END { for (u = 0; seen * 2 < active; u++) seen += blocks[u]
          printf "%.2f %.1f %.2f", active / 100, (active ? (u - 1) * 100 : 0), (NR - last) / 44100 }')
}

# A 1 s MP3 of a 500 Hz tone, mono at 22.05 kHz, played for 6 s: the output
# must carry more than 1 s of it (the stream loops; a busy machine may lose
# some of the recording, never add to it) and at 500 Hz (converted to the
# device's 44.1 kHz, neither sped up nor slowed down).
sox -q -n -r 22050 -c 1 -b 16 short.wav synth 1 sine 500 vol 0.5 && lame --quiet short.wav short.mp3
record_play short.mp3 6000 0
read -r seconds hz _ <<<"$figures"
if [ "$status" -eq 0 ] && awk -v s="$seconds" -v f="$hz" 'BEGIN { exit !(s > 1.5 && f > 485 && f < 515) }'; then
  pass "a looping 22.05 kHz stream on the device: $seconds s of tone at $hz Hz"
else
  fail "a looping 22.05 kHz stream on the device: $figures (status $status)"
fi
# Released after 3 s with 2 s to go before close: what was heard is at most
# the 3 s played and the device's queue (about 0.75 s), however slow the
# machine (slowness only loses audio); a stream that played on to the close
# would be heard for 5 s.
record_play "$work/files/tone.mp3" 3000 2000
read -r seconds _ tail <<<"$figures"
if [ "$status" -eq 0 ] && awk -v s="$seconds" 'BEGIN { exit !(s > 0.5 && s <= 4.0) }'; then
  pass "a released stream stops at once: $seconds s heard, $tail s of silence after it"
else
  fail "a released stream stops at once: $figures (status $status)"
fi

# --- ACM decoding against decodes on the host -------------------------------
# The decoder cuts the encoder's delay and padding that the LAME tag records,
# as mpg123 does by default: the two agree on length and within two units.
# sox (libmad) cuts nothing and plays the info frame as 1152 samples of
# silence: ours starts 1152 + 576 (LAME's delay) + 529 (the decoder's) later
# and the lengths differ by less than a frame. A file without the info frame
# (lame -t) is decoded whole, like mpg123 --no-gapless.
compare=$work/pcm_compare
c++ -std=c++17 -O2 -Wall -Wextra -Werror -o "$compare" "$root/tests/windows/pcm_compare.cpp" ||
  { fail "building pcm_compare"; finish; }
cd "$work/files"
lame --quiet -t tone.wav untagged.mp3
decode_check() {  # NAME FILE CHANNELS REFERENCE SKIP SLACK
  local name=$1 file=$2 channels=$3 reference=$4 skip=$5 slack=$6 figures
  run_wine "$tests/acm_dump.exe" "$file" "$file.acm.raw"
  if [ "$status" -ne 0 ]; then
    fail "$name: acm_dump: $out"
    return
  fi
  if figures=$("$compare" "$file.acm.raw" "$reference" "$channels" "$skip" "$slack" 2); then
    pass "$name: $figures"
  else
    fail "$name: $figures"
  fi
}
sox tone.mp3 -t raw -e signed -b 16 tone.sox.raw
for f in tone mono-vbr tagged; do mpg123 -q -s $f.mp3 >$f.mpg123.raw; done
mpg123 -q --no-gapless -s untagged.mp3 >untagged.mpg123.raw
decode_check "decode of a stereo 44.1 kHz MP3 vs sox" tone.mp3 2 tone.sox.raw 2257 1151
decode_check "decode of a stereo 44.1 kHz MP3 vs mpg123" tone.mp3 2 tone.mpg123.raw 0 0
decode_check "decode of a mono 22.05 kHz VBR MP3 vs mpg123" mono-vbr.mp3 1 mono-vbr.mpg123.raw 0 0
decode_check "decode of an MP3 behind an ID3v2 tag vs mpg123" tagged.mp3 2 tagged.mpg123.raw 0 0
decode_check "decode of an MP3 without an info frame vs mpg123" untagged.mp3 2 untagged.mpg123.raw 0 0

# --- A run with music under Xvfb ---------------------------------------------
# The root window is white (-wr), so a black screen means the window is up
# and covers it. Waits for that (the lead-in), looks again 8 s later
# (triangles), records the null sink meanwhile, and ends the run with Escape.
# Every wait is a lower bound or a limit for hangs, so a slow machine only
# makes it take longer.
# The Wine runs above had no display; their desktop process must be gone, or
# the next window would be made on that display-less desktop and fail.
timeout 120 "$wineserver" -w
cd "$work/run"
cat >inner.sh <<'INNER'
set -u
# Mean grey (0..255) and share of pixels that are not black, as "mean share".
screen_stats() {
  import -window root "$1" 2>/dev/null || { echo "none none"; return; }
  convert "$1" -colorspace Gray -format "%[fx:mean*255] " info:
  convert "$1" -colorspace Gray -threshold 1% -format "%[fx:mean]\n" info:
}
parec -d tolmar_sink.monitor --format=s16le --rate=44100 --channels=2 --raw recorded.raw &
rec=$!
"$WINE" "$EXE" >stdout.txt 2>stderr.txt &
pid=$!
black=""
for i in $(seq 600); do
  read -r mean share <<<"$(screen_stats wait.png)"
  if [ "$share" = 0 ]; then black=$i; break; fi
  sleep 0.2
done
echo "black-after-polls ${black:-never}"
sleep 8
echo "timeline $(screen_stats timeline.png)"
kill -0 $pid 2>/dev/null || echo "ended-early"
xdotool key Escape
for i in $(seq 600); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  echo "escape-ignored"
  kill $pid
fi
wait $pid
echo "status $?"
kill $rec 2>/dev/null
wait $rec 2>/dev/null
INNER
report=$(WINE=$wine EXE=$exe timeout 900 xvfb-run -a -s "-screen 0 1280x720x24 -wr" bash inner.sh)
last_err=$work/run/stderr.txt
read -r _ line_mean line_share <<<"$(grep '^timeline' <<<"$report")"
if grep -q '^black-after-polls [0-9]' <<<"$report"; then
  pass "black window during the lead-in"
else
  fail "lead-in: the screen never turned black all over"
fi
if awk -v s="${line_share:-0}" 'BEGIN { exit !(s > 0.05) }'; then
  pass "triangles during the timeline (share $line_share, mean grey $line_mean)"
else
  fail "timeline: share ${line_share:-none}"
fi
status_line=$(grep '^status' <<<"$report")
stdout_bytes=$(od -An -c stdout.txt 2>/dev/null | tr -d ' ')
if [ "$status_line" = "status 0" ] && [ "$stdout_bytes" = '\r\n' ] &&
   ! grep -qE '^(ended-early|escape-ignored)' <<<"$report"; then
  pass "Escape ends the run: status 0 and one newline"
else
  fail "Escape: $(grep -E '^(status|ended|escape)' <<<"$report" | tr '\n' ' ') stdout '$stdout_bytes'"
fi
# The music reached the output device: at least a second of sound.
loud=$(od -An -v -w4 -td2 recorded.raw 2>/dev/null | awk '$1 > 1000 || $1 < -1000 { n++ } END { print n + 0 }')
if [ "$loud" -gt 44100 ]; then
  pass "music heard on the output device ($loud loud frames)"
else
  fail "music heard on the output device: $loud loud frames"
fi

finish
