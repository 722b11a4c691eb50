#!/usr/bin/env bash
# What a search costs on hostile cards, and how it grows: the cards of
# make_hostile_cards (each case at three scales, and a plain card of the same
# kind beside them as the limit) searched by `veld-cli search --json` of this
# build and, with --before, of an earlier veld-cli in the same run. For each
# card it prints the seconds and peak memory of each, the records listed,
# their states, and for same-mib the bytes `--save` writes against the card's
# size. The HEIF grid picture and the clip without key frame are decoded as
# the window's grid and preview do (media_decode_benchmark; the search itself
# decodes the pictures' thumbnails, never a clip's), beside an honest picture
# and the clip with its key frame.
#
#   bench/hostile_benchmark.sh [BUILD_DIR] [--before PATH] [--cards DIR] [--only NAME]
#                              [--timeout SECONDS] [--mem-cap GIB]
#
# --before names an earlier veld-cli; the media_decode_benchmark in the bench
# folder of its build is used when there is one. --cards keeps the cards in
# another folder (made once; default BUILD_DIR/hostile-cards; delete a case's
# .tsv to make it again). --only runs one case (its name as the cases below,
# or a card file name). Every run gets --timeout seconds (600) and at most
# --mem-cap GiB of address space (10): a run past either is reported as
# "timeout" or by its exit status, never waited for. A case whose smaller
# scale timed out is not run larger. The save folder is a temporary one,
# removed after each run. The cards need ffmpeg with libx265 and libx264
# (the HEIF tile and the clips; those cases are left out without it),
# mkfs.exfat (exfat-lost) and jq.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
before= cards= only= limit=600 cap_gib=10
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case "$arg" in
    --before) before=$(realpath "${1:?--before needs a path}"); shift ;;
    --cards) cards=$(realpath -m "${1:?--cards needs a folder}"); shift ;;
    --only) only=${1:?--only needs a case}; shift ;;
    --timeout) limit=${1:?--timeout needs seconds}; shift ;;
    --mem-cap) cap_gib=${1:?--mem-cap needs GiB}; shift ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) build=$(cd "$arg" && pwd) ;;
  esac
done
cli="$build/veld-cli"
maker="$build/bench/make_hostile_cards"
decoder="$build/bench/media_decode_benchmark"
cards=${cards:-"$build/hostile-cards"}
for f in "$cli" "$maker" "$decoder" ${before:+"$before"}; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
before_decoder=
[ -n "$before" ] && [ -x "$(dirname "$before")/bench/media_decode_benchmark" ] &&
  before_decoder="$(dirname "$before")/bench/media_decode_benchmark"
for tool in jq timeout /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$cards"

cases="ftyp-free box-jump tiff-subifd tiff-strips heif-grid pframe-clip fat-4gib fat-lost-chain exfat-lost
       fat-interleaved foreign-scan same-mib"

# The encoded inputs, made once: a 512 x 512 HEVC picture (a two-colour
# gradient, fixed seed), and 2,000 4K frames of a still test pattern in
# H.264 with one key frame at the start, and the same clip with the key
# frame's slices removed.
media_ok=0
if command -v ffmpeg >/dev/null; then
  quiet=(-hide_banner -loglevel error -y)
  [ -s "$cards/tile.hevc" ] ||
    ffmpeg "${quiet[@]}" -f lavfi -i "gradients=s=512x512:c0=0x2050a0:c1=0xe0c060:x0=0:y0=0:x1=511:y1=511:nb_colors=2:seed=1" \
      -frames:v 1 -c:v libx265 -crf 36 -x265-params log-level=error:info=0 -pix_fmt yuv420p -f hevc "$cards/tile.hevc" || true
  if [ ! -s "$cards/pframes-key.mp4" ]; then
    echo "encoding the 4K clip (2,000 frames, a few minutes) ..." >&2
    ffmpeg "${quiet[@]}" -f lavfi -i "smptebars=size=3840x2160:rate=30" -frames:v 2000 -c:v libx264 -preset ultrafast \
      -x264-params keyint=infinite:scenecut=0 -pix_fmt yuv420p "$cards/pframes-key.mp4" || rm -f "$cards/pframes-key.mp4"
  fi
  [ -s "$cards/pframes.mp4" ] || [ ! -s "$cards/pframes-key.mp4" ] ||
    ffmpeg "${quiet[@]}" -i "$cards/pframes-key.mp4" -c copy -bsf:v filter_units=remove_types=5 "$cards/pframes.mp4" || true
  [ -s "$cards/tile.hevc" ] && [ -s "$cards/pframes.mp4" ] && media_ok=1
