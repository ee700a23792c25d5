#!/usr/bin/env bash
# Runs a system tray on the X sandbox's display, for the tests of the tray icon and its menu.
#
#   scripts/tray-sandbox.sh start STATE_DIR   (prints the environment the tests need)
#   scripts/tray-sandbox.sh stop STATE_DIR
#
# start needs DISPLAY (the display of scripts/x11-sandbox.sh). It launches trayer, a small stand-alone
# tray, at the display's top right, waits until it owns the tray selection, and writes VELM_TEST_TRAY=1
# to STATE_DIR/env. stop ends only the process that start launched, by its recorded id, and removes
# STATE_DIR.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
}

[[ $# -eq 2 ]] || usage
command=$1
state=$2

# True when the process is alive and still the program we launched (ids get reused).
is_ours() {
  local pid=$1
  [[ -n "$pid" && -r /proc/$pid/cmdline ]] || return 1
  tr '\0' '\n' </proc/"$pid"/cmdline | head -n 1 | grep -q trayer
}

stop() {
  [[ -d "$state" ]] || return 0
  if [[ -f "$state/trayer.pid" ]]; then
    local pid
    pid=$(cat "$state/trayer.pid")
    if is_ours "$pid"; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        is_ours "$pid" || break
        sleep 0.1
      done
      is_ours "$pid" && kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -rf "$state"
}

start() {
  [[ -n "${DISPLAY:-}" ]] || { echo "tray-sandbox: no DISPLAY (start scripts/x11-sandbox.sh first)" >&2; return 1; }
  for tool in trayer xdotool; do
    command -v "$tool" >/dev/null || { echo "tray-sandbox: $tool is missing" >&2; return 1; }
  done
  mkdir -p "$state"
  trayer --edge top --align right --widthtype pixel --width 100 --height 24 >"$state/trayer.log" 2>&1 &
  echo $! >"$state/trayer.pid"
  # The tray is there once its panel window is mapped.
  for _ in $(seq 100); do
    if xdotool search --onlyvisible --class trayer >/dev/null 2>&1; then
      printf 'VELM_TEST_TRAY=1\n' >"$state/env"
      cat "$state/env"
      return 0
    fi
    is_ours "$(cat "$state/trayer.pid")" || break
    sleep 0.1
  done
  echo "tray-sandbox: trayer did not come up" >&2
  cat "$state/trayer.log" >&2
  return 1
}

case "$command" in
  start) start || { stop; exit 1; } ;;
  stop) stop ;;
  *) usage ;;
esac
