#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job:
# 1. Harlix beside the loopback peer, with the simulated device library installed and one simulated
#    iPhone attached; the peer prints every packet it receives as one JSON line. Arguments go to the
#    peer; without them it stops after 10 seconds (pass --seconds 0 to run until Ctrl-C, which ends
#    the whole main job).
# 2. Trevane, the desktop host, under Wine (on a virtual display when there is none), with its relay
#    module starting Harlix and one simulated iPhone that carries every kind of data (250 contacts among
#    them) attached and one earlier backup of it on the simulated PC; it prints the path of a screenshot
#    of the iPhone's contacts page. With --keep-open (taken out of the peer's arguments) Trevane then
#    stays open for use until its window is closed.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each step says what it does first: the builds and Wine's start are silent for minutes otherwise.
step() { echo "run: $*" >&2; }
# A long step passes its output on to standard error (standard output carries the peer's JSON lines) and,
# after 20 quiet seconds, says what it is still at work on.
narrate() { local label=$1; shift; python3 scripts/narrate.py --label "run: $label: " -- "$@" >&2; }

step "checking the installed packages (scripts/setup.sh)"
bash scripts/setup.sh
step "building Harlix and the simulated device library in build/ (the first build takes a few minutes)"
narrate "configure" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo --log-level=NOTICE
narrate "build" cmake --build build -j "$(nproc)" --target Harlix MobileDevice CoreFoundation AirTrafficHost \
  AppleMobileDeviceService

desktop_options=()
peer_options=()
for argument in "$@"; do
  if [ "$argument" = --keep-open ]; then desktop_options+=(--keep-open); else peer_options+=("$argument"); fi
done
if [ ${#peer_options[@]} -eq 0 ]; then peer_options=(--seconds 10); fi
set -- "${peer_options[@]}"
step "starting Harlix beside the loopback peer with one simulated iPhone ($*)"
python3 tools/hlx_peer.py serve --harlix build/src/Harlix \
  --devices "build/programfiles/Common Files/Apple/Mobile Device Support" "$@"

step "building the desktop host Trevane in build-gui/, then starting it under Wine"
step "with a simulated iPhone that carries every kind of data; the first build and Wine's first start take a few minutes"
bash scripts/run-desktop.sh build-gui --service build ${desktop_options[@]+"${desktop_options[@]}"}
step "done"
