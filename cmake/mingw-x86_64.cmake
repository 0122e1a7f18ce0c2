# The Windows build as a 64-bit program, with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-x86-64-posix), for the tests alone: kelto.exe ships
# as a 32-bit program (mingw-i686.cmake, whose notes hold here too), and this
# build runs the same suites on a machine that cannot start 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine script takes the 32-bit loader whenever it is installed;
# this build needs the 64-bit one.
find_program(KELTO_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(KELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELTO_WINE})
endif()
