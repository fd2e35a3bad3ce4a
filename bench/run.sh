#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark; each prints its figures beside its baseline's and
# every aim with "met" or "not met". The exit status is 1 when any aim was not met.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/step.sh
support="build-bench/programfiles/Common Files/Apple/Mobile Device Support"
echo "bench: building build-bench/ (a few minutes the first time), then 11 benchmarks: about half an hour" >&2
echo "bench: together, 18 minutes of it the photo benchmark's; every step says when it starts, its time bound" >&2
echo "bench: and how long it took; Ctrl-C ends the run" >&2
bash scripts/setup.sh
# The builds talk on standard error: standard output carries the measurements.
bench_step 1800 "configuring build-bench/" cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  --log-level=NOTICE >&2
bench_step 3600 "building build-bench/" cmake --build build-bench -j "$(nproc)" --target Harlix bench_ipc bench_afc \
  bench_zip_tool bench_peak_tool bench_itunes_db_tool MobileDevice CoreFoundation AirTrafficHost \
  AppleMobileDeviceService AppleMobileBackup >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# The contacts benchmark keeps its first listing's replies: bench_ipc measures the compressor on them.
bench_step 1800 "contacts" python3 bench/bench_contacts.py --harlix build-bench/src/Harlix \
  --save-replies "$work/replies" --ipc-tool build-bench/bench/bench_ipc --support "$support" || status=1
bench_step 1800 "packets and compression" env TMPDIR="$work" build-bench/bench/bench_ipc --replies "$work/replies" \
  build-bench/src/Harlix "$@" || status=1
bench_step 1800 "AFC copies" build-bench/bench/bench_afc || status=1
bench_step 1800 "zip archives" python3 bench/bench_zip.py --tool build-bench/bench/bench_zip_tool || status=1
bench_step 1800 "sync data" python3 bench/bench_sync_data.py --harlix build-bench/src/Harlix --support "$support" || status=1
bench_step 1800 "messages" python3 bench/bench_messages.py --harlix build-bench/src/Harlix --support "$support" || status=1
bench_step 1800 "file transfers of 256 MiB" python3 bench/bench_files.py --harlix build-bench/src/Harlix \
  --support "$support" || status=1
bench_step 1800 "file transfers of 1 GiB" python3 bench/bench_files.py --harlix build-bench/src/Harlix --mib 1024 \
  --rounds 4 --support "$support" || status=1
bench_step 3600 "photos" python3 bench/bench_photos.py --harlix build-bench/src/Harlix \
  --ipc-tool build-bench/bench/bench_ipc --support "$support" || status=1
bench_step 1800 "media library" python3 bench/bench_media.py --harlix build-bench/src/Harlix \
  --reader build-bench/bench/bench_itunes_db_tool --support "$support" || status=1
bench_step 1800 "backup" python3 bench/bench_backup.py --peak-tool build-bench/bench/bench_peak_tool \
  --support "$support" || status=1
echo "bench: the whole run took $(bench_elapsed "$SECONDS")$([ $status -eq 0 ] || echo "; some aims were not met")" >&2
exit $status
