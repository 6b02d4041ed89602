#!/usr/bin/env bash
# prxmatch piped a file beside a PCRE2 filter of the same shape (one position
# printed per line), at a cached site (kind X with a constant pattern argument:
# compiled once) and at a
# releasing site (kind D, compiled and released on every line, and with it
# the task's interpreter), with each run's peak resident size.
#
#   bench/piped.sh [BUILD_DIR] [LINES] [CPU]
#
# LINES lines (default 50000) are taken from the corpus, repeated as needed;
# the runs are pinned to CPU (default 6) when taskset is there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build=${1:-$root/build}
lines=${2:-50000}
cpu=${3:-6}
corpus=${PRX_BENCH_CORPUS:-$root/../shared/bench/sherlock.txt}
prxmatch=$build/hostsim/prxmatch
peer=$build/bench/pcre2_filter
for tool in "$prxmatch" "$peer"; do
  [ -x "$tool" ] || { echo "piped.sh: $tool is not built" >&2; exit 1; }
done

input=$(mktemp)
out_ours=$(mktemp)
out_peer=$(mktemp)
rss_file=$(mktemp)
trap 'rm -f "$input" "$out_ours" "$out_peer" "$rss_file"' EXIT
while [ "$(wc -l < "$input")" -lt "$lines" ]; do cat "$corpus" >> "$input"; done
head -n "$lines" "$input" > "$input.cut" && mv "$input.cut" "$input"

pin=()
command -v taskset >/dev/null && pin=(taskset -c "$cpu")

# Runs a command on the input; prints "seconds peak-KiB".
measure() {
  local out=$1
  shift
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -o "$rss_file" -f "%M" "${pin[@]}" "$@" < "$input" > "$out" 2>/dev/null
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc -l) $(tail -n 1 "$rss_file")"
}

printf "%-9s %-9s | %9s %9s %7s | %9s %9s %7s | %9s %9s | %s\n" case site "ours s" "pcre2 s" ratio \
  "ours us/l" "pcre2 us/l" "" "ours KiB" "pcre2 KiB" agree
# name, prxmatch pattern, PCRE2 pattern, PCRE2 options
while IFS='|' read -r name prx pcre opts; do
  for site in cached releasing; do
    if [ $site = cached ]; then ours=(--kind X --constant); per=(); else ours=(--kind D); per=(--per-line); fi
    read -r ts rs < <(measure "$out_ours" "$prxmatch" "${ours[@]}" "$prx")
    # shellcheck disable=SC2086
    read -r tp rp < <(measure "$out_peer" "$peer" "${per[@]}" $opts "$pcre")
    agree=yes
    cmp -s <(cut -f1 "$out_ours") "$out_peer" || agree=NO
    printf "%-9s %-9s | %9.3f %9.3f %7.3f | %9.2f %9.2f %7s | %9s %9s | %s\n" "$name" $site "$ts" "$tp" \
      "$(echo "$tp / $ts" | bc -l)" "$(echo "$ts * 1000000 / $lines" | bc -l)" \
      "$(echo "$tp * 1000000 / $lines" | bc -l)" "" "$rs" "$rp" $agree
  done
done <<'EOF'
literal|/Holmes/|Holmes|
fold-lit|/holmes/i|holmes|--caseless
class|/[A-Z][a-z]+ Holmes/|[A-Z][a-z]+ Holmes|
anchored|/^The /|^The |
EOF
echo "ratio = PCRE2's time / ours, whole runs including process start; $lines lines; load: $(uptime)"
