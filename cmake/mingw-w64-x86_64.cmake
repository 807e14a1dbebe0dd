# SPDX-License-Identifier: MIT
# Cross-building 64-bit Windows programs with Debian's mingw-w64, thread
# model POSIX (std::thread, std::mutex and GoogleTest need it):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# scripts/test-windows does this and runs the tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VX_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VX_MINGW_TRIPLE}-windres)

# The target's libraries, and any prefix given on the command line (an
# installed component, for one).
set(CMAKE_FIND_ROOT_PATH /usr/${VX_MINGW_TRIPLE} ${CMAKE_FIND_ROOT_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthread) goes into each
# program: it then runs on any Windows, and under Wine, without DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
