#!/usr/bin/env bash
# What only the client runs sits in the client/ folders of protocol/, transport/ and input/, so that the
# rest is what velm-host runs: no library source outside a client/ folder includes one (tests may, to
# play the device's side).
#
#   tests/scripts/client-folders.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

cd "$1"
for module in protocol transport input; do
  check "$module/client/ holds sources" test -n "$(find "$module/client" -name '*.cpp' -print -quit)"
done

find platform protocol transport input Velm_Host -name '*.h' -o -name '*.cpp' | grep -v '/client/' |
  xargs grep -nE '^#include "[^"]*/client/' >"$scratch/upward" || true
check "no shared or host source includes a client/ folder" lacks "$scratch/upward" "#include"