fi
[ "$media_ok" = 1 ] || echo "no ffmpeg with libx265 and libx264: heif-grid and pframe-clip are left out" >&2

media=()
[ "$media_ok" = 1 ] && media=(--tile "$cards/tile.hevc" --clip "$cards/pframes.mp4" --key-clip "$cards/pframes-key.mp4")
for c in $cases; do
  [ -s "$cards/$c.tsv" ] && continue
  case "$c" in heif-grid|pframe-clip) [ "$media_ok" = 1 ] || continue ;; esac
  if [ -n "$only" ] && [ "$only" != "$c" ] && [[ "$only" != "$c"-* ]]; then continue; fi
  echo "making the $c cards ..." >&2
  if "$maker" "$cards" --only "$c" "${media[@]}" > "$tmp/$c.tsv"; then
    mv "$tmp/$c.tsv" "$cards/$c.tsv"
  else
    echo "cannot make the $c cards" >&2
  fi
done

# One run under the caps: "seconds peak-MiB note" (note "-" when it ended
# well), its listing in $tmp/out.json, what it saved in $tmp/save.
run() {  # CLI IMAGE SAVE
  local args=(search --json) rc=0 last
  rm -rf "$tmp/save"
  [ "$3" = 1 ] && args+=(--save "$tmp/save")
  (ulimit -v $(( cap_gib * 1024 * 1024 ))
   exec /usr/bin/time -f '%e %M' -o "$tmp/time" timeout -k 10 "$limit" "$1" "${args[@]}" "$2") \
    > "$tmp/out.json" 2> "$tmp/err" || rc=$?
  last=$(tail -n 1 "$tmp/time" 2> /dev/null || echo "- 0")
  local note=-
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    note=timeout
  elif [ "$rc" != 0 ]; then
    note="exit $rc"
    grep -q '検索エラー' "$tmp/err" "$tmp/out.json" 2> /dev/null && note="$note 検索エラー"
    grep -qi 'bad_alloc\|out of memory\|cannot allocate' "$tmp/err" 2> /dev/null && note="$note out of memory"
  fi
  set -- $last
  if [ "$note" = timeout ]; then
    echo ">$limit - timeout"
  else
    printf '%s %d %s\n' "$1" $(( ${2:-0} / 1024 )) "${note// /_}"
  fi
}

# "records<tab>states" of a listing: each index's last line (revised ones
# replace it, withdrawn ones take it away), states counted.
tally() {
  jq -r 'select(.index != null) | "\(.index)\t\(if .withdrawn then "-" else .state_text end)"' "$tmp/out.json" 2> /dev/null |
    awk -F'\t' '{ s[$1] = $2 }
      END {
        for (i in s) if (s[i] != "-") { n++; c[s[i]]++ }
        text = ""
        for (k in c) text = text (text == "" ? "" : ", ") k " " c[k]
        printf "%d\t%s\n", n, text == "" ? "-" : text
      }'
}

saved_mib() { [ -d "$tmp/save" ] && du -sb "$tmp/save" | awk '{ printf "%.1f", $1 / 1048576 }' || echo -; }

both() {  # BEFORE AFTER: one value when they agree
  if [ -z "$before" ] || [ "$1" = "$2" ]; then echo "$2"; else echo "$1 → $2"; fi
}

echo "# Hostile cards: veld-cli search --json, timeout ${limit} s, address space ≤ ${cap_gib} GiB, $(nproc) cores"
echo
if [ -n "$before" ]; then
  echo "| card | scale | count | card MiB | before s | before MiB | this s | this MiB | records | states | saved MiB | note |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---|---:|---|"
else
  echo "| card | scale | count | card MiB | s | peak MiB | records | states | saved MiB | note |"
  echo "|---|---|---:|---:|---:|---:|---:|---|---:|---|"
