#!/bin/sh
# Draws the application's own pictures with ImageMagick and writes them as
# small JPEG files to resources/pictures/<name>.jpg (compiled in through
# resources/veld.qrc). Run from anywhere; needs `convert` and a CJK font
# (Noto Sans CJK JP). The sizes and layouts are described in
# ui/picture_loader.h.
set -eu
cd "$(dirname "$0")/pictures"

FONT=${VELD_PICTURE_FONT:-Noto-Sans-CJK-JP}
BOLD=${VELD_PICTURE_BOLD_FONT:-Noto-Sans-CJK-JP-Bold}
JPEG="-strip -sampling-factor 4:2:0 -quality 82"

# A memory card outline with its cut corner and contacts, at x,y, scaled by s
# (a 40 x 52 card at s=1). Prints draw primitives.
card() {
    x=$1 y=$2 s=$3 fill=$4
    awk -v x="$x" -v y="$y" -v s="$s" -v fill="$fill" 'BEGIN {
        printf "fill %s stroke #303040 stroke-width %g ", fill, 1.5*s;
        printf "polygon %g,%g %g,%g %g,%g %g,%g %g,%g ", x,y, x+30*s,y, x+40*s,y+10*s, x+40*s,y+52*s, x,y+52*s;
        printf "fill #e8c060 stroke none ";
        for (i = 0; i < 5; i++) printf "rectangle %g,%g %g,%g ", x+(4+6*i)*s, y+3*s, x+(7+6*i)*s, y+12*s;
        printf "fill #ffffff stroke none rectangle %g,%g %g,%g ", x+6*s, y+20*s, x+34*s, y+40*s;
    }'
}

# A magnifying glass at x,y (lens radius r).
magnifier() {
    x=$1 y=$2 r=$3 colour=$4
    awk -v x="$x" -v y="$y" -v r="$r" -v c="$colour" 'BEGIN {
        printf "fill none stroke %s stroke-width %g circle %g,%g %g,%g ", c, r/3, x,y, x+r,y;
        printf "stroke-width %g line %g,%g %g,%g ", r/2.2, x+r*0.75,y+r*0.75, x+r*1.9,y+r*1.9;
    }'
}

# --- progress bar fill, 343 x 16 ----------------------------------------
convert -size 16x343 gradient:'#7fd4ff'-'#1a5fb4' -rotate 90 \
    \( -size 343x16 xc:none -fill '#ffffff40' -draw "rectangle 0,0 342,5" \) -composite \
    -fill '#ffffff30' -draw "$(awk 'BEGIN{for(x=0;x<343;x+=12) printf "polygon %d,0 %d,0 %d,15 %d,15 ", x, x+5, x+1, x-4}')" \
    $JPEG progress_fill.jpg

# --- tall artwork of the drive selections and the save dialog ------------
side() {
    out=$1 top=$2 bottom=$3 extra=$4 label=$5
    convert -size 80x257 gradient:"$top"-"$bottom" \
        -draw "$(card 18 70 1.1 '#f4f4f8')" \
        -draw "$extra" \
        -font "$FONT" -pointsize 12 -fill '#ffffff' -gravity south -annotate +0+14 "$label" \
        $JPEG "$out"
}
side search_drive.jpg '#2d6bc2' '#0e2a55' "$(magnifier 44 140 11 '#ffd24a')" "検索"
side disk_image_drive.jpg '#2f8f6a' '#0f3a2c' "fill #d0e8ff stroke #203040 stroke-width 1.5 rectangle 24,150 56,182 fill #203040 stroke none rectangle 30,150 50,162 fill #f0f0f0 rectangle 28,168 52,180 stroke #ffffff stroke-width 3 line 40,134 40,146 fill #ffffff stroke none polygon 34,144 46,144 40,150" "イメージ"
side erase_drive.jpg '#b03a2e' '#4a1210' "stroke #ffffff stroke-width 5 line 22,150 58,186 line 58,150 22,186" "消去"
convert -size 80x257 xc:white \
    -draw "fill #f2c14e stroke #8a6a10 stroke-width 1.5 polygon 12,120 32,120 38,128 68,128 68,170 12,170" \
    -draw "fill #1a5fb4 stroke none polygon 32,70 48,70 48,96 58,96 40,116 22,96 32,96" \
    -draw "$(card 26 18 0.7 '#f4f4f8')" \
    -font "$FONT" -pointsize 12 -fill '#1a3a6a' -gravity south -annotate +0+14 "保存" \
    $JPEG save.jpg

# --- splash, 400 x 250 --------------------------------------------------
convert -size 250x400 gradient:'#18386e'-'#3a7fd0' -rotate -90 \
    -draw "$(card 300 60 2.0 '#f4f4f8')" \
    -draw "$(magnifier 360 150 22 '#ffd24a')" \
    -font "$BOLD" -pointsize 72 -fill '#ffffff' -gravity northwest -annotate +28+40 'Veld' \
    -font "$FONT" -pointsize 16 -fill '#e0ecff' -annotate +32+140 '削除した写真と動画を復活' \
    -font "$FONT" -pointsize 12 -fill '#c0d4f0' -annotate +32+210 'Version 2.100' \
    $JPEG splash.jpg

