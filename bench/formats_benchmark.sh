#!/usr/bin/env bash
# Every format a camera or phone writes, on cards as users bring them, beside
# PhotoRec. The files: RAW of every maker's layout, RAF and CR3 (made by
# make_format_files), JPEG photographs, clips in every container (made by
# ffmpeg through tests/fixtures/make_clips.sh) and the real HEIF pictures of
# the shared test data when present. The cards:
#   fat32-deleted   mkfs.fat and mtools, every other file deleted
#   fat32-quick     mkfs.fat and mtools, then quick-formatted (mkfs.fat again)
#   exfat-deleted   mkfs.exfat, filled by our builder, every other file deleted
#   exfat-quick     the same card quick-formatted (mkfs.exfat again)
# For each card and file type it prints how many of the files the card held
# come back byte for byte from `veld-cli search --save` (and of those, how
# many Veld lists with a shooting or recording date, and how many pictures
# with a thumbnail made during the search), from an earlier
# veld-cli (--before PATH) and from PhotoRec's whole-card carve
# (photorec /cmd IMG partition_none,options,paranoid,fileopt,everything,enable,search).
#
#   bench/formats_benchmark.sh [BUILD_DIR] [--before PATH] [--formats DIR] [--no-peer]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
before= peer=1
formats="$root/../shared/formats"
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --before) before=$(realpath "${1:?--before needs a path}"); shift ;;
    --formats) formats=${1:?--formats needs a folder}; shift ;;
    --no-peer) peer=0 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
