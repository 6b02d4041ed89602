#!/usr/bin/env bash
# Configure, build and run every test. Usage: scripts/test.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."

# The differential test and the benchmark use PCRE2 from the system packages;
# both say they are skipped where it cannot be installed.
if ! [ -e /usr/include/pcre2.h ] && command -v apt-get >/dev/null; then
  (apt-get install -y -q libpcre2-dev >/dev/null 2>&1 || \
   (apt-get update -q >/dev/null 2>&1 && apt-get install -y -q libpcre2-dev >/dev/null 2>&1)) || \
   echo "test.sh: libpcre2-dev could not be installed; the differential test and the benchmark skip it"
fi
# The engine's benchmark runs beside RE2 too, and skips it where it is absent.
if ! [ -e /usr/include/re2/re2.h ] && command -v apt-get >/dev/null; then
  (apt-get install -y -q libre2-dev >/dev/null 2>&1 || \
   (apt-get update -q >/dev/null 2>&1 && apt-get install -y -q libre2-dev >/dev/null 2>&1)) || \
   echo "test.sh: libre2-dev could not be installed; the engine's benchmark skips RE2"
fi
# The grammar's tables are regenerated with byacc and compared with the
# committed ones; that test says it is skipped where byacc cannot be installed.
if ! command -v byacc >/dev/null && command -v apt-get >/dev/null; then
  (apt-get install -y -q byacc >/dev/null 2>&1 || \
   (apt-get update -q >/dev/null 2>&1 && apt-get install -y -q byacc >/dev/null 2>&1)) || \
   echo "test.sh: byacc could not be installed; the grammar's regeneration test skips"
fi
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DPRX_WERROR=ON "$@" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
