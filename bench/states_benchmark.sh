#!/usr/bin/env bash
# Whether the states Veld gives are true, and how much of a card comes back,
# on the cards users bring, beside PhotoRec and The Sleuth Kit. The photos are
# camera JPEGs made from the shared sample photographs (enlarged with
# ImageMagick, EXIF kept, each one different). The cards:
#   fat16-overwritten  mkfs.fat + mtools: 40 photos shot and deleted, 30 shot
#                      over them and deleted, 10 shot and kept
#   exfat-overwritten  the same on exFAT (mkfs.exfat, filled by our builder)
#   fat16-fragmented   mkfs.fat + mtools: 60 small files, every other one
#                      deleted, 15 photos copied into the holes and deleted
#   fat-interleaved    our builder: two deleted photos written cluster by
#                      cluster in turn, a third in two pieces around a fourth
#   fat32-quick        mkfs.fat + mtools: 20 photos in the root and 500 in
#                      five DCIM folders, then quick-formatted (mkfs.fat again)
#   exfat-quick        mkfs.exfat + our builder: 20 photos in the root and 180
#                      in three DCIM folders, then quick-formatted (mkfs.exfat
#                      again, same cluster size)
# For each card and tool it prints, of the files a user wants back (the
# deleted ones; all of them after a format): how many come back byte for
# byte ("exact"), how many of those under their own name ("named") and in
# their own folder ("folder": where a format took the upper folders' names,
# Veld's "(フォーマット前のフォルダ)\クラスタ N のフォルダ\..." and The Sleuth
# Kit's "$OrphanFiles/..." count when the names given end the true path),
# how many records say "良" ("good") and how many
# of those hold other bytes than the file their name or state promises
# ("wrong"), the records listed and how many of them repeat another's bytes
# ("dups"). "before" is an earlier veld-cli (--before PATH).
#
#   bench/states_benchmark.sh [BUILD_DIR] [--before PATH] [--photos DIR] [--no-peer] [--keep DIR] [--cards LIST]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
before= peer=1 keep= cards="fat16-overwritten exfat-overwritten fat16-fragmented fat-interleaved fat32-quick exfat-quick"
photos="$root/../shared/photos"
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --before) before=$(realpath "${1:?--before needs a path}"); shift ;;
    --photos) photos=${1:?--photos needs a folder}; shift ;;
    --keep) keep=$(realpath -m "${1:?--keep needs a folder}"); shift ;;
    --cards) cards=${1:?--cards needs a list}; shift ;;
    --no-peer) peer=0 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
cli="$build/veld-cli"
maker="$build/bench/make_state_cards"
for f in "$cli" "$maker"; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
for tool in mkfs.fat mcopy mkfs.exfat convert jq; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -d "$photos" ] || { echo "no sample photos in $photos" >&2; exit 1; }
if [ "$peer" = 1 ]; then
  for tool in photorec fls icat; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; running without the peers" >&2; peer=0; }
  done
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export MTOOLS_SKIP_CHECK=1 TZ=UTC

