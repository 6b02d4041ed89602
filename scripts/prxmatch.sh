#!/usr/bin/env bash
# Build (when needed) and run the prxmatch command: scripts/prxmatch.sh PATTERN [SOURCE...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target prxmatch >/dev/null
exec "$root/build/hostsim/prxmatch" "$@"
