# GoogleTest for a cross build: the test programs need it built for the
# target, so it is compiled here from the sources that Debian's googletest
# package installs (no download).
set(KELTO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${KELTO_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${KELTO_GTEST_SOURCE}: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest is not shipped" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "GoogleMock is not used" FORCE)

# Someone else's code: built without the project's warning options, and its
# headers taken as system headers.
get_directory_property(kelto_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${KELTO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${kelto_options}")

# The test programs list their tests under the emulator when ctest starts,
# so building needs no emulator.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
