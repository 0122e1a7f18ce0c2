# The hardening that Debian builds its packages with (dpkg-buildflags with
# hardening=+all, and the stack clash protection that its later releases
# add): fortified C library calls, a stack protector, no printf-style call
# whose format is a variable without arguments, and on ELF systems stack
# clash protection, a position independent executable and relocations made
# read-only and bound at start.
# It is on in every build but the sanitizer and fuzzer ones, whose own
# checks of the same calls it would get in the way of.
option(KELTO_HARDENING "Build with Debian's hardening flags" ON)

if(KELTO_HARDENING)
  # _FORTIFY_SOURCE works through the optimizer; without one (Debug) the C
  # library would only warn about it. Its checks never define NDEBUG, so the
  # tool's assertions stay active.
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  # -Wall already has -Wformat.
  add_compile_options(-fstack-protector-strong -Werror=format-security)
  if(WIN32)
    # MinGW's fortified calls live in libssp, linked last. The stack
    # protector's guard and the checks' failures come from the tool's own
    # small file, which every target after this one links, rather than from
    # libssp, whose setup loads the CryptoAPI. Windows probes every page of
    # a frame larger than a page itself (___chkstk_ms), which is what stack
    # clash protection adds elsewhere; a 32-bit PE has no high-entropy
    # address space to ask for.
    add_library(kelto_stack_guard STATIC ${PROJECT_SOURCE_DIR}/src/stack_guard_win32.cpp)
    target_compile_options(kelto_stack_guard PRIVATE -fno-stack-protector)
    link_libraries(kelto_stack_guard)
    string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lssp")
    add_link_options(-Wl,--dynamicbase,--nxcompat)
  else()
    add_compile_options(-fstack-clash-protection -fPIE)
    add_link_options(-pie -Wl,-z,relro,-z,now)
  endif()
endif()
