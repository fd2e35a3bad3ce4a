#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: Harlix beside the loopback peer, with the
# simulated device library installed and one simulated iPhone attached. The peer prints every
# packet it receives as one JSON line. Arguments go to the peer (for example `--seconds 20`);
# without them it runs until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target Harlix MobileDevice CoreFoundation AirTrafficHost AppleMobileDeviceService >/dev/null

exec python3 tools/hlx_peer.py serve --harlix build/src/Harlix \
  --devices "build/programfiles/Common Files/Apple/Mobile Device Support" "$@"
