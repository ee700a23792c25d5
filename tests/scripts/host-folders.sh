#!/usr/bin/env bash
# The folders of Velm_Host/ include each other one way only, and the host's core (every folder but ui/
# and x11/) reaches the X display through interfaces alone: none of its sources includes x11/, platform/x11/
# or an X11 header. main.cpp, the program, stands above the folders.
#
#   tests/scripts/host-folders.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/script-test.sh
. "$(dirname "$0")/../support/script-test.sh"

cd "$1"
folder_of() {
  case "$1" in
    Velm_Host/main.cpp) echo program ;;
    Velm_Host/*/*) local rest=${1#Velm_Host/} && echo "${rest%%/*}" ;;
    *) echo . ;;
  esac
}

# One line "FROM TO" per include between two folders, then each pair once.
find Velm_Host -name '*.h' -o -name '*.cpp' | sort | while read -r source; do
  from=$(folder_of "$source")
  sed -nE 's|^#include "(Velm_Host/[^"]*)".*|\1|p' "$source" | while read -r included; do
    to=$(folder_of "$included")
    [[ "$from" == "$to" ]] || echo "$from $to"
  done
done | sort -u >"$scratch/edges"
check "Velm_Host's folders include one another" test -s "$scratch/edges"
# tsort names the folders on a loop when there is one.
tsort "$scratch/edges" >/dev/null 2>"$scratch/loops" || true
check "no two folders of Velm_Host include each other, directly or round a loop" lacks "$scratch/loops" "loop"

find Velm_Host -name '*.h' -o -name '*.cpp' | grep -vE '^Velm_Host/(ui|x11)/|^Velm_Host/main\.cpp$' |
  xargs grep -nE '^#include ("Velm_Host/x11/|"platform/x11/|<X11/)' >"$scratch/x11" || true
check "the host's core includes nothing of X11" lacks "$scratch/x11" "#include"
