#!/usr/bin/env bash
# End-to-end checks of the tolmar program. Usage: program_test.sh CASE PROGRAM
# Times are read from the program's own clock through the preloaded event
# log (TOLMAR_EVENT_SHIM), never from the wall clock, so a slow or busy
# machine or a sanitizer build only makes a case take longer.
case_name=$1
program=$2
. "$(dirname "$0")/../support/program_lib.sh"

# The first lit frame's time, in the program's clock, from its start.
first_lit_ms() {
  awk '$1 == "clock" && !c { c = $2 } $1 == "frame" && $3 == 1 { print $2 - c; exit }' "$1/events.txt"
}

mkdir "$work/run"
dir=$work/run
case "$case_name" in
no_display)
  # With no DISPLAY, SDL would quietly draw into its offscreen driver.
  make_mp3 "$dir/tolmar.mp3" 4 44100 2
  run_headless "$dir" SDL_AUDIODRIVER=dummy
  [ "$status" -eq 1 ] || die "status $status, expected 1"
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || die "expected one line"
  grep -q "display" <<<"$out" || die "the message does not name the display"
  # Asking for a display driver explicitly that cannot start is also one clear line.
  run_headless "$dir" SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
  [ "$status" -eq 1 ] || die "x11 without display: status $status"
  grep -q "Cannot open the display" <<<"$out" || die "x11 without display: no clear line"
  ;;
no_audio_output)
  make_mp3 "$dir/tolmar.mp3" 4 44100 2
  run_headless "$dir" SDL_AUDIODRIVER=no-such-driver
  [ "$status" -eq 255 ] || die "status $status, expected 255"
  [ "$out" = "FMOD error! (62) Error initializing output device. " ] || die "unexpected output"
  ;;
under_xvfb)
  # A white root window: a black screen then proves the program's window
  # covers it, not that nothing is there.
  start_xvfb -wr
  # Two seconds of music, so a few seconds of timeline cross two loop points.
  make_mp3 "$dir/tolmar.mp3" 2 44100 2
  # SDL's video start says something on standard output, as some SDL
  # releases do: the program's output must still be its newline alone.
  start_program "$dir" TOLMAR_EVENT_VIDEO_SAYS="Keyboard layout unknown"
  wait_event "$dir" '$1 == "frame"' 120
  read -r lead_mean _ <<<"$(screen_stats "$dir/lead.png")"
  grep -q '^sound' "$dir/events.txt" &&
    die "the lead-in was over before its screenshot was taken; cannot judge it"
  awk -v m="$lead_mean" 'BEGIN { exit !(m == 0) }' || die "the lead-in is not black all over (mean grey $lead_mean)"
  wait_event "$dir" '$1 == "sound"' 120
  # The audio threads block about once a device buffer across the loop points.
  no_spin "under_xvfb" "$dir/audio.raw"
  # Five seconds of music played (the disk driver's output grows by what the
  # device took: 32-bit float stereo at 44.1 kHz), not five seconds waited.
  wait_audio_bytes "$dir" $(($(stat -c %s "$dir/audio.raw") + 5 * 44100 * 8)) 300
  wait_event "$dir" '$1 == "frame" && $3 == 1' 120
  read -r _ line_share <<<"$(screen_stats "$dir/timeline.png")"
  awk -v s="$line_share" 'BEGIN { exit !(s > 0.05) }' || die "too few triangles on screen ($line_share)"
  finish_with_escape "$dir"
  music_ms=$(since_start_ms "$dir" sound)
  lit_ms=$(first_lit_ms "$dir")
  echo "lead-in black; music from ${music_ms} ms; first lit frame at ${lit_ms} ms; $(awk 'BEGIN{printf "%.1f", '"$line_share"' * 100}') % lit 5 s later"
  [ "$music_ms" -ge 3000 ] || die "the music started ${music_ms} ms after the lead-in began"
  [ "$lit_ms" -ge 3000 ] || die "a lit frame ${lit_ms} ms after the lead-in began"
  # From its first sample on, the output is the music repeated without a break.
  "$PCM_MATCH" "$dir/audio.raw" "$dir/tolmar.mp3" "$escape_bytes" || die "the audio output is not the music looped without a gap"
  ;;
full_run)
  # The whole piece, with a 10 s tone (looped thirteen times) or the file MUSIC names.
  start_xvfb
  if [ -n "${MUSIC:-}" ]; then cp "$MUSIC" "$dir/tolmar.mp3"; else make_mp3 "$dir/tolmar.mp3" 10 44100 2; fi
  start_program "$dir"
  # Long enough for a machine many times slower than real time would need.
  wait_gone "$pid" 1200 || die "still running after 20 minutes"
  wait "$pid"
  ended_normally "$dir" $?
  end_ms=$(since_start_ms "$dir" exit)
  music_ms=$(since_start_ms "$dir" sound)
  echo "ended by itself ${end_ms} ms after the lead-in began (music from ${music_ms} ms), $(event_field "$dir" exit 4) frames"
  # 3000 ms of lead-in, then frames until one whose time reaches 133 s.
  [ "$end_ms" -ge 136000 ] || die "the run ended after ${end_ms} ms, before 136 s"
  # The program stops the music as it ends, and the device may write a
  # buffer or two of silence before it closes: the music must reach the
  # output's last half second (44100 frames of 8 bytes a second).
  played=$(($(stat -c %s "$dir/audio.raw") - 176400))
  "$PCM_MATCH" "$dir/audio.raw" "$dir/tolmar.mp3" "$played" || die "the audio output is not the music looped without a gap"
  ;;
*)
  die "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
