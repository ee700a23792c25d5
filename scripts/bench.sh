#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark. Each benchmark prints its
# speed as a ratio to a baseline measured in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir=$root/build/bench
cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
for program in "$dir"/bench/bench_*; do
  [[ -x "$program" ]] || continue
  echo "== $(basename "$program")"
  "$program" "$@"
done
