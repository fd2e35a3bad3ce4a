#!/usr/bin/env bash
# Builds the desktop tree (Trevane and its modules, 32-bit Windows) and starts Trevane under Wine: on a
# virtual display when there is none, else on $DISPLAY. It waits until the main window is up and has joined
# the relay module, takes a screenshot, prints its path, closes Trevane and stops Wine.
# With --service <native build folder> (where Harlix and the simulated device library are built) the relay
# module starts Harlix, one simulated iPhone with 250 contacts is attached, and the screenshot shows its
# contacts page once the section list counts them.
# Usage: scripts/run-desktop.sh [build-folder] [--service native-build-folder]   (default: build-gui)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-gui}")
native=""
if [ "${2:-}" = "--service" ]; then native=$(realpath -m "${3:?the native build folder}"); fi
desktop=$build/desktop
prefix=$build/wineprefix

cmake -S "$root/gui" -B "$desktop" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTRV_WINEPREFIX="$prefix" >/dev/null
cmake --build "$desktop" --target trevane_app winprobe >/dev/null
"$root/tests/gui/wine_prefix.sh" "$prefix" init

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb=""
lab=""
labpid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  if [ -n "$labpid" ]; then kill "$labpid" 2>/dev/null || true; wait "$labpid" 2>/dev/null || true; fi
  [ -n "$lab" ] && rm -rf "$lab"
  return 0
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  exec 3>"$display_file"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.05; done
  [ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$display_file")"
  rm -f "$display_file"
fi

udid=""
if [ -n "$native" ]; then
  # A simulated PC: the device library installed, its service running, one iPhone attached.
  lab=$(mktemp -d)
  python3 "$root/tools/hlx_lab.py" --support "$native/programfiles/Common Files/Apple/Mobile Device Support" \
    --lab "$lab/pc" --attach-demo --contacts 250 >"$lab/environment" &
  labpid=$!
  for _ in $(seq 300); do grep -q '^# attached' "$lab/environment" 2>/dev/null && break; sleep 0.1; done
  grep -q '^# attached' "$lab/environment" || { echo "the simulated PC did not start" >&2; exit 1; }
  eval "$(grep '^export ' "$lab/environment")"
  udid=$(sed -n 's/^# attached //p' "$lab/environment")
  export TREVANE_HARLIX="$native/src/Harlix"
fi

trace=$(mktemp --suffix=.txt)
probe="$desktop/tests/gui/bin/winprobe.exe"
# The relay module's service mode (TREVANE_HARLIX in the environment) hands the device service the Linux pid
# of the desktop, which is the pid of the shell that becomes Wine.
TREVANE_RELAY_TRACE="Z:${trace//\//\\}" sh -c 'TREVANE_LINUX_PID=$$ exec wine "$0"' "$desktop/app/Trevane.exe" \
  >"$build/trevane-stdout.txt" 2>&1 &
trevane=$!
wine "$probe" wait TrevaneMainFrame 60000 >/dev/null || { echo "Trevane's window did not appear" >&2; exit 1; }
# The view posts the server start to itself once it has joined the bus and loaded the theme images.
for _ in $(seq 600); do grep -q '^ZERITH_COMMAND_START_SERVER' "$trace" 2>/dev/null && break; sleep 0.1; done
# One more message round trip: the probe's window query returns after the frame has painted.
wine "$probe" wait TrevaneMainFrame 10000 >/dev/null

if [ -n "$udid" ]; then
  # The device is named once the relay has its basic information; then the user chooses Contacts, the
  # third entry of the section list (30-pixel rows), and the list counts the device's contacts.
  for _ in $(seq 600); do grep -q "^> ZERITH_COMMAND_GET_DEVICE_INFO key=$udid name=" "$trace" && break; sleep 0.1; done
  wine "$probe" click TrevaneMainFrame QuarnelSectionList 40 75 >/dev/null
  for _ in $(seq 600); do wine "$probe" text TrevaneMainFrame QuarnelSectionList | grep -q '(250)' && break; sleep 0.2; done
  for _ in $(seq 600); do [ "$(wine "$probe" rows TrevaneMainFrame SysListView32)" = 250 ] && break; sleep 0.2; done
fi

shot="$build/screenshots/trevane-run.png"
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
echo "$shot"

wine "$probe" close TrevaneMainFrame >/dev/null || true
wait "$trevane" || true
[ -n "${TREVANE_KEEP_TRACE:-}" ] && cp "$trace" "$TREVANE_KEEP_TRACE"
rm -f "$trace"
