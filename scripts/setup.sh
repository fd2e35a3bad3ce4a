#!/usr/bin/env bash
# Installs everything the build, the tests and the main job need on a Debian machine (run as root).
# Idempotent: packages already present are skipped, so a second run costs a few seconds.
set -euo pipefail

native_packages=(
  build-essential cmake ninja-build pkg-config python3 clang
  libgoogle-glog-dev rapidjson-dev zlib1g-dev libminizip-dev libtinyxml-dev
  libcurl4-openssl-dev libsqlite3-dev libssl-dev libgtest-dev libstb-dev
  sqlite3 unzip zip
)
# The desktop side: the 32-bit Windows cross compiler, Wine to run it, a virtual display and screenshots.
desktop_packages=(
  g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-liberation
)

missing=()
for p in "${native_packages[@]}" "${desktop_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
