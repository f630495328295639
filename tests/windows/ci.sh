#!/usr/bin/env bash
# The Windows build, checked under Wine: cross-builds tolmar.exe (the windows
# preset) and the test programs beside it, then runs them in a throwaway Wine
# prefix with a private PulseAudio null sink and Xvfb (tests/support/wine_lib.sh).
# Prints PASS/FAIL per check and "N passed, M failed, K skipped"; exits non-zero on any
# failure. Takes about a minute.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

source tests/support/checks.sh
source tests/support/wine_lib.sh

# --- Build ----------------------------------------------------------------
cmake --preset windows "${launcher[@]}" >/dev/null && cmake --build --preset windows >/dev/null &&
  [ -f build-windows/tolmar.exe ] &&
  pass "cross-build of build-windows/tolmar.exe" || { fail "cross-build of build-windows/tolmar.exe"; finish; }
cmake -S tests/windows -B build-windows/tests -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null && cmake --build build-windows/tests >/dev/null &&
  pass "cross-build of the Windows test programs" || { fail "cross-build of the Windows test programs"; finish; }
exe=$root/build-windows/tolmar.exe
tests=$root/build-windows/tests

check_imports "$exe"

# --- Wine, sound server, test files ---------------------------------------
wine_start

mkdir -p "$work/files" "$work/run"
cd "$work/files"
sox -q -n -r 44100 -c 2 -b 16 tone.wav synth 4 sine 330 sine 440 vol 0.5 &&
  lame --quiet tone.wav tone.mp3 &&
  sox -q -n -r 44100 -c 2 -b 16 music.wav synth 20 sine 220 sine 277 vol 0.5 &&
  lame --quiet music.wav music.mp3 ||
  { fail "making the test MP3s with sox and lame"; finish; }

# --- The program's audio failures -------------------------------------------
# Run from a script, with the output in a pipe: the report alone, never held.
reports() {  # WHAT REPORT: the run printed REPORT, one CRLF line, and ended with status 255
  [ "$out" = "$2"$'\r\n' ] && [ "$status" -eq 255 ] && pass "$1: the report and status 255" ||
    fail "$1: status $status, output $(printf '%s' "$out" | od -c | head -n 3)"
}
cd "$work/run"
run_wine "$exe"
reports "missing tolmar.mp3" "FMOD error! (23) File not found. "
cp "$work/files/music.mp3" tolmar.mp3
PULSE_SERVER=$no_sound_server run_wine "$exe"
reports "no audio output" "FMOD error! (62) Error initializing output device. "

# --- The platform layer's own rules, and the manifest -------------------------
run_wine "$tests/platform_checks.exe" manifest "$exe"
grep -q '<dpiAwareness[^>]*>PerMonitorV2[,<]' <<<"$out" && grep -q '<dpiAware [^>]*>true/pm</dpiAware>' <<<"$out" &&
  [ "$(grep -c '<supportedOS Id=' <<<"$out")" -eq 4 ] && grep -q 'level="asInvoker"' <<<"$out" &&
  pass "the manifest the loader reads (type 24, id 1): per-monitor v2 DPI, true/pm before it, Windows 7 to 11, asInvoker" ||
  fail "the manifest the loader reads (type 24, id 1): $(head -c 400 <<<"$out")"
run_wine "$tests/platform_checks.exe" clock
[ "$status" -eq 0 ] && pass "the clock's conversion against 128-bit arithmetic, and its wrap as a 32-bit millisecond counter" ||
  { fail "the clock:"; echo "$out"; }

# Started as Explorer starts it, with a console of its own (Wine's start):
# the report stays on it under "Press a key to close this window." until a
# key. Waits for the console window, then for two lines of text on it (bands
# of lit rows after the one the window starts with, its title bar, whose
# height differs between Wine's versions; a part not painted yet shows the
# white root, and more rows); the program must still be there 5 s later (it
# waits for a key), then be gone soon after one, well before its own 60 s
# limit would end it.
cat >"$work/own_console.sh" <<'INNER'
cd "$RUN" && "$WINE" start /wait /unix "$EXE" >/dev/null 2>&1 &
pid=$!
win=$(timeout 120 xdotool search --sync --name 'tolmar\.exe' | head -n 1)
lines=0
for i in $(seq 600); do
  kill -0 $pid 2>/dev/null && [ -n "$win" ] || break
  geometry=$(xdotool getwindowgeometry --shell "$win" 2>/dev/null) || break  # the window closed
  read -r width height <<<"$(awk -F= '/WIDTH|HEIGHT/ { printf "%s ", $2 }' <<<"$geometry")"
  lines=$(import -window "$win" png:- 2>/dev/null | convert - -crop "$((width - 30))x$((height - 30))+4+0" +repage \
    -colorspace gray -scale '1x!' -threshold 1% txt:- |
    awk 'NR > 1 { lit = /gray\(255\)/; if (lit && !was && NR > 2) n++; was = lit } END { print n + 0 }')
  [ "$lines" -eq 2 ] && break
  sleep 0.2
