#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the normal build (warnings are
# errors), a second build under AddressSanitizer and UndefinedBehaviorSanitizer, and a third of the
# service alone with clang, whose thread-safety analysis checks the annotated locking. Each step says what
# it does, and scripts/narrate.py says what is still at work whenever a step is quiet for 20 seconds
# (a long compile, the Wine scenarios).
set -euo pipefail
cd "$(dirname "$0")/.."

step() { echo "test: $*" >&2; }
narrate() { local label=$1; shift; python3 scripts/narrate.py --label "test: $label: " -- "$@"; }
# CTest lists the tests that skip themselves as "did not run"; each of them does so by design.
skips() {
  step "tests listed as Skipped above are skipped by design: MDEnvironmentRootChild runs only as the child of"
  step "  MDEnvironmentRoot, one text test cannot run under AddressSanitizer, the real-data checks need device data"
  step "  and a desktop date test the time-zone database, where they are not on this machine"
}

step "checking the installed packages (scripts/setup.sh)"
bash scripts/setup.sh
jobs=$(nproc)

step "configuring and building everything in build/ with warnings as errors (the first build takes long)"
narrate "configure" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHLX_WERROR=ON
narrate "build" cmake --build build -j "$jobs"
step "running every test of build/ (C++, Python and the desktop's tests under Wine; some take minutes)"
narrate "tests" ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600
skips

step "configuring and building the sanitizer build in build-asan/"
narrate "sanitizer configure" cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHLX_WERROR=ON -DHLX_SANITIZE=ON
narrate "sanitizer build" cmake --build build-asan -j "$jobs"
step "running the tests of build-asan/ under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  narrate "sanitizer tests" ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900
skips

step "configuring and building the service and its tests with clang in build-clang/ (locking checked, no desktop)"
CC=clang CXX=clang++ narrate "clang configure" \
  cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHLX_WERROR=ON -DHLX_DESKTOP=OFF
narrate "clang build" cmake --build build-clang -j "$jobs"
step "running the compiled tests of build-clang/ (the Python integration tests ran in the builds before)"
narrate "clang tests" ctest --test-dir build-clang -j "$jobs" --output-on-failure --timeout 300 -E '^integration[.]'
skips
step "every test passed"