fi
declare -A timed_out
for c in $cases; do
  [ -s "$cards/$c.tsv" ] || continue
  while IFS=$'\t' read -r file kase scale count unit bytes; do
    if [ -n "$only" ] && [ "$only" != "$kase" ] && [ "$only" != "$file" ]; then continue; fi
    save=0
    [ "$kase" = same-mib ] && save=1
    mib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
    declare -A m=()
    for who in before this; do
      [ "$who" = before ] && [ -z "$before" ] && continue
      bin=$cli
      [ "$who" = before ] && bin=$before
      if [ -n "${timed_out[$who/$kase]:-}" ] && [ "$scale" != plain ]; then
        m[$who.run]="- - skipped"; m[$who.tally]=$'-\t-'; m[$who.saved]=-
        continue
      fi
      m[$who.run]=$(run "$bin" "$cards/$file" "$save")
      m[$who.tally]=$(tally)
      [[ "${m[$who.run]}" == *timeout* ]] && m[$who.tally]=$'-\t-'
      m[$who.saved]=$([ "$save" = 1 ] && saved_mib || echo -)
      rm -rf "$tmp/save"
      [[ "${m[$who.run]}" == *timeout* ]] && timed_out[$who/$kase]=1
    done
    read -r ts tm tn <<< "${m[this.run]}"
    IFS=$'\t' read -r tr tst <<< "${m[this.tally]}"
    note=${tn//_/ }
    if [ -n "$before" ]; then
      read -r bs bm bn <<< "${m[before.run]}"
      IFS=$'\t' read -r br bst <<< "${m[before.tally]}"
      note=$(both "${bn//_/ }" "$note")
      printf '| %s | %s | %s %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$kase" "$scale" "$count" "$unit" "$mib" \
        "$bs" "$bm" "$ts" "$tm" "$(both "$br" "$tr")" "$(both "$bst" "$tst")" \
        "$(both "${m[before.saved]}" "${m[this.saved]}")" "$note"
    else
      printf '| %s | %s | %s %s | %s | %s | %s | %s | %s | %s | %s |\n' "$kase" "$scale" "$count" "$unit" "$mib" \
        "$ts" "$tm" "$tr" "$tst" "${m[this.saved]}" "$note"
    fi
  done < "$cards/$c.tsv"
done

# The decodes the window makes of one picture or clip.
decodes=()
for f in heif-grid.heic heif-tile.heic pframes.mp4 pframes-key.mp4; do
  [ -s "$cards/$f" ] || continue
  case "$f" in heif-*) c=heif-grid ;; *) c=pframe-clip ;; esac
  if [ -n "$only" ] && [ "$only" != "$c" ]; then continue; fi
  decodes+=("$f")
done
[ ${#decodes[@]} -gt 0 ] || exit 0
decode() {  # DECODER HOW FILE -> "seconds peak-MiB result"
  local rc=0 out
  out=$( (ulimit -v $(( cap_gib * 1024 * 1024 ))
          exec /usr/bin/time -f '%e %M' -o "$tmp/time" timeout -k 10 "$limit" "$1" "$2" "$3") 2> /dev/null) || rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then echo ">$limit - timeout"; return; fi
  set -- $(tail -n 1 "$tmp/time") ${out:-"- exit_$rc"}
  echo "$1 $(( ${2:-0} / 1024 )) ${4:-none}"
}
echo
echo "One decode as the window's grid and preview make it (the whole file in memory):"
echo
if [ -n "$before_decoder" ]; then
  echo "| file | bytes | decode | before s | before MiB | this s | this MiB | picture |"
  echo "|---|---:|---|---:|---:|---:|---:|---|"
else
  echo "| file | bytes | decode | s | peak MiB | picture |"
  echo "|---|---:|---|---:|---:|---|"
fi
for f in "${decodes[@]}"; do
  for how in grid preview; do
    read -r ts tm tp <<< "$(decode "$decoder" "$how" "$cards/$f")"
    if [ -n "$before_decoder" ]; then
      read -r bs bm bp <<< "$(decode "$before_decoder" "$how" "$cards/$f")"
      printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$f" "$(stat -c %s "$cards/$f")" "$how" "$bs" "$bm" "$ts" "$tm" \
        "$(both "$bp" "$tp")"
    else
      printf '| %s | %s | %s | %s | %s | %s |\n' "$f" "$(stat -c %s "$cards/$f")" "$how" "$ts" "$tm" "$tp"
    fi
  done
done
