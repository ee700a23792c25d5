#!/usr/bin/env bash
# scripts/run.sh starts the daemons the host needs before the host, and never a second of one.
#
#   tests/scripts/run-daemons.sh by-hand|systemd|systemd-masked SOURCE_DIR VELM_HOST
#
# by-hand: without systemd it starts the system bus and avahi-daemon, and the host it then runs is
# found by avahi-browse. systemd: it asks systemctl (a stand-in on PATH) to enable and start
# avahi-daemon. systemd-masked: an avahi-daemon the administrator masked is said, left masked, and the
# host runs all the same (devices reach it by address). Each runs in a private namespace, where no real
# daemon, bus or network is reached.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

case_name=$1 source_dir=$2 program=$3
run=$source_dir/scripts/run.sh

not() { ! "$@"; }

same_pid() {
  [[ "$(cat "$1" 2>/dev/null)" == "$2" ]]
}

# The host's own folders, and no display, bus or desktop of the caller's.
host_environment() {
  export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
    XDG_RUNTIME_DIR=$scratch/runtime
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
  chmod 0700 "$XDG_RUNTIME_DIR"
  unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS
}

wait_for_port() {
  local output=$1 port
  # A minute: the sanitizers' build starts slowly on a loaded machine.
  for _ in $(seq 600); do
    port=$(sed -n 's/.*listening on port \([0-9][0-9]*\).*/\1/p;T;q' "$output")
    [[ -n "$port" ]] && { echo "$port"; return 0; }
    sleep 0.1
  done
  return 1
}

browse_finds() {
  local port=$1 found=$scratch/browse
  for _ in $(seq 50); do
    timeout 10 avahi-browse --resolve --terminate --parsable _velm._tcp >"$found" 2>&1 || true
    grep -q "^=;lo;IPv4;.*;_velm\._tcp;local;.*;$port;\".*id=" "$found" && return 0
    sleep 0.2
  done
  cat "$found" >&2
  return 1
}

inside_by_hand() {
  host_environment
  check "no avahi-daemon runs at first" not avahi-daemon --check
  local output=$scratch/run.out
  "$run" --daemons "$program" >"$output" 2>&1 &
  local host=$!
  local port
  port=$(wait_for_port "$output") || { cat "$output" >&2; fail "the host printed no port"; }
  check "it says it starts the system bus" contains "$output" "no systemd here: starting the system bus"
  check "it says it starts avahi-daemon" contains "$output" "no systemd here: starting avahi-daemon"
  check "avahi-browse finds the host on port $port" browse_finds "$port"

  local bus avahi again=$scratch/again.out
  bus=$(cat /run/dbus/pid) avahi=$(cat /run/avahi-daemon/pid)
  "$run" --daemons true >"$again" 2>&1
  check "a second run starts nothing" lacks "$again" "starting"
  check "the system bus is the first one" same_pid /run/dbus/pid "$bus"
  check "avahi-daemon is the first one" same_pid /run/avahi-daemon/pid "$avahi"

  kill -TERM "$host"
  wait "$host" || true
  kill -TERM "$avahi" "$bus"
}

# A machine with systemd, whose systemctl (a stand-in on $scratch/bin, noting each call in
# $scratch/systemctl.calls) answers with the case lines given.
with_systemd() {
  # What sd_booted() looks at.
  mkdir -p /run/systemd/system "$scratch/bin"
  # shellcheck disable=SC2016 # the stand-in expands them as it runs
  printf '#!/usr/bin/env bash\necho "$*" >>%q\ncase "$1" in\n%s\nesac\n' \
    "$scratch/systemctl.calls" "$1" >"$scratch/bin/systemctl"
  chmod +x "$scratch/bin/systemctl"
}

inside_systemd() {
  local calls=$scratch/systemctl.calls
  with_systemd "  is-active) [[ -e '$scratch/active' ]] ;;
  enable) touch '$scratch/active' ;;"
  local output=$scratch/run.out again=$scratch/again.out
  PATH=$scratch/bin:$PATH "$run" --daemons true >"$output" 2>&1
  check "it says it enables and starts avahi-daemon" contains "$output" \
    "starting avahi-daemon and enabling it at boot (systemctl enable --now avahi-daemon)"
  check "systemctl was asked to" contains "$calls" "enable --now avahi-daemon.service"
  check "no system bus was started by hand" not test -e /run/dbus/pid
  check "no avahi-daemon was started by hand" not avahi-daemon --check

  PATH=$scratch/bin:$PATH "$run" --daemons true >"$again" 2>&1
  check "once it runs, nothing more is said" lacks "$again" "starting"
  check "nor asked of systemctl" test "$(grep -c '^enable' "$calls")" -eq 1
}

inside_systemd_masked() {
  local calls=$scratch/systemctl.calls
  # As systemctl answers for a masked unit.
  with_systemd "  is-active) echo inactive; exit 3 ;;
  is-enabled) echo masked; exit 1 ;;
  enable) echo 'Failed to enable unit: Unit file avahi-daemon.service is masked.' >&2; exit 1 ;;"
  local output=$scratch/run.out status=0
  PATH=$scratch/bin:$PATH "$run" --daemons echo "the host runs" >"$output" 2>&1 || status=$?
  check "it ends as the command it runs ends" test "$status" -eq 0
  check "the command runs after it" contains "$output" "the host runs"
  check "it says avahi-daemon is masked" contains "$output" \
    "avahi-daemon is masked, so nearby devices cannot find this computer"
  check "it leaves the mask in place" lacks "$calls" "enable --now"
}

if [[ "${VELM_INSIDE_NAMESPACE:-}" == "1" ]]; then
  "inside_${case_name//-/_}"
  exit 0
fi

require_private_namespace
for tool in dbus-daemon dbus-send avahi-daemon avahi-browse; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
done
case "$case_name" in
  by-hand | systemd | systemd-masked) ;;
  *) fail "unknown case $case_name" ;;
esac
export VELM_INSIDE_NAMESPACE=1
in_private_namespace "$0" "$@"
