# Sourced by the checks of the releases that carry the launcher
# (deb_test.sh, linux_archive.sh), after tests/support/program_lib.sh, with
# program set to the launcher, PCM_MATCH to pcm_match, TOLMAR_EVENT_SHIM to
# the event log and an X display running.
#
# Runs the launcher in DIR until the music has played a few seconds, then
# Escape; checks the lead-in came first and the output is MUSIC, looped.
play_in() {  # DIR MUSIC MUSIC-NAME WHAT
  local dir=$1 music=$2 name=$3 what=$4 music_ms
  start_program "$dir"
  wait_event "$dir" '$1 == "sound"' 300
  # Three seconds of music played, then Escape.
  wait_audio_bytes "$dir" $(($(stat -c %s "$dir/audio.raw") + 3 * 44100 * 8)) 300
  finish_with_escape "$dir"
  music_ms=$(($(event_field "$dir" sound 2) - $(event_field "$dir" clock 2)))
  [ "$music_ms" -ge 3000 ] || die "$what: music ${music_ms} ms after the start, inside the lead-in"
  "$PCM_MATCH" "$dir/audio.raw" "$music" "$escape_bytes" >"$dir/match.txt" ||
    die "$what: the output is not $name looped: $(cat "$dir/match.txt")"
  pass "$what: from ${music_ms} ms on, after the lead-in, the output is $name; Escape, status 0"
}
