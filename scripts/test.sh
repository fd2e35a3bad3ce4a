#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the normal build (warnings are
# errors) and a second build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHLX_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHLX_WERROR=ON -DHLX_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900
