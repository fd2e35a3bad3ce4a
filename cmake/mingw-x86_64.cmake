# Toolchain of the desktop tree for 64-bit Windows. Used only to build and run the desktop tests on a
# machine whose kernel cannot execute 32-bit programs, where 32-bit Wine cannot start: the same sources
# then run under 64-bit Wine (scripts/desktop-target.sh decides).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRV_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