cli="$build/veld-cli"
maker="$build/bench/make_format_files"
for f in "$cli" "$maker"; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
for tool in ffmpeg mkfs.fat mcopy mkfs.exfat; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
if [ "$peer" = 1 ] && ! command -v photorec >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends testdisk >/dev/null
  else
    echo "photorec is missing (Debian package testdisk); running without the peer" >&2
    peer=0
  fi
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The files, named as cameras name them.
files="$tmp/files"
"$maker" FILES "$files"
bash "$root/tests/fixtures/make_clips.sh" "$tmp/clips" 3
for c in "$tmp"/clips/*; do
  name=$(basename "$c")
  cp "$c" "$files/MOV_${name#clip.}.${name##*.}"
done
if [ -d "$formats" ]; then
  n=0
  for h in "$formats"/*.[hH][eE][iIfF]*; do
    n=$((n + 1))
    cp "$h" "$files/IMG_$(printf %04d $((100 + n))).HEIC"
  done
fi
mapfile -t list < <(cd "$files" && ls | sort)
total=0
for f in "${list[@]}"; do total=$((total + $(stat -c %s "$files/$f"))); done
mib=$(( total / 1048576 * 2 + 32 ))
[ "$mib" -ge 320 ] || mib=320  # FAT32 with 4 KiB clusters needs 65,525 of them

# The type of a file by its name, as this benchmark counts it.
type_of() {
  local e=${1##*.}
  e=${e,,}
  case "$e" in
    mod|mpg) echo mpg ;;
    *) echo "$e" ;;
  esac
}
declare -A original_type
for f in "${list[@]}"; do
  original_type[$(sha256sum < "$files/$f" | cut -c1-64)]=$(type_of "$f")
done

# Cards.
make_fat() {  # IMAGE DELETE(0/1) QUICK(0/1)
  local img=$1 del=$2 quick=$3 k=0
  truncate -s "${mib}M" "$img"
  mkfs.fat -F 32 -s 8 "$img" >/dev/null
  mmd -i "$img" ::/DCIM
  for f in "${list[@]}"; do mcopy -i "$img" "$files/$f" "::/DCIM/$f"; done
  if [ "$del" = 1 ]; then
    for f in "${list[@]}"; do
      k=$((k + 1))
      [ $((k % 2)) = 0 ] && mdel -i "$img" "::/DCIM/$f"
    done
  fi
  if [ "$quick" = 1 ]; then mkfs.fat -F 32 -s 8 "$img" >/dev/null; fi
}
make_exfat() {  # IMAGE DELETE_EVERY QUICK(0/1)
  local img=$1
  "$maker" EXFAT "$img" "$mib" "$2" $(for f in "${list[@]}"; do echo "$files/$f"; done)
  if [ "$3" = 1 ]; then mkfs.exfat -c 32K "$img" >/dev/null; fi
}

# The files on a card that a user wants back: on a quick-formatted card all
# of them, on the others the deleted ones (the live ones are still there).
held() {  # CARD -> the hashes the card was to give back
  local card=$1 k=0
  for f in "${list[@]}"; do
    k=$((k + 1))
    case "$card" in
      *quick) sha256sum < "$files/$f" | cut -c1-64 ;;
      *) [ $((k % 2)) = 0 ] && sha256sum < "$files/$f" | cut -c1-64 ;;
    esac
  done
  return 0
}

# How many of the wanted files lie byte for byte among the files of a folder, by type.
count_back() {  # WANTED_FILE FOLDER -> "type count" lines
  local wanted=$1 folder=$2
  declare -A got=()
  find "$folder" -type f -exec sha256sum {} + 2>/dev/null | cut -c1-64 | sort -u > "$tmp/back"
  sort -u "$wanted" | comm -12 - "$tmp/back" > "$tmp/common"
  while read -r h; do
    t=${original_type[$h]}
    got[$t]=$(( ${got[$t]:-0} + 1 ))
  done < "$tmp/common"
  for t in "${!got[@]}"; do echo "$t ${got[$t]}"; done
}

printf '%-14s %-5s %6s %8s %8s %6s %6s %9s\n' card type files before veld dated thumb photorec
for card in fat32-deleted fat32-quick exfat-deleted exfat-quick; do
  img="$tmp/$card.img"
  case "$card" in
    fat32-deleted) make_fat "$img" 1 0 ;;
    fat32-quick) make_fat "$img" 0 1 ;;
    exfat-deleted) make_exfat "$img" 2 0 ;;
    exfat-quick) make_exfat "$img" 0 1 ;;
  esac
  held "$card" > "$tmp/wanted"
  declare -A want=() veld=() old=() rec=() dated=() thumb=()
  while read -r h; do t=${original_type[$h]}; want[$t]=$(( ${want[$t]:-0} + 1 )); done < "$tmp/wanted"

  rm -rf "$tmp/veld" "$tmp/before"
  "$cli" search --json --save "$tmp/veld" --flat "$img" > "$tmp/veld.json" 2>/dev/null || true
  while read -r t n; do veld[$t]=$n; done < <(count_back "$tmp/wanted" "$tmp/veld")
  # The date and thumbnail of each wanted file Veld gave back.
  sort -u "$tmp/wanted" > "$tmp/wanted.sorted"
  while IFS= read -r line; do
    saved=$(sed -n 's/.*"saved":"\([^"]*\)".*/\1/p' <<< "$line")
    [ -n "$saved" ] && [ -f "$saved" ] || continue
    h=$(sha256sum < "$saved" | cut -c1-64)
    grep -qx "$h" "$tmp/wanted.sorted" || continue
    t=${original_type[$h]}
    grep -q '"shot":"[0-9]' <<< "$line" && dated[$t]=$(( ${dated[$t]:-0} + 1 ))
    grep -q '"has_thumbnail":true' <<< "$line" && thumb[$t]=$(( ${thumb[$t]:-0} + 1 ))
    sed -i "/^$h\$/d" "$tmp/wanted.sorted"  # a file listed twice (entry and carve) counts once
  done < "$tmp/veld.json"
  if [ -n "$before" ]; then
    "$before" search --save "$tmp/before" --flat "$img" > /dev/null 2>&1 || true
    while read -r t n; do old[$t]=$n; done < <(count_back "$tmp/wanted" "$tmp/before")
  fi
  if [ "$peer" = 1 ]; then
    rm -rf "$tmp/rec" "$tmp/rec".*
    (cd "$tmp" && photorec /log /d "$tmp/rec" /cmd "$img" \
       partition_none,options,paranoid,fileopt,everything,enable,search > /dev/null 2>&1) || true
    mkdir -p "$tmp/rec.1"
    while read -r t n; do rec[$t]=$n; done < <(count_back "$tmp/wanted" "$tmp/rec.1")
  fi
  sum_w=0 sum_v=0 sum_b=0 sum_r=0 sum_d=0 sum_t=0
  for t in $(printf '%s\n' "${!want[@]}" | sort); do
    w=${want[$t]} v=${veld[$t]:-0} b=${old[$t]:-0} r=${rec[$t]:-0} d=${dated[$t]:-0} p=${thumb[$t]:-0}
    sum_w=$((sum_w + w)) sum_v=$((sum_v + v)) sum_b=$((sum_b + b)) sum_r=$((sum_r + r))
    sum_d=$((sum_d + d)) sum_t=$((sum_t + p))
    printf '%-14s %-5s %6d %8s %8d %6d %6d %9s\n' "$card" "$t" "$w" "$([ -n "$before" ] && echo "$b" || echo -)" \
      "$v" "$d" "$p" "$([ "$peer" = 1 ] && echo "$r" || echo -)"
  done
  printf '%-14s %-5s %6d %8s %8d %6d %6d %9s\n' "$card" all "$sum_w" "$([ -n "$before" ] && echo "$sum_b" || echo -)" \
    "$sum_v" "$sum_d" "$sum_t" "$([ "$peer" = 1 ] && echo "$sum_r" || echo -)"
  unset want veld old rec dated thumb
done
