#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark; each prints its figures beside its baseline's and
# every aim with "met" or "not met". The exit status is 1 when any aim was not met.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$(nproc)" --target Harlix bench_ipc bench_afc bench_zip_tool bench_peak_tool MobileDevice \
  CoreFoundation AirTrafficHost AppleMobileDeviceService AppleMobileBackup >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# The contacts benchmark keeps its first listing's replies: bench_ipc measures the compressor on them.
timeout 1800 python3 bench/bench_contacts.py --harlix build-bench/src/Harlix --save-replies "$work/replies" \
  --ipc-tool build-bench/bench/bench_ipc \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
TMPDIR=$work timeout 1800 build-bench/bench/bench_ipc --replies "$work/replies" build-bench/src/Harlix "$@" || status=1
timeout 1800 build-bench/bench/bench_afc || status=1
timeout 1800 python3 bench/bench_zip.py --tool build-bench/bench/bench_zip_tool || status=1
timeout 1800 python3 bench/bench_sync_data.py --harlix build-bench/src/Harlix \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
timeout 1800 python3 bench/bench_messages.py --harlix build-bench/src/Harlix \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
timeout 1800 python3 bench/bench_files.py --harlix build-bench/src/Harlix \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
timeout 1800 python3 bench/bench_files.py --harlix build-bench/src/Harlix --mib 1024 --rounds 4 \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
timeout 3600 python3 bench/bench_photos.py --harlix build-bench/src/Harlix --ipc-tool build-bench/bench/bench_ipc \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
cmake --build build-bench -j "$(nproc)" --target bench_itunes_db_tool >/dev/null
timeout 1800 python3 bench/bench_media.py --harlix build-bench/src/Harlix --reader build-bench/bench/bench_itunes_db_tool \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
timeout 1800 python3 bench/bench_backup.py --peak-tool build-bench/bench/bench_peak_tool \
  --support "build-bench/programfiles/Common Files/Apple/Mobile Device Support" || status=1
exit $status
