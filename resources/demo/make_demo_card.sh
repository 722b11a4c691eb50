#!/bin/sh
# Builds the demo card: an 8 MiB FAT16 image of a camera card on which
#   - /DCIM/100VELD holds six photos, three of them deleted (one with a long
#     name), and a live clip-free folder /MISC with a text file;
#   - /DCIM/101TRIP, a folder of four photos, was deleted as a whole;
#   - an MP4 clip lies in free clusters near the end with no directory entry
#     left: only the signature search can find it.
#
#   make_demo_card.sh <make_demo_files program> <image> <work folder>
#
# Needs mkfs.fat and mtools (mmd, mcopy, mdel, mdeltree).
set -eu
generator=$1
image=$2
work=$3

MKFS_FAT=${MKFS_FAT:-mkfs.fat}
export MTOOLS_SKIP_CHECK=1
export MTOOLS_NO_VFAT=0

rm -rf "$work"
mkdir -p "$work"
"$generator" "$work"

tmp="$image.tmp"
rm -f "$tmp"
# FAT16, 1 KiB clusters (about 8,000 of them), volume label VELDDEMO.
"$MKFS_FAT" -C -F 16 -s 2 -n VELDDEMO -i 5645d001 "$tmp" 8192 >/dev/null

mmd -i "$tmp" ::/DCIM ::/DCIM/100VELD ::/DCIM/101TRIP ::/MISC
mcopy -i "$tmp" "$work/photo01.jpg" ::/DCIM/100VELD/VELD0001.JPG
mcopy -i "$tmp" "$work/photo02.jpg" ::/DCIM/100VELD/VELD0002.JPG
mcopy -i "$tmp" "$work/photo03.jpg" ::/DCIM/100VELD/VELD0003.JPG
mcopy -i "$tmp" "$work/photo04.jpg" "::/DCIM/100VELD/Evening walk.jpg"
mcopy -i "$tmp" "$work/photo05.jpg" ::/DCIM/100VELD/VELD0005.JPG
mcopy -i "$tmp" "$work/photo06.jpg" ::/DCIM/100VELD/VELD0006.JPG
mcopy -i "$tmp" "$work/photo07.jpg" ::/DCIM/101TRIP/TRIP0001.JPG
mcopy -i "$tmp" "$work/photo08.jpg" ::/DCIM/101TRIP/TRIP0002.JPG
mcopy -i "$tmp" "$work/photo09.jpg" "::/DCIM/101TRIP/Lake view.jpg"
mcopy -i "$tmp" "$work/photo10.jpg" ::/DCIM/101TRIP/TRIP0004.JPG
printf 'Veld demo card\r\n' > "$work/readme.txt"
mcopy -i "$tmp" "$work/readme.txt" ::/MISC/README.TXT

# Deleting last keeps the freed clusters untouched by later writes.
mdel -i "$tmp" ::/DCIM/100VELD/VELD0002.JPG "::/DCIM/100VELD/Evening walk.jpg" ::/DCIM/100VELD/VELD0005.JPG
mdeltree -i "$tmp" ::/DCIM/101TRIP

# The carved clip: written straight into free clusters near the end of the
# volume, cluster-aligned, with no directory entry pointing at it.
field() {  # offset width: a little-endian field of the boot sector
    od -An -t "u$2" -j "$1" -N "$2" "$tmp" | tr -d ' \n'
}
bytesPerSector=$(field 11 2)
sectorsPerCluster=$(field 13 1)
reserved=$(field 14 2)
fats=$(field 16 1)
rootEntries=$(field 17 2)
total=$(field 19 2)
[ "$total" -eq 0 ] && total=$(field 32 4)
sectorsPerFat=$(field 22 2)
rootSectors=$(( (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector ))
dataSector=$(( reserved + fats * sectorsPerFat + rootSectors ))
clusters=$(( (total - dataSector) / sectorsPerCluster ))
clipBytes=$(wc -c < "$work/clip.mp4")
clusterBytes=$(( bytesPerSector * sectorsPerCluster ))
clipClusters=$(( (clipBytes + clusterBytes - 1) / clusterBytes ))
firstCluster=$(( clusters + 2 - clipClusters - 16 ))
seekSectors=$(( dataSector + (firstCluster - 2) * sectorsPerCluster ))
dd if="$work/clip.mp4" of="$tmp" bs="$bytesPerSector" seek="$seekSectors" conv=notrunc status=none

mv "$tmp" "$image"
echo "demo card: $image (clip at cluster $firstCluster of $clusters)"
