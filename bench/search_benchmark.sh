#!/usr/bin/env bash
# Search speed against the speed of reading the card, beside PhotoRec. For
# two FAT32 cards made by make_bench_card (the benchmark card of 2 MB photos,
# and a 4 GB card of thousands of small photos) it prints the time of reading
# the image once with cat and of `veld-cli search --json`, page cache warm and
# dropped, the search's share of the read limit, the time to the first listed
# file, its peak memory and its read system calls; PhotoRec's free-space
# carve of both cards as the peer; both cards read through a source throttled
# to a card reader's speed (90 and 250 MB/s); a range search near the end of a
# 64 GiB sparse raw source; and at the end the summary table of the goals.
#
#   bench/search_benchmark.sh [BUILD_DIR] [--before PATH] [--cards DIR] [--whole-raw] [--raw-gib N]
#                             [--no-peer] [--no-cold] [--no-throttle] [--cli PATH]
#
# --before measures an earlier build's veld-cli beside this one in the same
# run (before-and-after figures); --cli measures another veld-cli in place of
# this build's. --cards takes (and makes) the card images in another folder.
# --whole-raw also searches the whole raw source (minutes); --raw-gib sets the
# raw source's size (64 GiB unless given). Dropping the page cache needs
# root; without it the cold half is skipped with a note. The peer comes from
# Debian's testdisk package, installed here when missing (root). The
# throttled source is build/bench/libveld_throttled_read.so loaded with
# LD_PRELOAD (bytes read a second time come from the page cache and cost
# nothing, as on a real card reader).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
whole_raw=0 peer=1 cold=1 throttle=1 raw_gib=64 cli= before= cards=
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --whole-raw) whole_raw=1 ;;
    --raw-gib) raw_gib=${1:?--raw-gib needs a size}; shift ;;
    --cli) cli=$(realpath "${1:?--cli needs a path}"); shift ;;
    --before) before=$(realpath "${1:?--before needs a path}"); shift ;;
    --cards) cards=$(realpath -m "${1:?--cards needs a folder}"); shift ;;
    --no-peer) peer=0 ;;
    --no-cold) cold=0 ;;
    --no-throttle) throttle=0 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
cli=${cli:-"$build/veld-cli"}
cards=${cards:-"$build"}
maker="$build/bench/make_bench_card"
shim="$build/bench/libveld_throttled_read.so"
bench_card="$cards/bench-card.img"
small_card="$cards/small-card.img"
raw="$cards/raw-${raw_gib}g.img"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for f in "$cli" "$maker" ${before:+"$before"}; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
if [ "$throttle" = 1 ] && [ ! -f "$shim" ]; then
  echo "no $shim (not built in a sanitizer build): the throttled source is skipped" >&2
  throttle=0
fi
mkdir -p "$cards"
[ -f "$bench_card" ] || { echo "making $bench_card ..."; "$maker" "$bench_card" >/dev/null; }
[ -f "$small_card" ] || { echo "making $small_card ..."; "$maker" --small-photos "$small_card" >/dev/null; }
[ -f "$raw" ] || { echo "making $raw (sparse) ..."; "$maker" --raw "$raw" "$raw_gib" >/dev/null; }

if [ "$cold" = 1 ] && { sync; echo 3 > /proc/sys/vm/drop_caches; } 2>/dev/null; then
  drop() { sync; echo 3 > /proc/sys/vm/drop_caches; }
else
  cold=0
  drop() { :; }
fi

