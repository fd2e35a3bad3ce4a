#!/usr/bin/env bash
# Installs everything the build, the tests and the main job need on a Debian machine (run as root).
# Idempotent: packages already present are skipped, so a second run costs a few seconds.
#
# The package registry is not always consistent: one index may be mid-sync ("File has unexpected
# size") or the security suite may carry newer amd64 libraries than its lagging i386 index, so that
# the 32-bit Wine packages cannot be installed beside them. The steps below retry the index update,
# go on with a partial index, and fall back to the release's own suite for matching versions of both
# architectures. When nothing works the script says which step failed and what to run.
#
# It says each step in one line; the package manager's own output goes to a log ($SETUP_LOG, by default
# $TMPDIR/setup-packages.log) and is shown only for a call that fails.
#
# APT_GET (default apt-get) and DPKG_QUERY (default dpkg-query) may name stand-ins, so that tests can
# drive these decisions without touching the machine.
set -uo pipefail

APT_GET=${APT_GET:-apt-get}
DPKG_QUERY=${DPKG_QUERY:-dpkg-query}
DPKG=${DPKG:-dpkg}
UPDATE_ATTEMPTS=${SETUP_UPDATE_ATTEMPTS:-3}
RETRY_PAUSE=${SETUP_RETRY_PAUSE:-5}

native_packages=(
  build-essential cmake ninja-build pkg-config python3 clang
  libgoogle-glog-dev rapidjson-dev zlib1g-dev libisal-dev libminizip-dev libtinyxml-dev
  libcurl4-openssl-dev libsqlite3-dev libssl-dev libgtest-dev libstb-dev libjemalloc-dev
  sqlite3 unzip zip
)
# The desktop side: the 32-bit Windows cross compiler, Wine to run it, a virtual display and screenshots;
# and the 64-bit pair, with which the desktop tests run on a machine that cannot execute 32-bit programs.
desktop_packages=(
  g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-liberation
  fonts-wqy-microhei fonts-symbola
  g++-mingw-w64-x86-64 wine64
)

say() { echo "setup: $*" >&2; }

# The package manager writes some 1,600 lines for a full install: they go to this log, and a call that
# fails shows its own lines.
setup_log=${SETUP_LOG:-${TMPDIR:-/tmp}/setup-packages.log}
# Runs one package-manager call with its output in the log; shows that output when the call fails.
logged() {
  local call_start
  call_start=$(wc -l <"$setup_log")
  echo "## $*" >>"$setup_log"
  "$@" >>"$setup_log" 2>&1 && return 0
  local status=$?
  say "this failed: $* (exit $status); its output:"
  tail -n +"$((call_start + 2))" "$setup_log" | sed 's/^/  | /' >&2
  return $status
}

fail() {
  say "FAILED at step: $1"
  [ -s "$setup_log" ] && say "the package manager's whole output is in $setup_log"
  say "to finish by hand, run as root:"
  say "  $2"
  exit 1
}

say "checking the installed packages"
missing=()
for p in "${native_packages[@]}" "${desktop_packages[@]}"; do
  if ! "$DPKG_QUERY" -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  say "every package is installed"
  exit 0
fi
say "installing ${#missing[@]} missing package(s): ${missing[*]}"
: >"$setup_log" || fail "opening the log" "touch $setup_log"
say "the package manager's output goes to $setup_log"

export DEBIAN_FRONTEND=noninteractive
if ! "$DPKG" --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture"
  logged "$DPKG" --add-architecture i386 || fail "adding the i386 architecture" "dpkg --add-architecture i386"
fi

# Step 1: the package index. A failed update usually still leaves every other index fresh; retry a few
# times in case a mirror finishes syncing, then go on with what was fetched.
updated=0
for attempt in $(seq 1 "$UPDATE_ATTEMPTS"); do
  say "updating the package index (attempt $attempt of $UPDATE_ATTEMPTS)"
  if logged "$APT_GET" update -qq; then
    updated=1
    break
  fi
  say "package index update failed (attempt $attempt of $UPDATE_ATTEMPTS)"
  [ "$attempt" -lt "$UPDATE_ATTEMPTS" ] && sleep "$RETRY_PAUSE"
done
if [ "$updated" -eq 0 ]; then
  say "going on with a partial package index"
fi

install_args=(install -y -qq --no-install-recommends)

# Step 2: install from the default suites.
say "installing the packages (a few minutes)"
if logged "$APT_GET" "${install_args[@]}" "${missing[@]}"; then
  say "done"
  exit 0
fi

# Step 3: version skew between the architectures. The release's main suite carries matching versions
# of both, so take the packages from there.
codename=""
if [ -r "${OS_RELEASE:-/etc/os-release}" ]; then
  codename=$(. "${OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
fi
if [ -n "$codename" ]; then
  say "install failed; trying the release's own suite ($codename) for matching versions"
  if logged "$APT_GET" "${install_args[@]}" -t "$codename" "${missing[@]}"; then
    say "done"
    exit 0
  fi
fi

fail "installing packages" \
  "apt-get update; apt-get install -y --no-install-recommends ${codename:+-t $codename }${missing[*]}"
