#!/usr/bin/env bash
# Configures and builds one build folder.
# Usage: scripts/build.sh [plain|sanitize|thread] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-plain}
dir=${2:-$root/build/$flavour}

args=(-G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${CI:-}" == "true" ]]; then
  args+=(-DVELM_WERROR=ON)
fi
case "$flavour" in
  plain) ;;
  sanitize) args+=(-DVELM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  thread) args+=(-DVELM_TSAN=ON -DVELM_BENCH=OFF) ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac

cmake "${args[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
