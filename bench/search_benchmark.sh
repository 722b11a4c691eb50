#!/usr/bin/env bash
# Search throughput on a large generated FAT32 card, beside the time to read
# the same file once, and the search's peak memory.
#   bench/search_benchmark.sh [BUILD_DIR] [IMAGE] [SIZE_MIB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
image=${2:-"$build/bench-card.img"}
size=${3:-2304}

if [ ! -f "$image" ]; then
  echo "making $image ($size MiB) ..."
  "$build/bench/make_bench_card" "$image" "$size" >/dev/null
fi
bytes=$(stat -c %s "$image")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')

# Drop the page cache when allowed, so both runs read from the disk.
drop() { sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true; }

drop
read_s=$( { /usr/bin/time -f "%e" cat "$image" > /dev/null; } 2>&1 | tail -1)
drop
out=$(mktemp)
search=$( { /usr/bin/time -f "%e %M" "$build/veld-cli" search --json "$image" > "$out"; } 2>&1 | tail -1)
search_s=${search% *}
peak_kb=${search#* }
found=$(wc -l < "$out")
rm -f "$out"

awk -v mb="$mb" -v r="$read_s" -v s="$search_s" -v kb="$peak_kb" -v n="$found" 'BEGIN {
  printf "card              %s MiB\n", mb
  printf "read once         %.2f s  (%.0f MB/s)\n", r, (r > 0 ? mb / r : 0)
  printf "search            %.2f s  (%.0f MB/s)\n", s, (s > 0 ? mb / s : 0)
  printf "peak memory       %.1f MiB\n", kb / 1024
  printf "found files       %d\n", n
}'