# --- toolbar strip, 448 x 32 (seven 64 x 32 images on light grey) ------
icon() {
    kind=$1 ink=$2 paper=$3 accent=$4 label=$5 out=$6
    case $kind in
        search) art="$(card 4 3 0.5 "$paper") $(magnifier 16 18 5 "$accent")" ;;
        save) art="fill $accent stroke $ink stroke-width 1 polygon 3,10 11,10 14,13 27,13 27,28 3,28 fill $ink stroke none polygon 12,2 18,2 18,9 22,9 15,16 8,9 12,9" ;;
        thumbs) art="fill $paper stroke $ink stroke-width 1 rectangle 3,4 14,14 rectangle 17,4 28,14 rectangle 3,17 14,27 rectangle 17,17 28,27 fill $accent stroke none rectangle 5,9 12,12 rectangle 19,9 26,12 rectangle 5,22 12,25 rectangle 19,22 26,25" ;;
        list) art="fill $paper stroke $ink stroke-width 1 rectangle 3,4 28,27 stroke $accent stroke-width 2 line 6,9 25,9 line 6,14 25,14 line 6,19 25,19 line 6,24 25,24" ;;
        blank) art="" ;;
    esac
    if [ -n "$art" ]; then
        convert -size 64x32 xc:'#c0c0c0' -draw "$art" \
            -font "$FONT" -pointsize 12 -fill "$ink" -gravity west -annotate +33+0 "$label" "$out"
    else
        convert -size 64x32 xc:'#c0c0c0' "$out"
    fi
}
tmp=$(mktemp -d)
icon search '#202020' '#ffffff' '#c08000' '検索' "$tmp/0.png"
icon save '#202020' '#ffffff' '#f2c14e' '保存' "$tmp/1.png"
icon thumbs '#202020' '#ffffff' '#3a7fd0' '画像' "$tmp/2.png"
icon list '#202020' '#ffffff' '#3a7fd0' '一覧' "$tmp/3.png"
icon blank '' '' '' '' "$tmp/4.png"
icon search '#808080' '#d8d8d8' '#909090' '検索' "$tmp/5.png"
icon save '#808080' '#d8d8d8' '#a0a0a0' '保存' "$tmp/6.png"
convert "$tmp/0.png" "$tmp/1.png" "$tmp/2.png" "$tmp/3.png" "$tmp/4.png" "$tmp/5.png" "$tmp/6.png" \
    +append -strip -quality 90 toolbar.jpg
rm -rf "$tmp"

# --- easy wizard pages, 411 x 193, guidance drawn in ---------------------
# The guidance is broken into lines here, between phrases, so that no line
# starts with a closing mark such as "。" or "、" (caption: would break
# anywhere).
page() {
    out=$1 step=$2 title=$3 text=$4 extra=$5
    convert -size 411x193 xc:white \
        -draw "fill #1a5fb4 rectangle 0,0 410,40" \
        -draw "$(card 24 70 1.3 '#f4f4f8')" \
        -draw "$extra" \
        -font "$BOLD" -pointsize 18 -fill '#ffffff' -gravity northwest -annotate +16+8 "$title" \
        -font "$FONT" -pointsize 12 -fill '#e0ecff' -gravity northeast -annotate +14+14 "$step" \
        \( -gravity northwest -size 300x120 -background white -fill '#1a2a40' -font "$FONT" -pointsize 14 caption:"$text" \) \
        -gravity northwest -geometry +100+56 -composite \
        $JPEG "$out"
}
page wizard_page1.jpg 'ステップ 1/3' 'かんたんウィザード' \
    'メモリカードから削除した写真や動画を
探します。カードをカードリーダーに入れて
から［次へ］を押し、カードまたは
ディスクイメージを選んでください。' \
    "$(magnifier 62 140 9 '#c08000')"
page wizard_page2.jpg 'ステップ 2/3' '検索中' \
    '削除されたファイルを検索しています。
検索が終わるまでお待ちください。' \
    "$(magnifier 62 140 9 '#c08000')"
page wizard_page3.jpg 'ステップ 3/3' '検索が終了しました' \
    '［次へ］を押すと、見つかったファイルを
保存します。保存先はカードとは別の
ドライブを選んでください。' \
    "fill #1a5fb4 stroke none polygon 56,150 66,150 66,160 72,160 61,172 50,160 56,160"
page wizard_page3_partial.jpg 'ステップ 3/3' '検索を中断しました' \
    '見つかったのは中断までのファイルだけです。
［次へ］を押すと、それらを保存します。
残りを探すには［戻る］から検索し直して
ください。' \
    "fill #e0a000 stroke none polygon 56,150 66,150 66,160 72,160 61,172 50,160 56,160"
page wizard_page4.jpg '完了' '保存が終了しました' \
    'もう一度検索するには［戻る］を押して
ください。［完了］を押すとウィザードを
終了します。' \
    "stroke #2f8f6a stroke-width 5 fill none polyline 48,152 58,164 78,138"

ls -l *.jpg
