# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX threads, static runtime), the
# Windows tests run under Wine: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Header-only libraries of the build machine (CLI11, GoogleTest's sources) are found there.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# One .exe without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(PYRELINK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(PYRELINK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PYRELINK_WINE})
endif()
