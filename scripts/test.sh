#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# In CI (CI=true) it also builds with -Werror and runs the tests a second
# time under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"

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
