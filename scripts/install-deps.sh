#!/usr/bin/env bash
# Installs the Debian packages that building and testing Velm Host need.
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # libraries
  libssl-dev libasio-dev nlohmann-json3-dev libicu-dev uuid-dev
  # local-network service discovery
  libavahi-client-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev iproute2
  # the mDNS daemon and the bus it answers on, for the discovery tests
  avahi-daemon dbus
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run this script as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