done
echo "lines $lines"
sleep 5
kill -0 $pid 2>/dev/null && echo "held"
xdotool key space
start=$SECONDS
while kill -0 $pid 2>/dev/null && [ $((SECONDS - start)) -lt 20 ]; do sleep 0.1; done
kill -0 $pid 2>/dev/null || echo "gone after the key within $((SECONDS - start + 1)) s"
wait $pid
echo "status $?"
INNER
mkdir -p "$work/empty"
report=$(RUN=$work/empty WINE=$wine EXE=$exe timeout 300 bash "$work/own_console.sh")
grep -qx 'lines 2' <<<"$report" && grep -qx held <<<"$report" && grep -q '^gone after the key' <<<"$report" &&
  grep -qx 'status 255' <<<"$report" &&
  pass "on a console of its own, the report and the prompt stay until a key, and go with it ($(grep -o 'within.*' <<<"$report")); then status 255" ||
  fail "on a console of its own: $(tr '\n' ' ' <<<"$report")"
# From a Command Prompt the console is shared: the report stays on it, and
# the program ends with no key: a run held for one lasts 60 s after its
# report, so one over within 50 s of its start, however slowly Wine started
# the Command Prompt, was not held.
cd "$work/empty"
"$wine" start /wait cmd /c "$("$wine" winepath -w "$exe" | tr -d '\r')" >/dev/null 2>&1 &
pid=$! start=$SECONDS
while kill -0 $pid 2>/dev/null && [ $((SECONDS - start)) -lt 50 ]; do sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  fail "on a Command Prompt's console: still waiting 50 s after its start"
  kill $pid
else
  wait $pid
  status=$?
  [ "$status" -eq 255 ] && pass "on a Command Prompt's console, the report is not held: status 255 with no key" ||
    fail "on a Command Prompt's console: status $status"
fi

# --- The audio library on its own -------------------------------------------
mkdir -p "$work/checks" && cd "$work/checks"
PULSE_SERVER=$no_sound_server run_wine "$tests/audio_checks.exe" no-output
[ "$status" -eq 0 ] && pass "audio library without an output device" ||
  { fail "audio library without an output device:"; grep FAIL <<<"$out"; }
# The suite every backend shares, over the files it names (tests/audio/results_suite.h).
bash "$root/tests/audio/suite_inputs.sh" . || fail "making the audio suite's files with sox and lame"
run_wine "$tests/audio_checks.exe" results .
[ "$status" -eq 0 ] && pass "audio library results and handles ($(grep -c ^PASS <<<"$out") checks)" ||
  { fail "audio library results and handles:"; grep -v ^PASS <<<"$out"; }

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
[ "$status" -eq 0 ] && awk -v s="$seconds" -v f="$hz" 'BEGIN { exit !(s > 1.5 && f > 485 && f < 515) }' &&
  pass "a looping 22.05 kHz stream on the device: $seconds s of tone at $hz Hz" ||
  fail "a looping 22.05 kHz stream on the device: $figures (status $status)"
# Released after 3 s with 2 s to go before close: what was heard is at most
# the 3 s played and the device's queue (about 0.75 s), however slow the
# machine (slowness only loses audio); a stream that played on to the close
# would be heard for 5 s.
record_play "$work/files/tone.mp3" 3000 2000
read -r seconds _ tail <<<"$figures"
[ "$status" -eq 0 ] && awk -v s="$seconds" 'BEGIN { exit !(s > 0.5 && s <= 4.0) }' &&
  pass "a released stream stops at once: $seconds s heard, $tail s of silence after it" ||
  fail "a released stream stops at once: $figures (status $status)"

# --- The decoder against the host's -----------------------------------------
# Every file of the shared suite that plays, decoded by the same code
# (mpg123_file) here under Wine with our build of libmpg123 and natively
# with Debian's: the same length, and samples equal but for the rounding of
# the float arithmetic (tests/windows/decode_dump.cpp).
dump=$work/decode_dump
c++ -std=c++17 -O2 -Wall -Wextra -Werror -I"$root/src" -I"$root/tests/audio" -o "$dump" \
  "$root/tests/windows/decode_dump.cpp" "$root/tests/audio/suite_files.cpp" \
  "$root/src/audio/mpg123_file.cpp" "$root/src/audio/mp3frames.cpp" -lmpg123 ||
  { fail "building decode_dump on the host"; finish; }
cd "$work/checks" && mkdir -p windows host
run_wine "$tests/decode_dump.exe" . windows
[ "$status" -eq 0 ] || fail "decode_dump.exe: $(grep -v ^PASS <<<"$out")"
if "$dump" . host windows >host.txt; then
  pass "the suite's $(grep -c ^PASS host.txt) playing files decode to the host's samples under Wine"
else
  fail "the suite's files decoded under Wine and on the host: $(grep -v ^PASS host.txt)"
fi

# Xvfb's screen keeps its size: the window is pushed aside, then sent what
# Windows sends on a display change and a new DPI.
run_wine "$tests/platform_checks.exe" cover
[ "$status" -eq 0 ] &&
  pass "the window covers its monitor again after a display change and a new DPI" ||
  { fail "the window after a display change or a new DPI:"; echo "$out"; }

# --- A run with music under Xvfb ---------------------------------------------
# In a folder with tolmar.mp3 (a 20 s two-tone chord), as a viewer has it,
# the window watched from outside as Windows does.
wine_music_run "$work/run" "$exe" "$tests/window_probe.exe"

# --- The sound server killed and started again mid-run -------------------------
(wine_server_restarted "$exe") | tee "$work/restarted.txt"
add_checks "$work/restarted.txt" "${PIPESTATUS[0]}" "the sound server killed and started again"

finish
