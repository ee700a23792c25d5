#!/usr/bin/env bash
# What the X sandbox's session bus starts by activation stays inside the sandbox: the accessibility bus
# keeps its socket in the sandbox's runtime folder, and it ends when the sandbox stops.
#
#   tests/scripts/x11-sandbox-activation.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

sandbox=$1/scripts/x11-sandbox.sh
for tool in Xvfb dbus-daemon xrandr gdbus /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh installs it)"
done

state=$scratch/x11
trap '"$sandbox" stop "$state"; rm -rf "$scratch"' EXIT
"$sandbox" start "$state" >/dev/null || fail "the X sandbox did not start"
runtime=$(sed -n 's/^XDG_RUNTIME_DIR=//p' "$state/env")
session=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$state/env")

# Asked with the test's own environment, which has no runtime folder of its own.
gdbus call --address "$session" --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress >"$scratch/address"
check "the accessibility bus listens in the sandbox's runtime folder" \
  contains "$scratch/address" "unix:path=$runtime/at-spi/bus"
launcher=$(gdbus call --address "$session" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetConnectionUnixProcessID org.a11y.Bus | tr -dc '0-9 ' | awk '{ print $NF }')

# Ended, or a zombie that nobody reaps: it runs no more either way.
has_ended() {
  local status
  status=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null || true)
  [[ -z "$status" || "$status" == "Z" ]]
}
ends_within_seconds() {
  for _ in $(seq $(($2 * 10))); do
    has_ended "$1" && return 0
    sleep 0.1
  done
  return 1
}
"$sandbox" stop "$state"
check "the launcher ends with the sandbox" ends_within_seconds "$launcher" 5
