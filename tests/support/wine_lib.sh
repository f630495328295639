# Running tolmar.exe under Wine, for the scripts that check the Windows build
# (tests/windows/ci.sh, tests/release/windows_zip.sh). Sourced after
# tests/support/checks.sh. Sourcing makes a private temp folder ($work,
# script_lib.sh); an EXIT trap removes it and stops the sound server and
# Wine started here.
# Environment: WINEDEBUG=-all, the prefix's X11 driver unmanaged (or the
# window stays 1x1), one 1280x720 Xvfb screen with a white root window for
# every Wine run of the script (so none makes a desktop without a display).

wine=$(dpkg -L wine64 | grep -m1 '/wine64$')  # Debian keeps it off the PATH
wineserver=$(dirname "$wine")/wineserver
. "$(dirname "${BASH_SOURCE[0]}")/script_lib.sh"
wine_cleanup() {
  [ -d "$work/prefix" ] && WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null
  cleanup
}
trap wine_cleanup EXIT

# Linked statically but for libmpg123, whose DLL sits beside the exe: only
# DLLs that every Windows has may be imported, by either (and nothing from
# the Audio Compression Manager, msacm32: libmpg123 decodes).
check_imports() {  # EXE
  local table imports dll_imports
  table=$(x86_64-w64-mingw32-objdump -p "$1")
  imports=$(awk '/DLL Name/ { print tolower($3) }' <<<"$table" | sort | tr '\n' ' ')
  [ "$imports" = "gdi32.dll glu32.dll kernel32.dll libmpg123-0.dll msvcrt.dll opengl32.dll user32.dll winmm.dll " ] &&
    pass "tolmar.exe imports only system DLLs and libmpg123" || fail "tolmar.exe imports: $imports"
  # The clock reads the performance counter: the system timer's clocks step
  # by 10 to 16 ms.
  grep -qw QueryPerformanceCounter <<<"$table" && ! grep -qwE 'GetTickCount(64)?|timeGetTime' <<<"$table" &&
    pass "tolmar.exe's clock: QueryPerformanceCounter imported, no GetTickCount or timeGetTime" ||
    fail "tolmar.exe's clock imports: $(grep -woE 'QueryPerformanceCounter|GetTickCount(64)?|timeGetTime' <<<"$table" | tr '\n' ' ')"
  dll_imports=$(x86_64-w64-mingw32-objdump -p "$(dirname "$1")/libmpg123-0.dll" 2>/dev/null |
    awk '/DLL Name/ { print tolower($3) }' | sort | tr '\n' ' ')
  [ "$dll_imports" = "kernel32.dll msvcrt.dll shlwapi.dll " ] &&
    pass "libmpg123-0.dll beside it imports only system DLLs" || fail "libmpg123-0.dll imports: $dll_imports"
}

# A throwaway prefix in $work, a display and a private sound server; stops
# the script when there is no prefix. Sets DISPLAY, PULSE_SERVER, and
# no_sound_server to a socket nothing listens on.
wine_start() {
  export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  start_display 1280x720 -wr
  # One server for the whole script: left to itself it exits 3 s after its
  # last program, and a program started just then loses it mid-start
  # ("recvmsg: Connection reset by peer"). The EXIT trap stops it.
  mkdir -p "$WINEPREFIX"  # the server starts in it
  "$wineserver" -p
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 && pass "fresh Wine prefix" ||
    { fail "fresh Wine prefix"; finish; }
  # The output device for waveOut.
  start_sound_server "$work/pulse" >"$work/pulse.txt" && pass "PulseAudio null sink" ||
    fail "PulseAudio null sink: $(cat "$work/pulse.txt")"
  no_sound_server=unix:$work/no-such-socket
}

