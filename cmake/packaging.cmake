# Installation and release packages. On Linux `cmake --install` puts kelto in
# bin/ and its manual page in share/man/man1/, and CPack builds a Debian
# package from the same rules; the Windows build installs kelto.exe beside a
# short usage text, and CPack zips the two.

include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME kelto)
set(CPACK_PACKAGE_VENDOR "the kelto developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert line endings of text files between DOS, UNIX and Mac")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS kelto RUNTIME DESTINATION .)
  # Windows readers expect CR LF in a text file.
  configure_file(packaging/usage.txt usage.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/usage.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelto-${PROJECT_VERSION}-win32)
else()
  install(TARGETS kelto RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped installation (the package's, `cmake --install --strip`) also
  # drops the compilers' version notes, as Debian's own packages do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kelto>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")

  # Manual pages and the package's changelog are installed compressed, the
  # way man and Debian expect them; -n keeps the archives reproducible.
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/kelto.1.gz)
  configure_file(packaging/changelog changelog @ONLY)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/docs/kelto.1 > ${man_page}
    DEPENDS docs/kelto.1
    VERBATIM)
  add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${changelog}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
    VERBATIM)
  add_custom_target(kelto_docs ALL DEPENDS ${man_page} ${changelog})
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/copyright ${changelog} README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The kelto developers <kelto@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  # CPack has no variable for Multi-Arch, and writes each field as
  # "NAME: VALUE" on a line of its own, so the field follows the priority's
  # value. foreign: kelto is a program, and serves every architecture alike.
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional\nMulti-Arch: foreign")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary in front as the synopsis line.
  set(CPACK_PACKAGE_DESCRIPTION
"kelto rewrites the line endings of text files in place, between DOS and
Windows (CR LF), UNIX (LF) and Macintosh (CR), and reports which of them
a file holds. Only line endings of the chosen source convention change;
every other byte stays as it is. It expands DOS wildcard patterns itself,
optionally through all subdirectories.")
  # Two builds of one commit give the same bytes: CPack dates the package's
  # files by SOURCE_DATE_EPOCH, which, where it is not set, cpack takes from
  # the time of the last commit when it runs.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack_epoch.cmake)
  file(CONFIGURE OUTPUT cpack_epoch.cmake CONTENT [=[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "@CMAKE_CURRENT_SOURCE_DIR@" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
endif()
]=] @ONLY)
endif()

include(CPack)
