#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# In CI (CI=true) it also builds with -Werror and runs the tests a second
# time under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"

# The discovery tests need an mDNS daemon that cannot reach a real network: as root, one runs for
# the whole test run on a private bus, inside a namespace with only loopback. Without root those
# tests skip.
if [[ $(id -u) -eq 0 ]]; then
  avahi_state=$(mktemp -d /tmp/velm-avahi.XXXXXX)
  trap '"$root/scripts/avahi-sandbox.sh" stop "$avahi_state"' EXIT
  "$root/scripts/avahi-sandbox.sh" start "$avahi_state" >/dev/null
  set -a
  # shellcheck disable=SC1091
  source "$avahi_state/env"
  set +a
fi

run_suite() {
  local flavour=$1
  local dir=$root/build/$flavour
  "$root/scripts/build.sh" "$flavour" "$dir"
  ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" --timeout 600
}

run_suite plain
if [[ "${CI:-}" == "true" ]]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite sanitize
fi
