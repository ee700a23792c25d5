#!/usr/bin/env bash
# Configures and builds one build folder.
# Usage: scripts/build.sh [plain|sanitize|thread] [BUILD_DIR] [TARGET...]
# Without targets it builds everything. In CI (CI=true) warnings are errors, each target's sources are
# compiled in batches (VELM_UNITY), and the plain flavour is built lightly optimised, without debug
# information: CI builds it only for what the sanitizers would distort and for compiling the benchmarks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-plain}
dir=${2:-$root/build/$flavour}
targets=("${@:3}")

args=(-G Ninja -S "$root" -B "$dir")
ci=false
[[ "${CI:-}" == "true" ]] && ci=true
if $ci; then
  args+=(-DVELM_WERROR=ON -DVELM_UNITY=ON)
fi
case "$flavour" in
  plain)
    if $ci; then
      args+=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG")
    else
      args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    fi
    ;;
  sanitize)
    # Line tables are all a sanitizer report needs; the benchmarks are compiled in the plain flavour only.
    # The standard library checks its own preconditions too (bounds, std::clamp), which no sanitizer sees.
    args+=(-DVELM_SANITIZE=ON -DVELM_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -D_GLIBCXX_ASSERTIONS")
    ;;
  thread)
    # ThreadSanitizer's own advice is -O1 and line tables; assertions stay on.
    args+=(-DVELM_TSAN=ON -DVELM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")
    ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac

mkdir -p "$dir"
if ! cmake "${args[@]}" >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log" >&2
  echo "build: configuring $dir failed" >&2
  exit 1
fi
build=(cmake --build "$dir" --parallel "$(nproc)")
if ((${#targets[@]} > 0)); then
  build+=(--target "${targets[@]}")
fi
"${build[@]}"
