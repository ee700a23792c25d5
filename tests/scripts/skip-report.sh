#!/usr/bin/env bash
# scripts/skipped-tests.sh names every test that a real ctest run skipped, with its reason, and says
# "no test skipped" only when none did.
#
#   tests/scripts/skip-report.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

report=$1/scripts/skipped-tests.sh
command -v ctest >/dev/null || skip "ctest is missing"

# A ctest tree of tests that pass and skip in the two ways the suites do: GoogleTest's mark, and the
# script tests' exit status 77.
make_tree() {
  local tree=$1 tests=$2
  mkdir -p "$tree"
  printf '%s\n' "$tests" >"$tree/CTestTestfile.cmake"
}

passes='add_test(passes "true")'
gtest_skip='add_test(suite.Fixture.NeedsABus "sh" "-c" "printf '\''Case.cpp:12: Skipped\\nno bus here\\n\\n[  SKIPPED ] Fixture.NeedsABus\\n'\''")
set_tests_properties(suite.Fixture.NeedsABus PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")'
script_skip='add_test(scripts.needs_root "sh" "-c" "echo '\''needs_root: Skipped'\''; echo '\''a network namespace needs root'\''; exit 77")
set_tests_properties(scripts.needs_root PROPERTIES SKIP_RETURN_CODE 77)'
silent_skip='add_test(scripts.silent "sh" "-c" "exit 77")
set_tests_properties(scripts.silent PROPERTIES SKIP_RETURN_CODE 77)'

run() {
  local tree=$1
  ctest --test-dir "$tree" >"$tree/ctest.out" 2>&1 || true
  "$report" "$tree/ctest.out" "$tree" >"$tree/report"
}

make_tree "$scratch/skips" "$passes
$gtest_skip
$script_skip
$silent_skip"
run "$scratch/skips"
check "ctest itself lists the skips" contains "$scratch/skips/ctest.out" "The following tests did not run:"
check "the count is ctest's" contains "$scratch/skips/report" "test: 3 tests skipped:"
check "a GoogleTest skip is named with its reason" contains "$scratch/skips/report" \
  "  suite.Fixture.NeedsABus: no bus here"
check "a script's skip is named with its reason" contains "$scratch/skips/report" \
  "  scripts.needs_root: a network namespace needs root"
check "a skip without a reason says so" contains "$scratch/skips/report" "  scripts.silent: (no reason given)"
check "it never claims that nothing skipped" lacks "$scratch/skips/report" "no test skipped"
check "a passing test is not named" lacks "$scratch/skips/report" "passes"

make_tree "$scratch/one" "$passes
$script_skip"
run "$scratch/one"
check "one skip is one test" contains "$scratch/one/report" "test: 1 test skipped:"

make_tree "$scratch/none" "$passes"
run "$scratch/none"
check "a run without skips says so" contains "$scratch/none/report" "test: no test skipped"
