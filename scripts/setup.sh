#!/usr/bin/env bash
# Installs what the build needs on Debian 12 and configures + builds into ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/packages.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$BUILD_DIR" -j "$(nproc)"
