#!/usr/bin/env bash
# Makes the Wine prefix of the desktop tests once (init) or stops its wineserver (stop).
# Usage: wine_prefix.sh <prefix> init|stop
set -u
prefix=$1
action=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  init)
    mkdir -p "$prefix"
    # One maker at a time: a second caller waits for the first prefix to be complete.
    exec 9>"$prefix.lock"
    flock -w 280 9 || { echo "wine prefix lock not obtained" >&2; exit 1; }
    if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.trv-ready-4" ]; then
      timeout -k 10 240 wine wineboot -i >/dev/null 2>&1
      # The virtual display has no window manager: unmanaged windows spare Wine a two-second wait for
      # one on every hide and destroy.
      timeout -k 10 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      # The pages draw in Arial, which Wine replaces by Liberation Sans; that font has no CJK or symbol
      # glyphs, so device names and notes in those scripts would show as boxes. Link it to fonts that
      # have them, as a Windows system links its interface fonts.
      timeout -k 10 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v 'Liberation Sans' /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei\0Symbola_hint.ttf,Symbola' /f \
        >/dev/null 2>&1
      timeout -k 10 60 wineserver -w
      [ -f "$prefix/system.reg" ] || { echo "wineboot did not make $prefix" >&2; exit 1; }
      # wineboot links the user's Desktop, Documents and other shell folders to the Linux home: the
      # tests' exports and their clean-ups would then write and delete files in the home folder, and
      # two builds' tests would share them. Each link becomes a folder of the prefix's own.
      for link in "$prefix"/drive_c/users/*/*; do
        if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
      done
      touch "$prefix/.trv-ready-4"
    fi
    ;;
  stop)
    wineserver -k 2>/dev/null
    exit 0
    ;;
  *)
    echo "usage: $0 <prefix> init|stop" >&2
    exit 2
    ;;
esac
