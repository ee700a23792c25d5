#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang 14, AddressSanitizer and UndefinedBehaviorSanitizer,
# in build/fuzz (only the libraries the targets need), and runs them.
#
# Usage:
#   scripts/fuzz.sh ci                      replay every target's corpus, then fuzz each for a fixed number
#                                           of runs; a finding fails, and its input is kept under
#                                           fuzz/corpus/<target>/ as a regression case (commit it)
#   scripts/fuzz.sh run TARGET [SECONDS]    fuzz one target for longer (default 600 s)
#   scripts/fuzz.sh seeds                   write the seed corpora again with the project's encoders
#   scripts/fuzz.sh list                    the targets
#
# VELM_FUZZ_RUNS sets the runs per target in ci (default 10000), VELM_FUZZ_SEED the random seed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
corpus=$root/fuzz/corpus
jobs=$(nproc)
jobs=$((jobs < 3 ? jobs : 3))

targets() {
  for source in "$root"/fuzz/targets/*.cpp; do
    basename "$source" .cpp
  done
}

build_targets() {
  # Light optimisation and line tables only: the build is most of the time CI spends here, and
  # line tables are all a sanitizer report needs.
  local args=(-G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only"
              -DVELM_FUZZ=ON)
  if [[ "${CI:-}" == "true" ]]; then
    args+=(-DVELM_WERROR=ON)
  fi
  CC=clang-14 CXX=clang++-14 cmake "${args[@]}" >/dev/null
  cmake --build "$build" --target fuzz_targets --parallel "$jobs"
}

# Copies what libFuzzer left in $2 (crash-, leak-, timeout-, oom- files) into the target's corpus.
keep_findings() {
  local target=$1 artifacts=$2 found
  for found in "$artifacts"/*; do
    [[ -e "$found" ]] || continue
    cp "$found" "$corpus/$target/"
    echo "fuzz: $target: kept $(basename "$found") in fuzz/corpus/$target/ as a regression case" >&2
  done
}

run_ci() {
  local runs=${VELM_FUZZ_RUNS:-10000} seed=${VELM_FUZZ_SEED:-$((RANDOM * 32768 + RANDOM))}
  local scratch failed=() target
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' RETURN
  echo "fuzz: $runs runs per target, seed $seed"
  for target in $(targets); do
    mkdir -p "$corpus/$target" "$scratch/$target/new" "$scratch/$target/artifacts"
    local binary=$build/fuzz/fuzz_$target log=$scratch/$target/log
    local options=(-seed="$seed" -timeout=20 -rss_limit_mb=2048 -max_len=4096
                   -artifact_prefix="$scratch/$target/artifacts/")
    local start=$SECONDS
    if "$binary" "${options[@]}" -runs=0 "$corpus/$target" >"$log" 2>&1 &&
       "$binary" "${options[@]}" -runs="$runs" -max_total_time=60 "$scratch/$target/new" "$corpus/$target" \
         >>"$log" 2>&1; then
      echo "fuzz: $target passed ($((SECONDS - start)) s)"
    else
      tail -n 40 "$log" >&2
      keep_findings "$target" "$scratch/$target/artifacts"
      failed+=("$target")
    fi
  done
  local count
  count=$(targets | wc -l)
  echo "fuzz: $((count - ${#failed[@]})) passed, ${#failed[@]} failed"
  [[ ${#failed[@]} -eq 0 ]]
}

run_one() {
  local target=$1 seconds=${2:-600}
  local work=$build/work/$target
  mkdir -p "$work" "$corpus/$target"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$corpus/$target/" "$work" "$corpus/$target"
}

write_seeds() {
  local target
  for target in $(targets); do
    rm -f "$corpus/$target"/seed-*
    VELM_FUZZ_WRITE_SEEDS="$corpus/$target" "$build/fuzz/fuzz_$target"
  done
}

case "${1:-}" in
  ci) build_targets && run_ci ;;
  run)
    [[ -n "${2:-}" ]] || { echo "usage: $0 run TARGET [SECONDS]" >&2; exit 2; }
    build_targets && run_one "$2" "${3:-}" ;;
  seeds) build_targets && write_seeds ;;
  list) targets ;;
  *) echo "usage: $0 ci | run TARGET [SECONDS] | seeds | list" >&2; exit 2 ;;
esac
