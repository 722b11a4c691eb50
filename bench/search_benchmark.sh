#!/usr/bin/env bash
# Search speed against the speed of reading the card. For two FAT32 cards made
# by make_bench_card (the benchmark card of 2 MB photos, and a 4 GB card of
# thousands of small photos) it prints the time of reading the image once
# with cat and of `veld-cli search --json`, page cache warm and dropped, the
# search's share of the read limit, its peak memory and its read system
# calls; then PhotoRec's free-space carve of the benchmark card as a peer, and
# a range search near the end of a 64 GiB sparse raw source.
#
#   bench/search_benchmark.sh [BUILD_DIR] [--whole-raw] [--raw-gib N] [--no-peer] [--no-cold]
#                             [--cli PATH]
#
# --cli measures another build's veld-cli on the same cards (an earlier
# version, for before-and-after figures).
# --whole-raw also searches the whole raw source (minutes); --raw-gib sets the
# raw source's size (64 GiB unless given). Dropping the page
# cache needs root; without it the cold half is skipped with a note. The peer
# comes from Debian's testdisk package, installed here when missing (root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
whole_raw=0 peer=1 cold=1 raw_gib=64 cli=
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --whole-raw) whole_raw=1 ;;
    --raw-gib) raw_gib=${1:?--raw-gib needs a size}; shift ;;
    --cli) cli=$(realpath "${1:?--cli needs a path}"); shift ;;
    --no-peer) peer=0 ;;
    --no-cold) cold=0 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
cli=${cli:-"$build/veld-cli"}
maker="$build/bench/make_bench_card"
bench_card="$build/bench-card.img"
small_card="$build/small-card.img"
raw="$build/raw-${raw_gib}g.img"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for f in "$cli" "$maker"; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
[ -f "$bench_card" ] || { echo "making $bench_card ..."; "$maker" "$bench_card" >/dev/null; }
[ -f "$small_card" ] || { echo "making $small_card ..."; "$maker" --small-photos "$small_card" >/dev/null; }
[ -f "$raw" ] || { echo "making $raw (sparse) ..."; "$maker" --raw "$raw" "$raw_gib" >/dev/null; }

if [ "$cold" = 1 ] && { sync; echo 3 > /proc/sys/vm/drop_caches; } 2>/dev/null; then
  drop() { sync; echo 3 > /proc/sys/vm/drop_caches; }
else
  cold=0
  drop() { :; }
fi

# "seconds peak-KiB" of a command; its output goes to $tmp/out.
timed() {
  /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" > "$tmp/out" 2> "$tmp/err" || true
  tail -1 "$tmp/time"
}
# The faster of two runs, for figures with a warm page cache on a machine
# that other work may share.
best_of_two() {
  local a b
  a=$(timed "$@")
  b=$(timed "$@")
  awk -v a="$a" -v b="$b" 'BEGIN { split(a, x, " "); split(b, y, " "); print (y[1] < x[1] ? b : a) }'
}
# Read system calls (read, pread64, readv, preadv) of a command and all its
# threads: perf's syscall tracepoints when they can be used (no slowdown),
# otherwise strace -c.
if perf stat -e syscalls:sys_enter_read -o /dev/null true >/dev/null 2>&1; then
  read_calls() {
    perf stat -x, -o "$tmp/calls" -e syscalls:sys_enter_read,syscalls:sys_enter_pread64 \
      -e syscalls:sys_enter_readv,syscalls:sys_enter_preadv -- "$@" > /dev/null 2>&1 || true
    awk -F, '/sys_enter/ { n += $1 } END { print n + 0 }' "$tmp/calls"
  }
else
  read_calls() {
    strace -f -c -o "$tmp/calls" -e trace=read,pread64,readv,preadv "$@" > /dev/null 2>&1 || true
    awk '$NF ~ /^(read|pread64|readv|preadv)$/ { n += $4 } END { print n + 0 }' "$tmp/calls"
  }
fi

mib() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f", b / 1048576 }'; }
# seconds MiB -> "12.34 s   567 MB/s"
rate() { awk -v s="$1" -v m="$2" 'BEGIN { printf "%7.2f s %6.0f MB/s", s, (s > 0 ? m * 1.048576 / s : 0) }'; }
share() { awk -v r="$1" -v s="$2" 'BEGIN { printf "%5.1f %%", (s > 0 ? 100 * r / s : 0) }'; }

