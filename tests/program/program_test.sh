#!/usr/bin/env bash
# End-to-end checks of the tolmar program. Usage: program_test.sh CASE PROGRAM
set -uo pipefail

case_name=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*"; exit 1; }

# A short stereo tone as the music file, made with the same encoder users have.
make_music() {
  sox -q -n -r 44100 -c 2 -b 16 tone.wav synth "${1:-4}" sine 330 sine 440 vol 0.5 || fail "sox"
  lame --quiet tone.wav tolmar.mp3 || fail "lame"
}

# Runs the program with a time limit; sets out, status.
run_program() {
  out=$(timeout "${TIMEOUT:-30}" "$@")
  status=$?
}

# Mean grey (0..255) of a screenshot of the whole X screen, and the share of
# pixels that are not black, as "mean share".
screen_stats() {
  import -display "$DISPLAY" -window root "$1" 2>/dev/null || fail "screenshot"
  convert "$1" -colorspace Gray -format "%[fx:mean*255] " info:
  convert "$1" -colorspace Gray -threshold 1% -format "%[fx:mean]\n" info:
}

case "$case_name" in
no_display)
  # With no DISPLAY, SDL would quietly draw into its offscreen driver.
  make_music
  run_program env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$program"
  [ "$status" -eq 1 ] || fail "status $status, expected 1 (output: $out)"
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "expected one line, got: $out"
  grep -q "display" <<<"$out" || fail "message does not name the display: $out"
  # Asking for a display driver explicitly that cannot start is also one clear line.
  run_program env -u DISPLAY SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy "$program"
  [ "$status" -eq 1 ] || fail "x11 without display: status $status"
  grep -q "Cannot open the display" <<<"$out" || fail "x11 without display: $out"
  ;;
missing_music)
  # No display either: the report must come before any window is attempted.
  out=$(env -u DISPLAY SDL_AUDIODRIVER=dummy timeout 30 "$program"; echo "status=$?")
  [ "$out" = "FMOD error! (23) File not found. 
status=255" ] || fail "unexpected: $out"
  ;;
no_audio_output)
  make_music
  run_program env -u DISPLAY SDL_AUDIODRIVER=no-such-driver "$program"
  [ "$status" -eq 255 ] || fail "status $status, expected 255"
  [ "$out" = "FMOD error! (62) Error initializing output device. " ] || fail "unexpected: $out"
  ;;
under_xvfb)
  make_music 20
  declare -f screen_stats fail >inner.sh
  cat >>inner.sh <<INNER
set -u
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/audio.raw "$program" >stdout.txt &
pid=\$!
sleep 1.5
echo "lead-in \$(screen_stats lead.png)"
sleep 6
echo "timeline \$(screen_stats timeline.png)"
kill -0 \$pid 2>/dev/null || { echo "program ended early"; exit 1; }
xdotool keydown Escape; sleep 0.2; xdotool keyup Escape
for i in \$(seq 50); do kill -0 \$pid 2>/dev/null || break; sleep 0.1; done
kill -0 \$pid 2>/dev/null && { kill \$pid; echo "Escape did not end the run"; exit 1; }
wait \$pid
echo "status \$?"
INNER
  report=$(timeout 60 xvfb-run -a -s "-screen 0 1280x720x24" bash inner.sh)
  echo "$report"
  read -r _ lead_mean lead_share <<<"$(grep '^lead-in' <<<"$report")"
  read -r _ line_mean line_share <<<"$(grep '^timeline' <<<"$report")"
  grep -q "^status 0$" <<<"$report" || fail "run did not end with status 0"
  [ "$(od -An -c stdout.txt | tr -d ' ')" = '\n' ] || fail "stdout is not one newline: $(od -c stdout.txt)"
  awk -v m="$lead_mean" 'BEGIN { exit !(m == 0) }' || fail "lead-in not black (mean $lead_mean)"
  awk -v s="$line_share" 'BEGIN { exit !(s > 0.05) }' || fail "too few triangles on screen ($line_share)"
  # The disk driver writes the device's output at real-time pace from the
  # moment the output opens (before the window): 32-bit float stereo at
  # 44.1 kHz, silence until the music starts after the 3 s lead-in.
  first=$(od -An -v -w4 -tx4 audio.raw | grep -nvm1 ' 00000000$' | cut -d: -f1)
  [ -n "$first" ] || fail "no music in the audio output"
  awk -v n="$first" 'BEGIN { t = (n - 1) / 2 / 44100; print "music started " t " s after the output opened";
                             exit !(t >= 3.0 && t < 5.0) }' || fail "music did not start at the end of the lead-in"
  ;;
full_run)
  make_music 10
  start=$(date +%s.%N)
  out=$(timeout 200 xvfb-run -a -s "-screen 0 640x480x24" env SDL_AUDIODRIVER=dummy "$program"; echo "status=$?")
  end=$(date +%s.%N)
  [ "$out" = "
status=0" ] || fail "unexpected end: $out"
  awk -v a="$start" -v b="$end" 'BEGIN { d = b - a; print "run took " d " s"; exit !(d > 136 && d < 150) }' ||
    fail "run length out of range"
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
