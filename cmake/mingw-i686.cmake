# Cross build of the 32-bit Windows console program with Debian's MinGW-w64
# compilers (package g++-mingw-w64-i686-posix). kelto.exe is linked
# statically, so it needs no DLL beside it; ctest runs the Windows test
# programs under Wine.
#
# The posix thread model, not win32: GCC 12's win32 model has no std::mutex,
# without which GoogleTest has no death tests on Windows. kelto uses no
# threads; the static link takes in what the runtime needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The scanners look at sixteen bytes at a time with SSE2, which every x86
# processor since 2004 has and Windows 8 and later require; the i686
# target does not assume it by itself.
set(CMAKE_CXX_FLAGS_INIT "-msse2")

# kelto.exe itself builds without Wine; only running the tests needs it.
find_program(KELTO_WINE wine)
if(KELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELTO_WINE})
endif()
