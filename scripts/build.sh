#!/usr/bin/env bash
# Configures and builds one build folder.
# Usage: scripts/build.sh [plain|sanitize|thread] [BUILD_DIR]
# In CI (CI=true) warnings are errors and the plain flavour is built without debug information.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-plain}
dir=${2:-$root/build/$flavour}

args=(-G Ninja -S "$root" -B "$dir")
ci=false
[[ "${CI:-}" == "true" ]] && ci=true
if $ci; then
  args+=(-DVELM_WERROR=ON)
fi
case "$flavour" in
  plain)
    if $ci; then
      args+=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG")
    else
      args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    fi
    ;;
  sanitize)
    # Line tables are all a sanitizer report needs; the benchmarks are measured in the plain flavour only.
    args+=(-DVELM_SANITIZE=ON -DVELM_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1)
    ;;
  thread) args+=(-DVELM_TSAN=ON -DVELM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac

mkdir -p "$dir"
if ! cmake "${args[@]}" >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log" >&2
  echo "build: configuring $dir failed" >&2
  exit 1
fi
cmake --build "$dir" --parallel "$(nproc)"
