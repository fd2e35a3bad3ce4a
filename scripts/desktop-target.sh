#!/usr/bin/env bash
# Prints the Windows target the desktop tree is built for on this machine: "i686" (the shipped 32-bit
# build) when the kernel executes 32-bit programs, so that 32-bit Wine can start, else "x86_64", whose
# programs run under 64-bit Wine through scripts/wine64/wine.
# Sourced, it also sets TRV_TARGET_ARCH, TRV_TOOLCHAIN and, for x86_64, puts that `wine` first on PATH.
_trv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if "${TRV_WINE32_LOADER:-/usr/lib/wine/wine}" --version >/dev/null 2>&1; then
  TRV_TARGET_ARCH=i686
else
  TRV_TARGET_ARCH=x86_64
fi
TRV_TOOLCHAIN=$_trv_root/cmake/mingw-$TRV_TARGET_ARCH.cmake
if [ "$TRV_TARGET_ARCH" = x86_64 ]; then
  case ":$PATH:" in *":$_trv_root/scripts/wine64:"*) ;; *) export PATH="$_trv_root/scripts/wine64:$PATH" ;; esac
fi
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  echo "$TRV_TARGET_ARCH"
fi
