#!/usr/bin/env bash
# Starts and closes the desk many times in a row while two busy processes keep both
# cores loaded, in three settings: with a sound server, without one, and with the
# display coming up only after the desk was started. Each run must show its window,
# close on request (saving config.ini) and exit with status 0 within the time limit:
# no abort, no hang. Prints a line per setting; ends with status 1 when a run failed.
#
# The whole output of every failed run is kept in a folder named at the end.
#
# Usage: bench/stress/startup_stress.sh path/to/tavoria [runs per setting, 200]
#          [settings: any of "sound nosound late", all by default]
set -uo pipefail
APP="$(readlink -f "${1:?path to tavoria}")"
RUNS="${2:-200}"
SETTINGS="${3:-sound nosound late}"
WORK="$(mktemp -d /tmp/tavoria-stress.XXXXXX)"
FAILED_LOGS=""
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/scripts/headless.sh"

busy=()
for _ in 1 2; do
  (while :; do :; done) &
  busy+=($!)
done
cleanup() {
  kill "${busy[@]}" 2>/dev/null
  tavoria_headless_stop
  [ -n "${LATE_X:-}" ] && kill "$LATE_X" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

free_display() {
  local n
  for n in $(seq 150 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      echo "$n"
      return
    fi
  done
}

# One run: start, wait for the clock file (the window is up and its timers run),
# ask it to close, wait for the exit. Prints ok / the failure.
one_run() { # late-display(0/1)
  rm -f "$WORK/out/hora.txt"
  local started=$SECONDS
  if [ "$1" = 1 ]; then
    local n
    n="$(free_display)"
    export DISPLAY=":$n"
    (cd "$WORK" && exec "$APP" >"$WORK/app.log" 2>&1) &
    local pid=$!
    sleep 1.5
    Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
    LATE_X=$!
  else
    (cd "$WORK" && exec "$APP" >"$WORK/app.log" 2>&1) &
    local pid=$!
  fi
  local t
  for t in $(seq 1 300); do
    [ -s "$WORK/out/hora.txt" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    echo "exited at start-up with status $?: $(tail -2 "$WORK/app.log" | tr '\n' ' ')"
  elif [ ! -s "$WORK/out/hora.txt" ]; then
    kill -KILL "$pid"
    echo "no clock file after 30 s (hang)"
  else
    kill -TERM "$pid"
    for t in $(seq 1 200); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid"
      echo "did not close within 20 s (hang)"
    else
      wait "$pid"
      local rc=$?
      if [ "$rc" -ne 0 ]; then
        echo "exit status $rc: $(tail -2 "$WORK/app.log" | tr '\n' ' ')"
      else
        echo "ok $((SECONDS - started))"
      fi
    fi
  fi
  if [ "$1" = 1 ]; then
    kill "$LATE_X" 2>/dev/null
    wait "$LATE_X" 2>/dev/null
    LATE_X=
  fi
}

setting() { # name late-display short-name
  local ok=0 fail=0 i r
  mkdir -p "$WORK/out"
  printf '\xef\xbb\xbf[CONFIG]\r\nOutTextos=%s\r\n\r\n' "$WORK/out" >"$WORK/config.ini"
  for i in $(seq 1 "$RUNS"); do
    r="$(one_run "$2")"
    if [[ $r == ok* ]]; then ok=$((ok + 1)); else
      fail=$((fail + 1))
      [ -n "$FAILED_LOGS" ] || FAILED_LOGS="$(mktemp -d /tmp/tavoria-stress-failures.XXXXXX)"
      cp "$WORK/app.log" "$FAILED_LOGS/$3-run$i.log"
      echo "  run $i: $r"
    fi
  done
  printf '%-28s %d/%d runs clean, %d failed\n' "$1" "$ok" "$RUNS" "$fail"
}

tavoria_headless_start
for s in $SETTINGS; do
  case "$s" in
  sound) setting "with a sound server" 0 sound ;;
  nosound)
    pulseaudio --kill >/dev/null 2>&1
    sleep 0.5
    setting "without a sound server" 0 nosound
    ;;
  late) setting "display appearing late" 1 late ;;
  esac
done
if [ -n "$FAILED_LOGS" ]; then
  echo "output of the failed runs: $FAILED_LOGS"
  exit 1
fi