# Runs a Windows program; sets out (stdout, as bytes) and status.
# The time limit is for hangs only.
run_wine() {
  last_err=$work/stderr.txt
  out=$(timeout 300 "$wine" "$@" 2>"$last_err"; echo "status=$?")
  status=${out##*status=}
  out=${out%status=*}
}

# What window_probe saw (probe.txt in the current folder, the run's).
probe_findings() {
  local seen pattern what
  seen=$(tr -d '\r' <probe.txt 2>/dev/null)
  while IFS='|' read -r pattern what; do
    grep -qxE "$pattern" <<<"$seen" && pass "$what" ||
      fail "$what: the probe saw: $(tr '\n' ';' <<<"$seen") $(cat probe-stderr.txt 2>/dev/null)"
  done <<'FINDINGS'
lead-in answered|the window answers a message sent at its first frame within the lead-in (a 2.5 s limit)
timeline [1-9][0-9]* sent 0 unanswered 0 hung|the window answers every message sent through the timeline, never judged hung
typed-text 0 caret no|a typed character is not taken, and no caret shows
after-close answered window kept|posted WM_CLOSE and SC_CLOSE: the window stays and answers
escape-elsewhere seen unanswered 0 of [0-9]+|an Escape typed into another program's window in front leaves the run going
piece-in-front yes|the piece's window back in front (where the Escape below ends the run)
FINDINGS
}

# A run with music under Xvfb: EXE started in DIR, as Explorer starts it on a
# double-click, so DIR must hold tolmar.mp3. What the run leaves (its stdout
# and stderr, screenshots, the recording) goes to $work/music, so DIR holds
# only what it held before.
# The root window is white (-wr), so a black screen means the window is up
# and covers it. Waits for that (the lead-in), looks again 8 s later
# (triangles), records the null sink meanwhile, and ends the run with Escape.
# Every wait is a lower bound or a limit for hangs, so a slow machine only
# makes it take longer. With PROBE (tests/windows/window_probe.cpp) the
# window is also watched from outside until the triangles are seen, then
# sent a character and asked to close, and an Escape is typed into a window
# of the probe's in front, before the Escape.
wine_music_run() {  # DIR EXE [PROBE]
  local dir=$1 exe=$2 probe=${3:-} report line_mean line_share stdout_bytes loud
  mkdir -p "$work/music"
  cd "$work/music" || return
  { declare -f screen_stats; cat <<'INNER'; } >inner.sh
set -u
parec -d tolmar_sink.monitor --format=s16le --rate=44100 --channels=2 --raw recorded.raw &
rec=$!
(cd "$DIR" && exec "$WINE" "$EXE") >stdout.txt 2>stderr.txt &
pid=$!
if [ -n "$PROBE" ]; then
  "$WINE" "$PROBE" "Z:$PWD/stop" >probe.txt 2>probe-stderr.txt &
  probe=$!
fi
black=""
for i in $(seq 600); do
  read -r mean share <<<"$(screen_stats wait.png)"
  if [ "$share" = 0 ]; then black=$i; break; fi
  sleep 0.2
done
echo "black-after-polls ${black:-never}"
# Frames with at least 16-bit samples louder than 300 (-40 dBFS) recorded so far.
loud_frames() { od -An -v -w4 -td2 recorded.raw 2>/dev/null | awk '$1 > 300 || $1 < -300 { n++ } END { print n + 0 }'; }
# Triangles on the screen and a second of loud music heard, however long that
# takes (a limit for hangs).
timeline="none none"
for i in $(seq 600); do
  timeline=$(screen_stats timeline.png)
  awk -v s="${timeline#* }" -v l="$(loud_frames)" 'BEGIN { exit !(s > 0.05 && l > 44100) }' && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.2
done
echo "timeline $timeline"
kill -0 $pid 2>/dev/null || echo "ended-early"
if [ -n "$PROBE" ]; then
  : >stop
  # Escape typed into the probe's own window, once it is in front.
  for i in $(seq 600); do grep -q '^other-window' probe.txt && break; kill -0 $probe 2>/dev/null || break; sleep 0.1; done
  xdotool key Escape
  for i in $(seq 600); do kill -0 $probe 2>/dev/null || break; sleep 0.1; done
  kill $probe 2>/dev/null
fi
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
echo "loud $(loud_frames)"
INNER
  report=$(DIR=$dir WINE=$wine EXE=$exe PROBE=$probe timeout 900 bash inner.sh)
  last_err=$work/music/stderr.txt
  read -r _ line_mean line_share <<<"$(grep '^timeline' <<<"$report")"
  grep -q '^black-after-polls [0-9]' <<<"$report" && pass "black window during the lead-in" ||
    fail "lead-in: the screen never turned black all over"
  awk -v s="${line_share:-0}" 'BEGIN { exit !(s > 0.05) }' &&
    pass "triangles during the timeline (share $line_share, mean grey $line_mean)" || fail "timeline: share ${line_share:-none}"
  [ -n "$probe" ] && probe_findings
  stdout_bytes=$(od -An -c stdout.txt 2>/dev/null | tr -d ' ')
  grep -qx 'status 0' <<<"$report" && [ "$stdout_bytes" = '\r\n' ] && ! grep -qE '^(ended-early|escape-ignored)' <<<"$report" &&
    pass "Escape ends the run: status 0 and one newline" ||
    fail "Escape: $(grep -E '^(status|ended|escape)' <<<"$report" | tr '\n' ' ') stdout '$stdout_bytes'"
  # The music reached the output device: at least a second of sound louder
  # than -40 dBFS (the null sink's silence is zeros). Real music starts
  # quietly: the soundtrack's first seconds peak near 1500, hence the low
  # threshold.
  loud=$(awk '/^loud/ { n = $2 } END { print n + 0 }' <<<"$report")
  [ "$loud" -gt 44100 ] && pass "music heard on the output device ($loud loud frames)" ||
    fail "music heard on the output device: $loud loud frames"
}

# The sound server killed and started again while EXE plays the steps music
# (server_restarted), on the script's display; then Escape ends the run with
# status 0 and one newline. Exits on the first failure: run it in a subshell.
# The place the music comes back at is shown, not judged: in some runs on a
# busy machine Wine's output came back 2.5 to 3.5 s behind the clock (in
# others on time), and waveOut tells nothing of where that output has got to.
wine_server_restarted() {  # EXE
  local dir=$work/restarted
  # What this subshell starts, it stops.
  helpers=()
  trap 'for p in "${helpers[@]}"; do kill "$p" 2>/dev/null; done' EXIT
  mkdir -p "$dir" && cd "$dir" || die "no folder for the run"
  case_dir=$dir
  make_steps_mp3 tolmar.mp3 8
  start_sound_server "$dir/pulse" >pulse.txt || die "no sound server: $(cat pulse.txt)"
  record_sink before.raw
  "$wine" "$1" >stdout.txt 2>stderr.txt &
  pid=$!
  server_restarted "$dir" "sound server restarted" shown
  xdotool key Escape
  for _ in $(seq 1200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; die "Escape did not end the run"; }
  wait "$pid"
  local status=$?
  [ "$status" -eq 0 ] && [ "$(od -An -c stdout.txt | tr -d ' ')" = '\r\n' ] || die "Escape: status $status, stdout $(od -An -c stdout.txt)"
  pass "the sound server killed and started again: the music came back, the run went on and ended on Escape"
}
