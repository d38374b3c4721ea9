#!/usr/bin/env bash
# Installs on Debian 12 whatever the build, the checks and the tests need and is missing.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev
          libgtest-dev libbenchmark-dev libpixman-1-dev libgif-dev libimagequant-dev fonts-liberation2 fonts-dejavu-core
          clang-format libmagickwand-6.q16-dev libopencv-core-dev libopencv-imgproc-dev libtiff-dev libtiff-tools
          poppler-utils giflib-tools)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
