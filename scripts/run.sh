#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job:
# 1. Harlix beside the loopback peer, with the simulated device library installed and one simulated
#    iPhone attached; the peer prints every packet it receives as one JSON line. Arguments go to the
#    peer; without them it stops after 10 seconds (pass --seconds 0 to run until Ctrl-C).
# 2. Trevane, the desktop host, under Wine (on a virtual display when there is none), with its relay
#    module starting Harlix and one simulated iPhone of 250 contacts attached; it prints the path of a
#    screenshot of the iPhone's contacts page.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target Harlix MobileDevice CoreFoundation AirTrafficHost AppleMobileDeviceService >/dev/null

if [ $# -eq 0 ]; then set -- --seconds 10; fi
python3 tools/hlx_peer.py serve --harlix build/src/Harlix \
  --devices "build/programfiles/Common Files/Apple/Mobile Device Support" "$@"

bash scripts/run-desktop.sh build-gui --service build
