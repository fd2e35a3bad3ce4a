#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark; each prints its own figure and its baseline's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$(nproc)" --target Harlix bench_ipc bench_afc bench_zip_tool >/dev/null
TMPDIR=$(mktemp -d) build-bench/bench/bench_ipc build-bench/src/Harlix "$@"
build-bench/bench/bench_afc
cmake --build build-bench -j "$(nproc)" --target MobileDevice CoreFoundation AirTrafficHost AppleMobileDeviceService >/dev/null
python3 bench/bench_contacts.py --harlix build-bench/src/Harlix \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support"
python3 bench/bench_zip.py --tool build-bench/bench/bench_zip_tool
python3 bench/bench_sync_data.py --harlix build-bench/src/Harlix \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support"
