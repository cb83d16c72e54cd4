# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (the posix
# thread model, package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Test programs run under Wine (package wine64) through ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SKARVEL_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SKARVEL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKARVEL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${SKARVEL_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKARVEL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ and thread runtimes are linked in, so a test program runs without
# the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package keeps its loader out of PATH.
find_program(SKARVEL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(SKARVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SKARVEL_WINE})
endif()
