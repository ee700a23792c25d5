#!/usr/bin/env bash
# Installs what is missing, builds the host in Release (build/release), makes sure the daemons it needs
# run, and runs it with the arguments given: scripts/run.sh --pair opens a pairing window at start and
# prints its code. Stop it with Ctrl-C.
#
#   scripts/run.sh [velm-host options]
#   scripts/run.sh --daemons [COMMAND [ARGS...]]   only the daemons, then COMMAND in place of this script
#
# Nearby devices find the host through avahi-daemon, which hears from the host over the system bus.
# With systemd, avahi-daemon is enabled and started as a service. Without it (a container), the system
# bus and avahi-daemon are started here, as daemons that outlive the host. Nothing is started where it
# runs already.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/release

say() { echo "run: $*"; }

system_bus_answers() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

avahi_runs() {
  avahi-daemon --check 2>/dev/null
}

start_with_systemd() {
  systemctl is-active --quiet avahi-daemon.service && return 0
  # A masked daemon is the administrator's choice, left as it is: devices still reach the host by its
  # address and port.
  if [[ "$(systemctl is-enabled avahi-daemon.service 2>/dev/null || true)" == masked* ]]; then
    say "avahi-daemon is masked, so nearby devices cannot find this computer;" \
      "to let them: systemctl unmask avahi-daemon && systemctl enable --now avahi-daemon" >&2
    return 0
  fi
  if [[ $(id -u) -ne 0 ]]; then
    say "avahi-daemon is not running, so nearby devices cannot find this computer;" \
      "start it as root: systemctl enable --now avahi-daemon" >&2
    return 0
  fi
  say "starting avahi-daemon and enabling it at boot (systemctl enable --now avahi-daemon)"
  # The host runs without it all the same, found by address only.
  if ! systemctl enable --now avahi-daemon.service; then
    say "systemctl could not start avahi-daemon, so nearby devices cannot find this computer" \
      "(see: systemctl status avahi-daemon)" >&2
  fi
}

start_by_hand() {
  system_bus_answers && avahi_runs && return 0
  if [[ $(id -u) -ne 0 ]]; then
    say "the system bus or avahi-daemon is not running, so nearby devices cannot find this computer;" \
      "run this script as root once to start them" >&2
    return 0
  fi
  if ! system_bus_answers; then
    # A bus that died leaves its pid file behind, and a new one refuses to start over it.
    local pid
    pid=$(cat /run/dbus/pid 2>/dev/null || true)
    if [[ -n "$pid" ]] && ! kill -0 "$pid" 2>/dev/null; then
      rm -f /run/dbus/pid
    fi
    say "no systemd here: starting the system bus (dbus-daemon --system)"
    mkdir -p /run/dbus
    dbus-daemon --system --fork || { say "the system bus did not start" >&2; exit 1; }
  fi
  if ! avahi_runs; then
    # A container may not let a daemon raise its own resource limits.
    say "no systemd here: starting avahi-daemon (avahi-daemon --daemonize --no-rlimits)"
    avahi-daemon --daemonize --no-rlimits || { say "avahi-daemon did not start" >&2; exit 1; }
  fi
}

start_daemons() {
  if [[ -d /run/systemd/system ]]; then
    start_with_systemd
  else
    start_by_hand
  fi
}

if [[ "${1:-}" == "--daemons" ]]; then
  shift
  start_daemons
  (($# == 0)) || exec "$@"
  exit 0
fi

"$root/scripts/install-deps.sh"

mkdir -p "$dir"
if ! cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVELM_BENCH=OFF >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log" >&2
  echo "run: configuring $dir failed" >&2
  exit 1
fi
cmake --build "$dir" --target velm-host --parallel "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
start_daemons
exec "$dir/velm-host" "$@"
