#!/usr/bin/env bash
# Starts a headless session: a virtual X display and a PulseAudio server with
# two null sinks, "MainOut" (main_out) and "JingleCard" (jingle_out).
# Source it; call tavoria_headless_stop to end what it started.
tavoria_headless_start() {
  export XDG_RUNTIME_DIR
  XDG_RUNTIME_DIR="$(mktemp -d /tmp/tavoria-run.XXXXXX)"
  chmod 700 "$XDG_RUNTIME_DIR"
  export HOME_BACKUP="${HOME:-}"
  # A display number is ours once our Xvfb holds its lock file (Xvfb creates it
  # atomically and writes its own process id into it): two sessions started at the
  # same moment never share a display.
  local n
  for n in $(seq 99 160); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >"$XDG_RUNTIME_DIR/xvfb.log" 2>&1 &
    TAVORIA_XVFB_PID=$!
    local owner=""
    for _ in $(seq 1 100); do
      kill -0 "$TAVORIA_XVFB_PID" 2>/dev/null || break
      # The lock file may not exist yet: callers run under "set -e -o pipefail".
      owner="$(cat "/tmp/.X$n-lock" 2>/dev/null | tr -dc 0-9 || true)"
      [ "$owner" = "$TAVORIA_XVFB_PID" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    [ "$owner" = "$TAVORIA_XVFB_PID" ] && break
    kill "$TAVORIA_XVFB_PID" 2>/dev/null || true
    wait "$TAVORIA_XVFB_PID" 2>/dev/null || true
    TAVORIA_XVFB_PID=""
  done
  if [ -z "${TAVORIA_XVFB_PID:-}" ]; then
    echo "headless: no virtual display could be started (displays :99 to :160 taken or Xvfb failing)" >&2
    return 1
  fi
  export DISPLAY=":$n"
  pulseaudio -D --exit-idle-time=-1 -n --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=main_out sink_properties=device.description=MainOut" \
    --load="module-null-sink sink_name=jingle_out sink_properties=device.description=JingleCard" \
    --load=module-always-sink >"$XDG_RUNTIME_DIR/pulse.log" 2>&1 || true
  # The session is whole only with its sound server and both sinks: the sound tests
  # would otherwise skip and the suite pass without them.
  local sinks=""
  for _ in $(seq 1 100); do
    if pactl info >/dev/null 2>&1; then
      sinks="$(pactl list short sinks 2>/dev/null || true)"
      [[ $sinks == *main_out* && $sinks == *jingle_out* ]] && break
    fi
    sleep 0.1
  done
  if [[ $sinks != *main_out* || $sinks != *jingle_out* ]]; then
    echo "headless: the sound server did not start with the sinks main_out and jingle_out" >&2
    echo "  (pactl info: $(pactl info 2>&1 | head -1))" >&2
    sed 's/^/  pulseaudio: /' "$XDG_RUNTIME_DIR/pulse.log" >&2 2>/dev/null || true
    tavoria_headless_stop
    return 1
  fi
  pactl set-default-sink main_out >/dev/null 2>&1 || true
  export SDL_AUDIODRIVER=pulseaudio
  # Inside this session a test that finds no display or sound server fails instead
  # of skipping (tests/SessionSkip.h).
  export TAVORIA_REQUIRE_SESSION=1
}

tavoria_headless_stop() {
  pulseaudio --kill >/dev/null 2>&1 || true
  if [ -n "${TAVORIA_XVFB_PID:-}" ]; then kill "$TAVORIA_XVFB_PID" 2>/dev/null || true; fi
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [[ "$XDG_RUNTIME_DIR" == /tmp/tavoria-run.* ]]; then
    rm -rf "$XDG_RUNTIME_DIR"
  fi
}
