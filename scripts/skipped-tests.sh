#!/usr/bin/env bash
# Names the tests that a ctest run skipped, and why.
#
#   scripts/skipped-tests.sh CTEST_OUTPUT BUILD_DIR
#
# The list is ctest's own, from what it printed (CTEST_OUTPUT): the tests under "The following tests
# did not run:" marked "(Skipped)". Its log, BUILD_DIR/Testing/Temporary/LastTest.log, cannot tell:
# it says "Test Passed." for a test that skipped. The reason is taken from that log, though: the line a
# test printed after its "Skipped" mark (GoogleTest's "FILE:LINE: Skipped", the script tests'
# "NAME: Skipped").
set -euo pipefail
output=$1
log=$2/Testing/Temporary/LastTest.log

mapfile -t skipped < <(awk '
  /^The following tests did not run:/ { listed = 1; next }
  listed && /\(Skipped\)[[:space:]]*$/ { print $3; next }
  listed && !/^[[:space:]]/ { listed = 0 }
' "$output")

if ((${#skipped[@]} == 0)); then
  echo "test: no test skipped"
  exit 0
fi

# name<TAB>reason for every test in the log that printed a reason after its mark.
reasons=""
if [[ -f "$log" ]]; then
  reasons=$(awk '
    /^[0-9]+\/[0-9]+ Test: / { name = $3; grab = 0; next }
    grab { print name "\t" $0; grab = 0; next }
    /(: |^)Skipped$/ { grab = 1 }
  ' "$log")
fi

if ((${#skipped[@]} == 1)); then
  echo "test: 1 test skipped:"
else
  echo "test: ${#skipped[@]} tests skipped:"
fi
for name in "${skipped[@]}"; do
  reason=$(awk -F '\t' -v name="$name" '$1 == name { print $2; exit }' <<<"$reasons")
  echo "  $name: ${reason:-(no reason given)}"
done
