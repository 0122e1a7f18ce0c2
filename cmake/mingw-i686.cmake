# Cross build of the 32-bit Windows console program with Debian's MinGW-w64
# compilers (package g++-mingw-w64-i686-posix). kelto.exe is linked
# statically, so it needs no DLL beside it; ctest runs the Windows test
# programs under Wine.
set(KELTO_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# The scanners look at sixteen bytes at a time with SSE2, which every x86
# processor since 2004 has and Windows 8 and later require; the i686
# target does not assume it by itself.
set(CMAKE_CXX_FLAGS_INIT "-msse2")

# kelto.exe itself builds without Wine; only running the tests needs it.
find_program(KELTO_WINE wine)
if(KELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELTO_WINE})
endif()
