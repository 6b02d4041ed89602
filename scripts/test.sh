#!/usr/bin/env bash
# Configure, build and run every test. Usage: scripts/test.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DPRX_WERROR=ON "$@" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
