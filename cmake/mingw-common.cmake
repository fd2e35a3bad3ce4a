# The part of the desktop tree's toolchain that both Windows targets share; the caller sets
# TRV_MINGW_TRIPLET. The posix-thread variant of the compiler is used because it provides std::mutex and
# std::thread on this target; every deliverable links its C++ runtime statically, and all of them share
# the system C runtime's heap.
set(CMAKE_SYSTEM_NAME Windows)

find_program(TRV_MINGW_CXX NAMES ${TRV_MINGW_TRIPLET}-g++-posix ${TRV_MINGW_TRIPLET}-g++ REQUIRED)
find_program(TRV_MINGW_CC NAMES ${TRV_MINGW_TRIPLET}-gcc-posix ${TRV_MINGW_TRIPLET}-gcc REQUIRED)
set(CMAKE_C_COMPILER ${TRV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${TRV_MINGW_CXX})
set(CMAKE_RC_COMPILER ${TRV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