# "seconds peak-KiB first-line-seconds" of a command; its output goes to
# $tmp/out. The first line is the first listed file (veld-cli streams its
# records with --json and flushes each).
timed() {
  local start first
  rm -f "$tmp/first"
  start=$(date +%s.%N)
  { /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" 2> "$tmp/err" || true; } |
    { if IFS= read -r line; then date +%s.%N > "$tmp/first"; printf '%s\n' "$line"; cat; fi; } > "$tmp/out"
  first=$(cat "$tmp/first" 2>/dev/null || echo "$start")
  echo "$(tail -1 "$tmp/time") $(awk -v a="$start" -v b="$first" 'BEGIN { printf "%.2f", b - a }')"
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

declare -A R  # figures for the summary, by card key and measure

# One veld-cli (this build's or the earlier one) on a card: warm and cold
# rows beside the read once.
card_row() {  # label key image which(veld|before) command...
  local label=$1 key=$2 image=$3 which=$4 size w c
  shift 4
  size=$(mib "$image")
  w=$(best_of_two "$@" search --json "$image")
  R[${key}_${which}_w]=${w%% *}
  R[${key}_${which}_first]=${w##* }
  [ "$which" = veld ] && R[${key}_found]=$(grep -c '"index"' "$tmp/out" || true) && R[${key}_kb]=$(echo "$w" | awk '{ print $2 }')
  printf "%-38s %-22s %7s %9s s\n" "$label, warm" "$(rate "${w%% *}" "$size")" \
    "$(share "${R[${key}_cat_w]}" "${w%% *}")" "${w##* }"
  if [ "$cold" = 1 ]; then
    drop
    c=$(timed "$@" search --json "$image")
    R[${key}_${which}_c]=${c%% *}
    printf "%-38s %-22s %7s %9s s\n" "$label, cache dropped" "$(rate "${c%% *}" "$size")" \
      "$(share "${R[${key}_cat_c]}" "${c%% *}")" "${c##* }"
  fi
}

card() {  # title key image
  local title=$1 key=$2 image=$3 size w c calls
  size=$(mib "$image")
  echo
  echo "== $title: $(basename "$image"), $size MiB"
  printf "%-38s %-22s %7s %11s\n" "" "time" "share" "first file"
  cat "$image" > /dev/null
  w=$(best_of_two sh -c 'cat "$1" > /dev/null' sh "$image")
  R[${key}_cat_w]=${w%% *}
  printf "%-38s %-22s\n" "read once (cat), warm" "$(rate "${w%% *}" "$size")"
  if [ "$cold" = 1 ]; then
    drop
    c=$(timed sh -c 'cat "$1" > /dev/null' sh "$image")
    R[${key}_cat_c]=${c%% *}
    printf "%-38s %-22s\n" "read once (cat), dropped" "$(rate "${c%% *}" "$size")"
  fi
  [ -n "$before" ] && card_row "before" "$key" "$image" before "$before"
  card_row "veld-cli search --json" "$key" "$image" veld "$cli"
  calls=$(read_calls "$cli" search --json "$image")
  awk -v f="${R[${key}_found]}" -v kb="${R[${key}_kb]}" -v c="$calls" -v m="$size" 'BEGIN {
    printf "found %d files; peak memory %.1f MiB; %d read system calls (%.1f KiB read per call)\n",
      f, kb / 1024, c, (c > 0 ? m * 1024 / c : 0) }'
}

echo "Veld search benchmark ($(nproc) cores; $(uptime | sed 's/.*load average/load average/'))"
echo "warm figures: the faster of two runs; dropped: one run each; share: the read's time over the search's"
[ -n "$before" ] && echo "before: $before"
card "benchmark card, 2 MB photos, a quarter deleted" bench "$bench_card"
card "4 GB card of small photos and clips, a third deleted" small "$small_card"

if [ "$peer" = 1 ]; then
  echo
  echo "== peer: PhotoRec free-space carve (JPEG and MOV/MP4), page cache warm, two runs"
  if ! command -v photorec > /dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testdisk > /dev/null 2>&1 ||
      echo "(testdisk could not be installed)"
  fi
  if command -v photorec > /dev/null; then
    carve() {  # image: saves the carved files under $tmp/carved
      rm -rf "$tmp/carved"*
      (cd "$tmp" && timed photorec /log /d "$tmp/carved" /cmd "$1" \
        partition_none,fileopt,everything,disable,jpg,enable,mov,enable,freespace,search)
    }
    for key in bench small; do
      image=$bench_card
      [ "$key" = small ] && image=$small_card
      cat "$image" > /dev/null
      a=$(carve "$image")
      b=$(carve "$image")
      carved=$(find "$tmp"/carved* -type f 2>/dev/null | wc -l)
      rm -rf "$tmp"/carved*
      R[${key}_peer_lo]=$(awk -v a="${a%% *}" -v b="${b%% *}" 'BEGIN { print (a < b ? a : b) }')
      R[${key}_peer_hi]=$(awk -v a="${a%% *}" -v b="${b%% *}" 'BEGIN { print (a < b ? b : a) }')
      printf "%-22s %s s and %s s; carved %d files (deleted ones only: it skips the space in use)\n" \
        "$(basename "$image")" "${a%% *}" "${b%% *}" "$carved"
    done
  fi
fi

if [ "$throttle" = 1 ]; then
  echo
  echo "== $(basename "$small_card") through a source throttled to a card reader's speed (one run each)"
  printf "%-38s %-22s %9s %11s\n" "" "time" "over read" "first file"
  size=$(mib "$small_card")
  cat "$small_card" > /dev/null
  for mbps in 90 250; do
    slow=(env VELD_THROTTLE_FILE="$small_card" VELD_THROTTLE_MBPS="$mbps" LD_PRELOAD="$shim")
    t=$(timed "${slow[@]}" sh -c 'cat "$1" > /dev/null' sh "$small_card")
    R[t${mbps}_cat]=${t%% *}
    printf "%-38s %-22s\n" "$mbps MB/s: the card's bytes at that speed" \
      "$(rate "$(awk -v b="$(stat -c %s "$small_card")" -v r="$mbps" 'BEGIN { printf "%.2f", b / (r * 1e6) }')" "$size")"
    printf "%-38s %-22s\n" "$mbps MB/s: read once (cat)" "$(rate "${t%% *}" "$size")"
    for which in before veld; do
      [ "$which" = before ] && [ -z "$before" ] && continue
      exe=$cli
      [ "$which" = before ] && exe=$before
      t=$(timed "${slow[@]}" "$exe" search --json "$small_card")
      R[t${mbps}_${which}]=${t%% *}
      R[t${mbps}_${which}_first]=${t##* }
      printf "%-38s %-22s %7s %% %9s s\n" "$mbps MB/s: $which" "$(rate "${t%% *}" "$size")" \
        "$(awk -v r="${R[t${mbps}_cat]}" -v s="${t%% *}" 'BEGIN { printf "%+.1f", (r > 0 ? 100 * (s - r) / r : 0) }')" "${t##* }"
    done
  done
fi

echo
echo "== raw source: $(basename "$raw"), $raw_gib GiB sparse, photos 1 GiB from the start and 1 GiB before the end"
# Sectors are numbered from 2 like clusters; the last photos start at the
# last GiB. The range covers the last GiB and a little before it.
first=$(( (raw_gib - 1) * 2097152 - 2048 + 2 ))
range_mib=$(( (raw_gib * 2097152 + 2 - first) / 2048 ))
range_read=$(timed dd if="$raw" of=/dev/null bs=1M skip=$(( (raw_gib - 1) * 1024 - 1 )))
range_read=${range_read%% *}
range=$(timed "$cli" search --json --first "$first" "$raw")
found=$(grep -c '"index"' "$tmp/out" || true)
printf "%-36s %-24s %-24s %s\n" "" "read once (dd, cat)" "veld-cli search --json" "share of the read limit"
printf "%-36s %-24s %-24s %s\n" "last $range_mib MiB (--first $first)" "$(rate "$range_read" "$range_mib")" \
  "$(rate "${range%% *}" "$range_mib")" "$(share "$range_read" "${range%% *}")"
echo "found $found files; peak memory $(echo "$range" | awk '{ printf "%.1f", $2 / 1024 }') MiB"
if [ "$whole_raw" = 1 ]; then
  size=$(mib "$raw")
  cat_w=$(timed sh -c 'cat "$1" > /dev/null' sh "$raw")
  whole=$(timed "$cli" search --json "$raw")
  found=$(grep -c '"index"' "$tmp/out" || true)
  printf "%-36s %-24s %-24s %s\n" "whole source (sparse: no disk reads)" "$(rate "${cat_w%% *}" "$size")" \
    "$(rate "${whole%% *}" "$size")" "$(share "${cat_w%% *}" "${whole%% *}")"
  echo "found $found files; peak memory $(echo "$whole" | awk '{ printf "%.1f", $2 / 1024 }') MiB"
else
  echo "(the whole source: run with --whole-raw)"
fi

# The goals' table: this build (and the earlier one) beside the peer and the read.
summary_row() {  # which
  local v=$1 label=$1
  [ "$v" = veld ] && label="this build"
  [ -n "${R[small_${v}_w]:-}" ] || return 0
  echo "| 4 GiB small-photo card, warm | $label | ${R[small_${v}_w]} s | $(awk -v v="${R[small_${v}_w]}" -v lo="${R[small_peer_lo]:-0}" -v hi="${R[small_peer_hi]:-0}" -v c="${R[small_cat_w]}" 'BEGIN {
      if (lo > 0) printf "PhotoRec %.1f–%.1f s (%.1f–%.1f×); ", lo, hi, lo / v, hi / v
      printf "cat %.2f s: %.0f %% of read speed", c, 100 * c / v }') | ≥ 10× PhotoRec, ≥ 50 % |"
  [ -n "${R[small_${v}_c]:-}" ] &&
    echo "| same, page cache dropped | $label | ${R[small_${v}_c]} s | cat ${R[small_cat_c]} s: $(share "${R[small_cat_c]}" "${R[small_${v}_c]}") of read speed | ≥ 95 % |"
  echo "| benchmark card (2 MB photos), warm | $label | ${R[bench_${v}_w]} s | $(awk -v v="${R[bench_${v}_w]}" -v lo="${R[bench_peer_lo]:-0}" -v hi="${R[bench_peer_hi]:-0}" 'BEGIN {
      if (lo > 0) printf "PhotoRec %.1f–%.1f s: Veld %.2f–%.2f× faster", lo, hi, lo / v, hi / v; else printf "(no peer)" }') | ≥ 2× faster |"
  for mbps in 90 250; do
    [ -n "${R[t${mbps}_${v}]:-}" ] &&
      echo "| small-photo card at $mbps MB/s | $label | ${R[t${mbps}_${v}]} s (first file ${R[t${mbps}_${v}_first]} s) | read once ${R[t${mbps}_cat]} s: $(awk -v r="${R[t${mbps}_cat]}" -v s="${R[t${mbps}_${v}]}" 'BEGIN { printf "%+.1f %%", 100 * (s - r) / r }') | within 5 % |"
  done
}
echo
echo "== summary ($(uptime | sed 's/.*load average/load average/'))"
echo "| card | build | Veld | peer / limit | goal |"
echo "|---|---|---|---|---|"
[ -n "$before" ] && summary_row before
summary_row veld
