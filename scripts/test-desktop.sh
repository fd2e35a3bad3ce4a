#!/usr/bin/env bash
# Builds the desktop tree on its own and runs its Wine tests (the native unit tests of the host logic run
# with the native build: cmake/desktop.cmake). Usage: scripts/test-desktop.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-gui}")
. "$root/scripts/desktop-target.sh"
cmake -S "$root/gui" -B "$build/desktop" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TRV_TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DTRV_WINEPREFIX="$build/wineprefix" -DTRV_WERROR=ON
cmake --build "$build/desktop"
"$root/tests/gui/wine_prefix.sh" "$build/wineprefix" init
status=0
ctest --test-dir "$build/desktop" --output-on-failure || status=$?
"$root/tests/gui/wine_prefix.sh" "$build/wineprefix" stop
exit $status
