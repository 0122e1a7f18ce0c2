# The Windows build as a 64-bit program (package g++-mingw-w64-x86-64-posix),
# for the tests alone: kelto.exe ships as a 32-bit program (mingw-i686.cmake),
# and this build runs the same suites on a machine that cannot start 32-bit
# programs.
set(KELTO_MINGW x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# Debian's wine script takes the 32-bit loader whenever it is installed;
# this build needs the 64-bit one.
find_program(KELTO_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(KELTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELTO_WINE})
endif()
