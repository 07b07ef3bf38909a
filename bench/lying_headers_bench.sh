#!/usr/bin/env bash
# Runs pinwright-cli check on every file of the lying-header set under
# /usr/bin/time -v and prints, per format, the worst wall time, the worst CPU
# time (user + system, which a busy machine does not inflate) and the worst
# peak resident memory, each with the file that cost it.
#   bench/lying_headers_bench.sh [CLI [SET]]
# CLI defaults to build/bin/pinwright-cli; SET is made by bench/lying_headers.py
# from fuzz/corpus when not given.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/bin/pinwright-cli}
set=${2:-}
if [ -z "$set" ]; then
  set=$(mktemp -d) made=1
  python3 bench/lying_headers.py fuzz/corpus "$set" 2>/dev/null
fi
stats=$(mktemp)
trap 'rm -f "$stats"; [ -n "${made:-}" ] && rm -rf "$set"' EXIT
printf '| format | files | worst wall (s) | file | worst CPU (s) | file | worst peak RSS (MB) | file |\n'
printf '|---|---:|---:|---|---:|---|---:|---|\n'
for folder in "$set"/*/; do
  format=$(basename "$folder")
  worst_t=0 worst_tf= worst_c=0 worst_cf= worst_m=0 worst_mf= count=0
  for file in "$folder"*; do
    /usr/bin/time -v -o "$stats" "$cli" check "$file" >/dev/null 2>&1 || true
    t=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$stats" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    c=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$stats")
    m=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$stats")
    count=$((count + 1))
    if awk "BEGIN { exit !($t > $worst_t) }"; then worst_t=$t worst_tf=$(basename "$file"); fi
    if awk "BEGIN { exit !($c > $worst_c) }"; then worst_c=$c worst_cf=$(basename "$file"); fi
    if [ "$m" -gt "$worst_m" ]; then worst_m=$m worst_mf=$(basename "$file"); fi
  done
  printf '| %s | %d | %.2f | %s | %.2f | %s | %.1f | %s |\n' "$format" "$count" "$worst_t" "$worst_tf" \
    "$worst_c" "$worst_cf" "$(awk "BEGIN { print $worst_m / 1024 }")" "$worst_mf"
done
