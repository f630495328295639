# Sourced by tests/web/ci.sh and bench/web/run.sh: display_and_sound DIR
# starts Xvfb (1280x720) and a PulseAudio null sink with its socket in DIR for
# firefox and webkit, exports DISPLAY and PULSE_SERVER, and adds their process
# ids to the caller's helpers array (to be ended at exit); on a failure it
# prints what went wrong and returns 1.
display_and_sound() {
  local dir=$1 number
  # -displayfd lets the server pick a free number itself, so parallel tests
  # never race for one.
  mkfifo "$dir/xvfb.fd"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$dir/xvfb.fd" >/dev/null 2>&1 &
  helpers+=($!)
  if ! read -r -t 60 number <"$dir/xvfb.fd"; then
    echo "Xvfb did not start"
    return 1
  fi
  export DISPLAY=:$number
  # A null sink on a private socket: a real output that plays at real-time
  # pace and touches no other sound server.
  mkdir -p "$dir/pulse"
  XDG_RUNTIME_DIR=$dir/pulse pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    -L "module-native-protocol-unix socket=$dir/pulse/socket auth-anonymous=1" \
    -L "module-null-sink sink_name=tolmar_sink" >"$dir/pulse/log" 2>&1 &
  helpers+=($!)
  export PULSE_SERVER=unix:$dir/pulse/socket
  for _ in $(seq 300); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "the PulseAudio null sink did not start: $(tail -n 3 "$dir/pulse/log")"
  return 1
}
