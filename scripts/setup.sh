#!/usr/bin/env bash
# Installs what building and testing Varnok needs on a Debian machine (as root, or through sudo).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev xvfb xauth
  libmspack-dev zlib1g-dev libdeflate-dev libcurl4-openssl-dev libuchardet-dev
  zip unzip arj jlha-utils lhasa p7zip-full ncompress sharutils unar libarchive-tools cabextract gcab unace
  python3 openssl desktop-file-utils xdg-utils
  dpkg-dev file groff-base libxml2-utils shared-mime-info
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
