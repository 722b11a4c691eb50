#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Veld need.
# Packages already present are skipped; nothing is downloaded when all are.
# With --fuzz also clang and its libFuzzer runtime (the optional fuzz build).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-translations-l10n libqt6svg6
  libjpeg62-turbo-dev libssl-dev zlib1g-dev libgtest-dev libbenchmark-dev
  libheif-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  ffmpeg libimage-exiftool-perl testdisk
  shared-mime-info fonts-noto-cjk breeze-icon-theme
  xvfb xauth xdotool imagemagick dosfstools mtools time valgrind
  exfatprogs fdisk sleuthkit
  dbus-daemon dpkg-dev file lintian appstream desktop-file-utils man-db
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
