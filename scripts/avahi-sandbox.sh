#!/usr/bin/env bash
# Runs an mDNS daemon for the discovery tests that can never reach a real network.
#
#   scripts/avahi-sandbox.sh start STATE_DIR   (prints the environment the tests need)
#   scripts/avahi-sandbox.sh stop STATE_DIR
#
# start launches a private D-Bus bus of the system type (its socket in STATE_DIR, so the machine's own
# bus, if any, is never touched) and avahi-daemon inside a fresh network namespace that has only
# loopback, so its multicast stays there. The daemon also gets its own /run, so the pid file and socket
# of an avahi-daemon that may already run on the machine neither stop it nor get overwritten.
# Clients reach it through DBUS_SYSTEM_BUS_ADDRESS; start writes that, with VELM_TEST_AVAHI=1, to
# STATE_DIR/env. stop ends only the processes that start launched, by their recorded ids, and removes
# the namespace and STATE_DIR. Needs root (network namespaces).
set -euo pipefail

# shellcheck source=sandbox-processes.sh
. "$(dirname "${BASH_SOURCE[0]}")/sandbox-processes.sh"

stop() {
  [[ -d "$state" ]] || return 0
  end_process "$state/avahi.pid" avahi-daemon
  end_process "$state/dbus.pid" dbus-daemon
  if [[ -f "$state/netns" ]]; then
    ip netns delete "$(cat "$state/netns")" 2>/dev/null || true
  fi
  rm -rf "$state"
}

start() {
  if [[ $(id -u) -ne 0 ]]; then
    echo "avahi-sandbox: making a network namespace needs root" >&2
    return 1
  fi
  for tool in dbus-daemon avahi-daemon ip; do
    command -v "$tool" >/dev/null || { echo "avahi-sandbox: $tool is missing" >&2; return 1; }
  done
  mkdir -p "$state"
  local socket=$state/system_bus_socket
  local address=unix:path=$socket

  # A bus of the system type that admits everything: only this test run uses it.
  cat >"$state/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$address</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --config-file="$state/bus.conf" --nofork --nopidfile >"$state/dbus.log" 2>&1 &
  echo $! >"$state/dbus.pid"
  wait_for "the private bus" "[[ -S '$socket' ]]"

  # A sandbox that was killed before its stop leaves its namespace's name behind, and process ids come
  # round again: a name already taken is passed over.
  local namespace=velm-avahi-$$ attempt=0
  while [[ -e "/run/netns/$namespace" ]] && ((attempt < 20)); do
    attempt=$((attempt + 1))
    namespace=velm-avahi-$$-$attempt
  done
  if ! ip netns add "$namespace" 2>"$state/netns.log"; then
    echo "avahi-sandbox: cannot make a network namespace here ($(head -n 1 "$state/netns.log"))" >&2
    return 1
  fi
  echo "$namespace" >"$state/netns"
  ip -n "$namespace" link set lo up

  sed -e 's/^#\{0,1\}use-ipv6=.*/use-ipv6=no/' /etc/avahi/avahi-daemon.conf >"$state/avahi-daemon.conf"
  # ip netns exec gives the command a mount namespace of its own; a tmpfs on /run there hides the
  # machine's /run/avahi-daemon from our daemon and ours from the machine.
  DBUS_SYSTEM_BUS_ADDRESS=$address ip netns exec "$namespace" sh -c \
    'mount -t tmpfs velm-avahi-run /run && exec avahi-daemon -f "$1" --no-rlimits --no-drop-root --no-chroot' \
    sh "$state/avahi-daemon.conf" >"$state/avahi.log" 2>&1 &
  echo $! >"$state/avahi.pid"
  wait_for "avahi-daemon" "grep -q 'Server startup complete' '$state/avahi.log'" || {
    cat "$state/avahi.log" >&2
    return 1
  }

  printf 'DBUS_SYSTEM_BUS_ADDRESS=%s\nVELM_TEST_AVAHI=1\n' "$address" >"$state/env"
  cat "$state/env"
}

run_sandbox "$@"
