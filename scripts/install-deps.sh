#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Velm Host need.
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # libraries
  libssl-dev libasio-dev nlohmann-json3-dev libicu-dev uuid-dev libturbojpeg0-dev
  # local-network service discovery
  libavahi-client-dev
  # the desktop: screens, input, accessibility, buses, desktop entries, user interface
  libx11-dev libxtst-dev libxi-dev libxrandr-dev libxfixes-dev libxext-dev
  libatspi2.0-dev libsystemd-dev libglib2.0-dev qt6-base-dev libqt6svg6
  # the curtain's label: Xft and a font for it
  libxft-dev fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev iproute2
  # the desktop tests draw ARGB pointers with XRender
  libxrender-dev
  # glib-compile-schemas, for the settings schema the desktop-settings tests compile
  libglib2.0-bin
  # the services tests run: an mDNS daemon and its bus, an X server, the accessibility bus, a tray
  avahi-daemon dbus xvfb x11-xserver-utils xdotool at-spi2-core trayer python3-dbus python3-gi
  # finding the host as a device would, and checking its desktop entries and Debian package
  avahi-utils desktop-file-utils dpkg-dev file binutils
  # the X cursor font, whose shapes the cursor tests show
  xfonts-base
  # fuzzing and the format check
  clang-14 libfuzzer-14-dev clang-format-14
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

# Another package manager (an unattended upgrade, a second install) may hold the lock for a while:
# wait for it rather than fail at once.
lock_wait=300
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! apt-get -o DPkg::Lock::Timeout=$lock_wait update ||
  ! apt-get -o DPkg::Lock::Timeout=$lock_wait install -y --no-install-recommends "${missing[@]}"; then
  echo "install-deps: apt-get failed (another package manager may have held its lock for over ${lock_wait} s)" >&2
  exit 1
fi
