#!/usr/bin/env bash
# Set up, build and run every test.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/setup.sh"
cd "$here/../build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
