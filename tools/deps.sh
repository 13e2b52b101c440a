#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need (run as root).
set -euo pipefail
PKGS=(
  cmake ninja-build ccache g++ pkg-config
  qt6-base-dev qt6-base-dev-tools
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libv4l-dev libasound2-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libzvbi-dev
  fonts-nanum
  xvfb xauth xdotool x11-utils imagemagick ffmpeg desktop-file-utils jq
  appstream openbox
  clang libclang-rt-14-dev
  qemu-system-x86 linux-image-amd64 busybox-static cpio kmod xz-utils alsa-utils
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run as root, or: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
