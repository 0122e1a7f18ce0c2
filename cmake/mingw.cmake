# What the two MinGW-w64 cross builds share: the compilers of the target
# KELTO_MINGW (a GNU triplet, set by the toolchain file that includes this),
# their posix thread model and their root, and a static link.
#
# The posix thread model, not win32: GCC 12's win32 model has no std::mutex,
# without which GoogleTest has no death tests on Windows. kelto uses no
# threads; the static link takes in what the runtime needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KELTO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELTO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KELTO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELTO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
