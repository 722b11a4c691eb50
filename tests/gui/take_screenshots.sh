#!/bin/sh
# The pictures a reviewer of the main window needs, taken on a real X server
# (Xvfb) with the demo card: the window with the thumbnail grid (also zoomed
# in), the list and the disk map, the save dialog with its counts, a
# cancelled search, and the help page shown inside Veld.
#
#   tests/gui/take_screenshots.sh [BUILD_DIR] [OUT_DIR] [--docs]
#
# BUILD_DIR defaults to build, OUT_DIR to BUILD_DIR/screenshots. --docs also
# copies the window with the grid to docs/main-window.png (the picture of the
# README and the help page). Settings and saved files go to a scratch home
# folder, never the user's.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build" out= docs=0
for arg in "$@"; do
  case "$arg" in
    --docs) docs=1 ;;
    -*) echo "unknown option $arg" >&2; exit 2 ;;
    *) if [ -z "${build_given:-}" ]; then build=$(cd "$arg" && pwd); build_given=1; else out=$arg; fi ;;
  esac
done
out=${out:-"$build/screenshots"}
program="$build/tests/veld_screenshots"
card="$build/demo-card.img"
for f in "$program" "$card"; do
  [ -e "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)" >&2; exit 1; }

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)
# The card is copied: a search never writes to it, but the copy keeps the
# build's card out of the recent-images list of any real settings.
cp "$card" "$home/demo-card.img"
env -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_DOCUMENTS_DIR="$home/Documents" LANG=ja_JP.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$program" "$home/demo-card.img" "$root/docs/VELD.HTM" "$out"
if [ "$docs" = 1 ]; then
  cp "$out/main-window.png" "$root/docs/main-window.png"
  echo "$root/docs/main-window.png"
fi
