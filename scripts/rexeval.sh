#!/usr/bin/env bash
# Build (when needed) and run the rexeval command: scripts/rexeval.sh [TEXT...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target rexeval >/dev/null
exec "$root/build/hostsim/rexeval" "$@"
