#!/usr/bin/env bash
# Fails when a C++ source differs from what .clang-format makes of it; prints the places.
set -euo pipefail
cd "$(dirname "$0")/.."
# Every library folder (read from the kv_library lines, so a new one is not missed) and
# the folders outside the libraries.
mapfile -t FOLDERS < <(sed -n 's/^kv_library([^ ]* *\([^ )]*\).*/\1/p' CMakeLists.txt)
FOLDERS+=(app tests bench fuzz tools)
mapfile -t files < <(git ls-files -- "${FOLDERS[@]/%//*.cpp}" "${FOLDERS[@]/%//*.h}")
if clang-format --dry-run -Werror "${files[@]}"; then
  echo "format: ${#files[@]} sources match .clang-format"
else
  echo "format: run 'clang-format -i' on the files above" >&2
  exit 1
fi
