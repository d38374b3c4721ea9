#!/usr/bin/env bash
# Set up, build and run every test; then the same tests under the sanitizers.
# Fails on a format difference, an include that runs up the layers, a compiler warning
# (both trees build with -Werror), a failing test or a sanitizer report.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$here/.."
# The checks first: a red one costs seconds, not a build.
bash "$here/packages.sh"
bash "$here/check-format.sh"
bash "$here/check-includes.sh"
bash "$here/setup.sh"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
# Once more on the plain loops, which processors without the vector sets run.
echo "ctest with KELVANE_NO_SIMD=1 (plain loops only)"
KELVANE_NO_SIMD=1 QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"

# The sanitizer tree: AddressSanitizer and UndefinedBehaviorSanitizer, every UB report
# fatal, leaks checked except inside third-party libraries (tests/lsan.supp).
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_BUILD_BENCH=OFF
cmake --build "$top/build-asan" -j "$(nproc)"
cd "$top/build-asan"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$(nproc)"
