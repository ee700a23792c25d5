#!/usr/bin/env bash
# Installs what is missing, builds the host in Release (build/release) and runs it with the arguments
# given: scripts/run.sh --pair opens a pairing window at start and prints its code. Stop it with Ctrl-C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/release

"$root/scripts/install-deps.sh"

mkdir -p "$dir"
if ! cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVELM_BENCH=OFF >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log" >&2
  echo "run: configuring $dir failed" >&2
  exit 1
fi
cmake --build "$dir" --target velm-host --parallel "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
exec "$dir/velm-host" "$@"
