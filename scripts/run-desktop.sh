#!/usr/bin/env bash
# Builds the desktop tree (Trevane and its modules) for 32-bit Windows, or for 64-bit Windows on a machine
# that cannot execute 32-bit programs (it says which), and starts Trevane under Wine: on a virtual display
# when there is none, else on $DISPLAY. It waits until the main window is up and has joined the relay
# module, takes a screenshot (screenshots/trevane-desktop.png in the build folder; with --service, the main
# job's screenshots/trevane-run.png), prints its path, closes Trevane and stops Wine; with --keep-open it
# leaves Trevane open for use until its window is closed or Ctrl-C is pressed.
# With --service <native build folder> (where Harlix and the simulated device library are built) the relay
# module starts Harlix, one simulated iPhone that carries every kind of data (250 contacts among them) is
# attached, the simulated PC holds one earlier backup of it and serves the product update at the address
# that "url:update" of the app's Option.json names (a feed with a newer version and an installer stand-in that
# notes when it ran), and the screenshot shows its contacts page once the section list counts them.
# Usage: scripts/run-desktop.sh [build-folder] [--service native-build-folder] [--keep-open]
#        (default build folder: build-gui)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=""
native=""
keep_open=""
while [ $# -gt 0 ]; do
  case "$1" in
    --service) native=$(realpath -m "${2:?the native build folder}"); shift 2 ;;
    --keep-open) keep_open=1; shift ;;
    -*) echo "run-desktop: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(realpath -m "${build:-$root/build-gui}")
desktop=$build/desktop
prefix=$build/wineprefix
say() { echo "run-desktop: $*" >&2; }
# Fails loudly when a wait runs out instead of going on as if it had succeeded.
wait_for() {
  local what=$1 tries=$2 pause=$3; shift 3
  for _ in $(seq "$tries"); do "$@" && return 0; sleep "$pause"; done
  say "gave up waiting for $what"
  exit 1
}

. "$root/scripts/desktop-target.sh"
if [ "$TRV_TARGET_ARCH" = i686 ]; then
  say "building the desktop host for 32-bit Windows (the first build takes a few minutes)"
else
  say "building the desktop host for 64-bit Windows, as this machine cannot execute 32-bit programs" \
    "(the first build takes a few minutes)"
fi
cmake -S "$root/gui" -B "$desktop" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TRV_TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DTRV_WINEPREFIX="$prefix" >/dev/null
cmake --build "$desktop" --target trevane_app winprobe >/dev/null
# Every module the host's tables name must be in the plug-in folder, or sections would stay empty unseen.
python3 "$root/scripts/desktop_modules.py" --app "$desktop/app" >/dev/null
say "preparing the Wine prefix (the first time takes a minute)"
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
  update_feed=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["url"].get("update", ""))' \
    "$desktop/app/Option.json")
  python3 "$root/tools/hlx_lab.py" --support "$native/programfiles/Common Files/Apple/Mobile Device Support" \
    --lab "$lab/pc" --attach-demo --contacts 250 ${update_feed:+--update-feed "$update_feed"} >"$lab/environment" &
  labpid=$!
  say "starting a simulated PC with one iPhone of 250 contacts, songs, videos, photos, books and more"
  wait_for "the simulated PC" 300 0.1 grep -q '^# attached' "$lab/environment"
  if [ -n "$update_feed" ]; then
    wait_for "the update feed" 100 0.1 grep -q '^# update feed' "$lab/environment"
    if grep -q '^# update feed not served' "$lab/environment"; then
      say "$(sed -n 's/^# //p' "$lab/environment" | grep '^update feed not served')"
    else
      say "the simulated PC serves the product update at $update_feed (Trevane's \"Check for updates\")"
    fi
  fi
  eval "$(grep '^export ' "$lab/environment")"
  udid=$(sed -n 's/^# attached //p' "$lab/environment")
  export TREVANE_HARLIX="$native/src/Harlix"
  # The PC's own backups live in its configuration folder; the service makes one there now, so that the
  # backup manager lists an earlier backup of the iPhone.
  export XDG_CONFIG_HOME=$lab/config
  say "making a backup of the iPhone on the simulated PC"
  python3 "$root/tools/hlx_peer.py" send --harlix "$TREVANE_HARLIX" --code 1600 --json "{\"uuid\":\"$udid\"}" \
    --data '{}' --wait 300 >"$lab/backup.txt" 2>&1 || { cat "$lab/backup.txt" >&2; say "the backup failed"; exit 1; }
fi

trace=$(mktemp --suffix=.txt)
probe="$desktop/tests/gui/bin/winprobe.exe"
# The relay module's service mode (TREVANE_HARLIX in the environment) hands the device service the Linux pid
# of the desktop, which is the pid of the shell that becomes Wine.
TREVANE_RELAY_TRACE="Z:${trace//\//\\}" sh -c 'TREVANE_LINUX_PID=$$ exec wine "$0"' "$desktop/app/Trevane.exe" \
  >"$build/trevane-stdout.txt" 2>&1 &
trevane=$!
say "starting Trevane under Wine"
wine "$probe" wait TrevaneMainFrame 60000 >/dev/null || { say "Trevane's window did not appear"; exit 1; }
# The view posts the server start to itself once it has joined the bus and loaded the theme images.
wait_for "the relay's server start" 600 0.1 grep -q '^ZERITH_COMMAND_START_SERVER' "$trace"
# One more message round trip: the probe's window query returns after the frame has painted.
wine "$probe" wait TrevaneMainFrame 10000 >/dev/null

if [ -n "$udid" ]; then
  # The device is named once the relay has its basic information; then the user chooses Contacts, the
  # third entry of the section list (30-pixel rows), and the list counts the device's contacts.
  say "waiting for the iPhone's name, then opening its contacts"
  wait_for "the device's name" 600 0.1 grep -q "^> ZERITH_COMMAND_GET_DEVICE_INFO key=$udid name=" "$trace"
  wine "$probe" click TrevaneMainFrame QuarnelSectionList 40 75 >/dev/null
  section_counts() { wine "$probe" text TrevaneMainFrame QuarnelSectionList | grep -q '(250)'; }
  # The Wine console ends the probe's lines with "\r\n".
  list_rows() { [ "$(wine "$probe" rows TrevaneMainFrame SysListView32 | tr -d '\r')" = 250 ]; }
  wait_for "the section list to count 250 contacts" 600 0.2 section_counts
  wait_for "the contacts page to list 250 rows" 600 0.2 list_rows
fi

# The main job's screenshot (with the service) is not overwritten by a run of the desktop alone.
shot="$build/screenshots/trevane-desktop.png"
[ -n "$udid" ] && shot="$build/screenshots/trevane-run.png"
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
echo "$shot"

if [ -n "$keep_open" ]; then
  say "Trevane stays open on display $DISPLAY${xvfb:+ (a virtual display)}: close its window or press Ctrl-C to end"
  trap 'wine "$probe" close TrevaneMainFrame >/dev/null 2>&1 || true' INT
  wait "$trevane" || true
  trap - INT
else
  wine "$probe" close TrevaneMainFrame >/dev/null || true
fi
wait "$trevane" || true
if [ -n "$lab" ] && [ -s "$lab/pc/installer-ran.txt" ]; then say "$(tr -d '\r' <"$lab/pc/installer-ran.txt")"; fi
[ -n "${TREVANE_KEEP_TRACE:-}" ] && cp "$trace" "$TREVANE_KEEP_TRACE"
rm -f "$trace"
