#!/usr/bin/env bash
# Runs the X server and session bus that the desktop tests use, apart from anything else on the machine.
#
#   scripts/x11-sandbox.sh start STATE_DIR   (prints the environment the tests need)
#   scripts/x11-sandbox.sh stop STATE_DIR
#
# start launches Xvfb (1920x1080, 24 bits, RandR, no TCP) on the first free display number and a private
# session D-Bus bus whose socket lies in STATE_DIR, so launching applications never reaches or
# autolaunches another bus. It writes DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR and
# VELM_TEST_X11=1 to STATE_DIR/env. stop ends only the processes that start launched, by their recorded
# ids, and removes STATE_DIR.
set -euo pipefail

# shellcheck source=sandbox-processes.sh
. "$(dirname "${BASH_SOURCE[0]}")/sandbox-processes.sh"

stop() {
  [[ -d "$state" ]] || return 0
  end_process "$state/dbus.pid" dbus-daemon
  end_process "$state/xvfb.pid" Xvfb
  rm -rf "$state"
}

# The first display number with neither a socket nor a lock file; Xvfb itself refuses a taken one.
free_display() {
  local number
  for number in $(seq 90 200); do
    if [[ ! -e /tmp/.X11-unix/X$number && ! -e /tmp/.X$number-lock ]]; then
      echo "$number"
      return 0
    fi
  done
  echo "x11-sandbox: no free display number" >&2
  return 1
}

start() {
  for tool in Xvfb dbus-daemon xrandr; do
    command -v "$tool" >/dev/null || { echo "x11-sandbox: $tool is missing" >&2; return 1; }
  done
  mkdir -p "$state"
  local runtime=$state/runtime
  mkdir -p "$runtime"
  chmod 0700 "$runtime"

  local number
  number=$(free_display)
  Xvfb ":$number" -screen 0 1920x1080x24 -nolisten tcp +extension RANDR >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  wait_for "Xvfb" "[[ -S /tmp/.X11-unix/X$number ]] && DISPLAY=:$number xrandr >/dev/null 2>&1" || {
    cat "$state/xvfb.log" >&2
    return 1
  }

  local bus=unix:path=$state/session_bus_socket
  # What the bus starts by activation (the accessibility bus, which any program reading the tree asks
  # for) inherits its environment: so it keeps its socket in the sandbox's runtime folder rather than in
  # the user's home, where another run's would meet it, shows on the sandbox's display, and keeps the
  # desktop settings it changes in memory.
  XDG_RUNTIME_DIR=$runtime DISPLAY=:$number GSETTINGS_BACKEND=memory \
    dbus-daemon --session --nofork --nopidfile --address="$bus" >"$state/dbus.log" 2>&1 &
  echo $! >"$state/dbus.pid"
  wait_for "the session bus" "[[ -S '$state/session_bus_socket' ]]"

  printf 'DISPLAY=:%s\nDBUS_SESSION_BUS_ADDRESS=%s\nXDG_RUNTIME_DIR=%s\nVELM_TEST_X11=1\n' \
    "$number" "$bus" "$runtime" >"$state/env"
  cat "$state/env"
}

run_sandbox "$@"
