# Toolchain of the desktop tree: 32-bit Windows with MinGW-w64, the target the desktop ships for.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TRV_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
