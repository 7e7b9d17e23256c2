#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs to build, run and test. Uses sudo when not root.
set -euo pipefail
packages=(
  g++ cmake ninja-build qt6-base-dev qt6-charts-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-translations-l10n fonts-noto-cjk xvfb xdotool imagemagick x11-utils
  socat iputils-ping iproute2 libcap2-bin python3-crcmod python3-junitparser tshark wireshark-common
  clang-14 libclang-rt-14-dev
  dpkg-dev desktop-file-utils appstream librsvg2-bin
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
