# Toolchain of the desktop tree: 32-bit Windows with MinGW-w64. The posix-thread variant of the compiler is
# used because it provides std::mutex and std::thread on this target; every deliverable links its C++
# runtime statically, and all of them share the system C runtime's heap.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

find_program(TRV_MINGW_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++ REQUIRED)
find_program(TRV_MINGW_CC NAMES i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc REQUIRED)
set(CMAKE_C_COMPILER ${TRV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${TRV_MINGW_CXX})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