# Camera photos IMG_0001.JPG ... from the samples, each one different, shot
# one minute apart (their file times, which mcopy -m keeps).
mapfile -t samples < <(find "$photos" -name '*.jpg' ! -name corrupted.jpg | sort)
shots="$tmp/photos"
mkdir -p "$shots"
photo() {  # NUMBER -> path, made on first use
  local i=$1 f
  f="$shots/IMG_$(printf %04d "$i").JPG"
  if [ ! -f "$f" ]; then
    local src=${samples[$(( i % ${#samples[@]} ))]} w=$(( 800 + (i * 137) % 1200 ))
    convert "$src" -resize "${w}x${w}" -quality $(( 80 + i % 16 )) -set comment "veld states bench $i" "$f"
    touch -d "@$(( 1714694400 + i * 60 ))" "$f"
  fi
  echo "$f"
}

# The truth of a card: one line per file it held, "hash name folder wanted".
truth() { : > "$tmp/truth"; }
held() {  # FILE FOLDER WANTED
  printf '%s\t%s\t%s\t%s\n' "$(sha256sum < "$1" | cut -c1-64)" "$(basename "$1")" "$2" "$3" >> "$tmp/truth"
}

make_fat16_overwritten() {
  local img=$1 i
  truncate -s 256M "$img"
  mkfs.fat -F 16 -s 64 "$img" > /dev/null
  mmd -i "$img" ::/DCIM ::/DCIM/100CANON
  for i in $(seq 1 40); do mcopy -m -i "$img" "$(photo "$i")" ::/DCIM/100CANON/; held "$(photo "$i")" DCIM/100CANON 1; done
  for i in $(seq 1 40); do mdel -i "$img" "::/DCIM/100CANON/$(basename "$(photo "$i")")"; done
  for i in $(seq 41 70); do mcopy -m -i "$img" "$(photo "$i")" ::/DCIM/100CANON/; held "$(photo "$i")" DCIM/100CANON 1; done
  for i in $(seq 41 70); do mdel -i "$img" "::/DCIM/100CANON/$(basename "$(photo "$i")")"; done
  for i in $(seq 71 80); do mcopy -m -i "$img" "$(photo "$i")" ::/DCIM/100CANON/; held "$(photo "$i")" DCIM/100CANON 0; done
}

make_exfat_overwritten() {
  local img=$1 i script="$tmp/exfat.script"
  { echo "mkdir DCIM"; echo "mkdir DCIM/100CANON"
    for i in $(seq 1 40); do echo "add DCIM/100CANON/$(basename "$(photo "$i")") $(photo "$i")"; done
    for i in $(seq 1 40); do echo "del DCIM/100CANON/$(basename "$(photo "$i")")"; done
    for i in $(seq 41 70); do echo "add DCIM/100CANON/$(basename "$(photo "$i")") $(photo "$i")"; done
    for i in $(seq 41 70); do echo "del DCIM/100CANON/$(basename "$(photo "$i")")"; done
    for i in $(seq 71 80); do echo "add DCIM/100CANON/$(basename "$(photo "$i")") $(photo "$i")"; done
  } > "$script"
  "$maker" EXFAT "$img" 256 "$script"
  for i in $(seq 1 80); do held "$(photo "$i")" DCIM/100CANON "$([ "$i" -le 70 ] && echo 1 || echo 0)"; done
}

make_fat16_fragmented() {
  local img=$1 i f
  truncate -s 64M "$img"
  mkfs.fat -F 16 -s 8 "$img" > /dev/null
  mmd -i "$img" ::/DCIM ::/DCIM/100CANON ::/DATA
  mkdir -p "$tmp/noise"
  for i in $(seq 1 60); do
    f="$tmp/noise/FILE$(printf %04d "$i").DAT"
    "$maker" NOISE "$f" $(( 4096 * (2 + (i * 7) % 9) - (i * 113) % 3000 )) "$i"
    mcopy -i "$img" "$f" ::/DATA/
  done
  for i in $(seq 2 2 60); do mdel -i "$img" "::/DATA/FILE$(printf %04d "$i").DAT"; done
  for i in $(seq 101 115); do mcopy -m -i "$img" "$(photo "$i")" ::/DCIM/100CANON/; held "$(photo "$i")" DCIM/100CANON 1; done
  for i in $(seq 101 115); do mdel -i "$img" "::/DCIM/100CANON/$(basename "$(photo "$i")")"; done
  for i in $(seq 1 60); do held "$tmp/noise/FILE$(printf %04d "$i").DAT" DATA 0; done
}

make_fat_interleaved() {
  local img=$1 i
  "$maker" INTERLEAVED "$img" "$(photo 201)" "$(photo 202)" "$(photo 203)" "$(photo 204)"
  for i in 201 202 203 204; do held "$(photo "$i")" DCIM/100VELD 1; done
}

make_fat32_quick() {
  local img=$1 i d
  truncate -s 400M "$img"
  mkfs.fat -F 32 -s 8 "$img" > /dev/null
  for i in $(seq 1001 1020); do mcopy -m -i "$img" "$(photo "$i")" ::/; held "$(photo "$i")" "" 1; done
  mmd -i "$img" ::/DCIM
  for d in 0 1 2 3 4; do
    mmd -i "$img" "::/DCIM/10${d}CANON"
    for i in $(seq $(( 1101 + d * 100 )) $(( 1200 + d * 100 ))); do
      mcopy -m -i "$img" "$(photo "$i")" "::/DCIM/10${d}CANON/"
      held "$(photo "$i")" "DCIM/10${d}CANON" 1
    done
  done
  mkfs.fat -F 32 -s 8 "$img" > /dev/null
}

make_exfat_quick() {
  local img=$1 i d script="$tmp/exfat-quick.script"
  : > "$script"
  for i in $(seq 1001 1020); do echo "add $(basename "$(photo "$i")") $(photo "$i")" >> "$script"; held "$(photo "$i")" "" 1; done
  echo "mkdir DCIM" >> "$script"
  for d in 0 1 2; do
    echo "mkdir DCIM/10${d}CANON" >> "$script"
    for i in $(seq $(( 1101 + d * 100 )) $(( 1160 + d * 100 ))); do
      echo "add DCIM/10${d}CANON/$(basename "$(photo "$i")") $(photo "$i")" >> "$script"
      held "$(photo "$i")" "DCIM/10${d}CANON" 1
    done
  done
  "$maker" EXFAT "$img" 256 "$script"
  mkfs.exfat -c 32768 "$img" > /dev/null
}

# Scores the records of one tool: lines "hash name folder state" on stdin.
score() {
  awk -F'\t' -v truth="$tmp/truth" '
    BEGIN {
      while ((getline line < truth) > 0) {
        split(line, t, "\t")
        known[t[1]] = 1; byname[toupper(t[2])] = t[1]; byname[substr(toupper(t[2]), 2)] = t[1]; folder[t[1]] = t[3]
        if (t[4] == 1) { wanted[t[1]] = 1; nwanted++ }
      }
    }
    {
      # A deleted short name has lost its first character ("#MG_0001.JPG").
      # Folders named by their short names keep the dot ("DCIM.").
      h = $1; n = toupper($2); f = $3; gsub(/\\+/, "/", f); gsub(/\.\//, "/", f); sub(/\.$/, "", f); s = $4
      if (n ~ /^[#_?]/) n = substr(n, 2)
      # Folders whose names were lost: the group and the folders named by
      # their cluster stand for the unknown upper part of the path.
      lost = 0
      if (index(f, "(フォーマット前のフォルダ)") == 1) { f = substr(f, length("(フォーマット前のフォルダ)") + 2); lost = 1 }
      if (index(f, "$OrphanFiles") == 1) { f = substr(f, length("$OrphanFiles") + 2); lost = 1 }
      while (f ~ /^クラスタ [0-9]+ のフォルダ/) { sub(/^クラスタ [0-9]+ のフォルダ\/?/, "", f); lost = 1 }
      records++
      if (seen[h]++) dups++
      if (h in wanted) {
        exact[h] = 1
        if ((n in byname) && byname[n] == h) {  # "in" first: a lookup would add the name
          named[h] = 1
          if (f == folder[h] || substr(f, length(f) - length(folder[h])) == "/" folder[h] ||
              (lost && f != "" && substr(folder[h], length(folder[h]) - length(f)) == "/" f))
            infolder[h] = 1
        }
      }
      if (s == "良") {
        good++
        if ((n in byname) ? byname[n] != h : !(h in known)) wrong++
      }
    }
    END {
      printf "%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\n", nwanted, length(exact), length(named), length(infolder), good, wrong,
             records, dups
    }'
}

veld_rows() {  # CLI IMAGE OUT
  local out=$3
  rm -rf "$out"
  "$1" search --json --save "$out" "$2" 2> /dev/null > "$out.json" || true
  # Fields apart by 0x1F: read collapses runs of tabs, and an empty folder
  # would shift the state into its place.
  jq -r 'select(.saved != null) | [.saved, .name, .folder, .state_text] | join("\u001f")' "$out.json" |
    while IFS=$'\x1f' read -r saved name folder state; do
      printf '%s\t%s\t%s\t%s\n' "$(sha256sum < "$saved" | cut -c1-64)" "$name" "$folder" "$state"
    done
}

photorec_rows() {  # IMAGE
  rm -rf "$tmp/rec" "$tmp"/rec.*
  (cd "$tmp" && photorec /log /d "$tmp/rec" /cmd "$1" \
     partition_none,options,paranoid,fileopt,everything,enable,search > /dev/null 2>&1) || true
  find "$tmp" -maxdepth 2 -path "$tmp/rec.*" -type f ! -name '*.xml' -exec sha256sum {} + 2>/dev/null |
    while read -r h f; do printf '%s\t%s\t\t\n' "$h" "$(basename "$f")"; done
}

sleuthkit_rows() {  # IMAGE: every file entry fls lists (live, deleted, orphan), read by icat
  fls -r -p "$1" 2> /dev/null | grep -E '^[-r]/r' | while IFS= read -r line; do
    local meta=${line%%:*} path=${line#*:$'\t'}
    local inode=${meta##* }
    inode=${inode%(realloc)}
    local name=${path##*/} dir=
    [[ "$path" == */* ]] && dir=${path%/*}
    printf '%s\t%s\t%s\t\n' "$(icat "$1" "$inode" 2> /dev/null | sha256sum | cut -c1-64)" "$name" "$dir"
  done
}

printf '%-18s %-12s %6s %6s %6s %6s %6s %6s %7s %5s\n' card tool files exact named folder good wrong records dups
for card in $cards; do
  img="$tmp/$card.img"
  truth
  "make_${card//-/_}" "$img"
  [ -n "$keep" ] && { mkdir -p "$keep"; cp --sparse=always "$img" "$keep/"; cp "$tmp/truth" "$keep/$card.truth"; }
  line() {  # TOOL -> scored line
    printf '%-18s %-12s' "$card" "$1"
    score | awk -F'\t' '{ printf " %6d %6d %6d %6d %6d %6d %7d %5d\n", $1, $2, $3, $4, $5, $6, $7, $8 }'
  }
  [ -n "$before" ] && veld_rows "$before" "$img" "$tmp/before" | line before
  veld_rows "$cli" "$img" "$tmp/veld" | line veld
  if [ "$peer" = 1 ]; then
    photorec_rows "$img" | line photorec
    sleuthkit_rows "$img" | line sleuthkit
  fi
done
