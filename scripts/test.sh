#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# In CI (CI=true) it also checks the formatting, builds with -Werror, runs the tests a second time
# under AddressSanitizer and UndefinedBehaviorSanitizer, and runs the fuzz targets briefly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Each step says how long it took and how much processor time it and its children used, so that CI's
# time can be read step by step from its log.
processor_ticks() {
  awk '{ print $14 + $15 + $16 + $17 }' "/proc/$$/stat"
}
timed() {
  local step=$1 start=$SECONDS ticks status=0
  shift
  ticks=$(processor_ticks)
  "$@" || status=$?
  echo "test: $step took $((SECONDS - start)) s, $((($(processor_ticks) - ticks) / $(getconf CLK_TCK))) s of processor time"
  return $status
}

timed "installing" "$root/scripts/install-deps.sh"

# The services some tests need, each started by a sandbox script that prints the environment those
# tests read and stopped by it again, by process id. A service that cannot start here (no root, no
# network namespaces) makes its tests skip, and says so once.
running=()
stop_services() {
  local entry
  for entry in "${running[@]}"; do
    "$root/scripts/${entry%% *}" stop "${entry#* }" || true
  done
}
trap stop_services EXIT

start_service() {
  local script=$1 what=$2 state
  state=$(mktemp -d "/tmp/velm-${script%%-*}.XXXXXX")
  if "$root/scripts/$script" start "$state" >"$state.log" 2>&1; then
    running+=("$script $state")
    set -a
    # shellcheck disable=SC1091
    source "$state/env"
    set +a
  else
    echo "test: the $what tests skip: $(tail -n 1 "$state.log")"
    rm -rf "$state"
  fi
  rm -f "$state.log"
}

start_service avahi-sandbox.sh discovery
start_service x11-sandbox.sh desktop
if [[ -n "${VELM_TEST_X11:-}" ]]; then
  start_service tray-sandbox.sh tray
else
  echo "test: the tray tests skip: there is no X server for them"
fi

# Every test case is a test of its own; most wait on loopback rather than on the processor, so a
# two-core machine runs four at a time.
jobs=$(nproc)
((jobs < 4)) && jobs=4

# Runs under `timed`, where a failing command does not end the script: each failure returns.
run_tests() {
  local dir=$1 status=0 output=$1/ctest-output.log
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 600 2>&1 | tee "$output" || status=$?
  "$root/scripts/skipped-tests.sh" "$output" "$dir" || return $?
  return $status
}

run_suite() {
  local flavour=$1
  local dir=$root/build/$flavour
  timed "building $flavour" "$root/scripts/build.sh" "$flavour" "$dir"
  timed "testing $flavour" run_tests "$dir"
}

if [[ "${CI:-}" == "true" ]]; then
  echo "test: checking the formatting"
  timed "checking the formatting" bash -c "cd '$root' && git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format-14 --dry-run -Werror"
fi

run_suite plain
if [[ "${CI:-}" == "true" ]]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_suite sanitize
  # Every decoder's corpus replayed, then a short fuzz of each; a finding fails the run.
  timed "fuzzing" "$root/scripts/fuzz.sh" ci
fi
