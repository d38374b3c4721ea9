#!/usr/bin/env bash
# Fails when a C++ source differs from what .clang-format makes of it; prints the places.
set -euo pipefail
cd "$(dirname "$0")/.."
FOLDERS=(platform raster formats imaging widgets effects editor app tests bench fuzz tools)
mapfile -t files < <(git ls-files -- "${FOLDERS[@]/%//*.cpp}" "${FOLDERS[@]/%//*.h}")
if clang-format --dry-run -Werror "${files[@]}"; then
  echo "format: ${#files[@]} sources match .clang-format"
else
  echo "format: run 'clang-format -i' on the files above" >&2
  exit 1
fi