card() {  # title image
  local title=$1 image=$2 size cat_w veld_w cat_c veld_c found calls
  size=$(mib "$image")
  echo
  echo "== $title: $(basename "$image"), $size MiB"
  printf "%-20s %-24s %-24s %s\n" "" "read once (cat)" "veld-cli search --json" "share of the read limit"
  cat "$image" > /dev/null
  cat_w=$(best_of_two cat "$image")
  veld_w=$(best_of_two "$cli" search --json "$image")
  found=$(grep -c '"index"' "$tmp/out" || true)
  printf "%-20s %-24s %-24s %s\n" "page cache warm" "$(rate "${cat_w% *}" "$size")" \
    "$(rate "${veld_w% *}" "$size")" "$(share "${cat_w% *}" "${veld_w% *}")"
  if [ "$cold" = 1 ]; then
    drop
    cat_c=$(timed cat "$image")
    drop
    veld_c=$(timed "$cli" search --json "$image")
    printf "%-20s %-24s %-24s %s\n" "page cache dropped" "$(rate "${cat_c% *}" "$size")" \
      "$(rate "${veld_c% *}" "$size")" "$(share "${cat_c% *}" "${veld_c% *}")"
  else
    echo "page cache dropped   (skipped: the page cache cannot be dropped here)"
  fi
  calls=$(read_calls "$cli" search --json "$image")
  awk -v f="$found" -v kb="${veld_w#* }" -v c="$calls" -v m="$size" 'BEGIN {
    printf "found %d files; peak memory %.1f MiB; %d read system calls (%.1f KiB read per call)\n",
      f, kb / 1024, c, (c > 0 ? m * 1024 / c : 0) }'
}

echo "Veld search benchmark ($(nproc) cores; $(uptime | sed 's/.*load average/load average/'))"
echo "warm figures: the faster of two runs; dropped: one run each"
card "benchmark card, 2 MB photos, a quarter deleted" "$bench_card"
card "4 GB card of small photos and clips, a third deleted" "$small_card"

if [ "$peer" = 1 ]; then
  echo
  echo "== peer: PhotoRec free-space carve (JPEG and MOV/MP4) of $(basename "$bench_card")"
  if ! command -v photorec > /dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testdisk > /dev/null 2>&1 ||
      echo "(testdisk could not be installed)"
  fi
  if command -v photorec > /dev/null; then
    size=$(mib "$bench_card")
    carve() {  # saves the carved files under $tmp/carved
      rm -rf "$tmp/carved"*
      (cd "$tmp" && timed photorec /log /d "$tmp/carved" /cmd "$bench_card" \
        partition_none,fileopt,everything,disable,jpg,enable,mov,enable,freespace,search)
    }
    cat "$bench_card" > /dev/null
    peer_w=$(carve)
    carved=$(find "$tmp"/carved* -type f 2>/dev/null | wc -l)
    veld_w=$(timed "$cli" search --json "$bench_card")
    printf "%-20s %-24s %-24s\n" "" "photorec" "veld-cli search --json"
    printf "%-20s %-24s %-24s\n" "page cache warm" "$(rate "${peer_w% *}" "$size")" "$(rate "${veld_w% *}" "$size")"
    if [ "$cold" = 1 ]; then
      drop
      peer_c=$(carve)
      drop
      veld_c=$(timed "$cli" search --json "$bench_card")
      printf "%-20s %-24s %-24s\n" "page cache dropped" "$(rate "${peer_c% *}" "$size")" "$(rate "${veld_c% *}" "$size")"
    fi
    echo "photorec carved $carved files (deleted ones only: it skips the space in use)"
    rm -rf "$tmp"/carved*
  fi
fi

echo
echo "== raw source: $(basename "$raw"), $raw_gib GiB sparse, photos 1 GiB from the start and 1 GiB before the end"
# Sectors are numbered from 2 like clusters; the last photos start at the
# last GiB. The range covers the last GiB and a little before it.
first=$(( (raw_gib - 1) * 2097152 - 2048 + 2 ))
range_mib=$(( (raw_gib * 2097152 + 2 - first) / 2048 ))
range_read=$(timed dd if="$raw" of=/dev/null bs=1M skip=$(( (raw_gib - 1) * 1024 - 1 )))
range_read=${range_read% *}
range=$(timed "$cli" search --json --first "$first" "$raw")
found=$(grep -c '"index"' "$tmp/out" || true)
printf "%-36s %-24s %-24s %s\n" "" "read once (dd, cat)" "veld-cli search --json" "share of the read limit"
printf "%-36s %-24s %-24s %s\n" "last $range_mib MiB (--first $first)" "$(rate "$range_read" "$range_mib")" \
  "$(rate "${range% *}" "$range_mib")" "$(share "$range_read" "${range% *}")"
echo "found $found files; peak memory $(awk -v kb="${range#* }" 'BEGIN { printf "%.1f", kb / 1024 }') MiB"
if [ "$whole_raw" = 1 ]; then
  size=$(mib "$raw")
  cat_w=$(timed cat "$raw")
  whole=$(timed "$cli" search --json "$raw")
  found=$(grep -c '"index"' "$tmp/out" || true)
  printf "%-36s %-24s %-24s %s\n" "whole source (sparse: no disk reads)" "$(rate "${cat_w% *}" "$size")" \
    "$(rate "${whole% *}" "$size")" "$(share "${cat_w% *}" "${whole% *}")"
  echo "found $found files; peak memory $(awk -v kb="${whole#* }" 'BEGIN { printf "%.1f", kb / 1024 }') MiB"
else
  echo "(the whole source: run with --whole-raw)"
fi
