#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# In CI (CI=true) it instead checks the formatting, builds with -Werror, runs every test under
# AddressSanitizer and UndefinedBehaviorSanitizer and the threaded suites under ThreadSanitizer, runs
# the plain-build-only tests and compiles the benchmarks, and runs the fuzz targets briefly.
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
# Arguments after the folder choose tests as ctest's own do.
run_tests() {
  local dir=$1 status=0 output=$1/ctest-output.log
  shift
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 600 "$@" 2>&1 | tee "$output" ||
    status=$?
  "$root/scripts/skipped-tests.sh" "$output" "$dir" || return $?
  return $status
}

# Builds a flavour (only the targets named before `--`, when any) and runs its tests (those that the
# ctest arguments after `--` choose, when any).
run_suite() {
  local flavour=$1 targets=()
  shift
  while (($# > 0)) && [[ "$1" != -- ]]; do
    targets+=("$1")
    shift
  done
  (($# > 0)) && shift
  local dir=$root/build/$flavour
  timed "building $flavour" "$root/scripts/build.sh" "$flavour" "$dir" "${targets[@]}"
  timed "testing $flavour" run_tests "$dir" "$@"
}

if [[ "${CI:-}" != "true" ]]; then
  run_suite plain
  exit 0
fi

timed "checking the formatting" bash -c "cd '$root' && git ls-files -z '*.h' '*.cpp' |
  xargs -0 -n 50 -P '$(nproc)' clang-format-14 --dry-run -Werror"

# Every test, under AddressSanitizer and UndefinedBehaviorSanitizer.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite sanitize

# The suites whose code hands work between threads, under ThreadSanitizer (tests/tsan.supp says what
# it is told to ignore, and why); the host suite runs the program itself as a child, built the same way.
run_suite thread platform_tests transport_tests host_tests velm-host -- -R '^(platform|transport|host)\.'

# What the sanitizers would distort or leave out: the memory a crowd of connections costs the host,
# and the benchmarks, which are compiled so that they keep up with the code they measure.
run_suite plain host_desktop_tests benchmarks -- -R '^host_desktop\.UnadmittedCrowdTest\.' --no-tests=error

# Every decoder's corpus replayed, then a short fuzz of each; a finding fails the run.
timed "fuzzing" "$root/scripts/fuzz.sh" ci
