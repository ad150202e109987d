# What is installed besides the program, and the packages made of it by
# CPack (`make package`): on Windows a zip per architecture with ostrel.exe,
# the README, the licence, the changelog and the documents the README links
# to, side by side, as text with CR LF line ends; elsewhere a tarball with
# the program, the man page and the documents in their usual places and,
# where dpkg and dpkg-shlibdeps are at hand, a Debian package of them.

set(OSTREL_PACKAGE_CONTACT
    "ostrel developers <ostrel@users.noreply.github.com>" CACHE STRING
    "Maintainer named in the packages, as Name <address>")

# The latest entry of CHANGELOG.md is this version's, and its date is the
# release date the man page shows: a build never depends on when it runs.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ostrel_entries REGEX "^## ")
list(POP_FRONT ostrel_entries ostrel_latest)
if(NOT ostrel_latest MATCHES "^## ([^ ]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$" OR
   NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md must start with an entry headed "
                      "\"## ${PROJECT_VERSION} (YYYY-MM-DD)\", the version "
                      "in CMakeLists.txt")
endif()
set(OSTREL_RELEASE_DATE ${CMAKE_MATCH_2})

# The same date as seconds since 1970, midnight UTC: the time stamp of every
# file in the packages when SOURCE_DATE_EPOCH does not say otherwise, so
# that two builds of one release are the same bytes. Days from the civil
# date by Howard Hinnant's method, with years starting in March.
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" ignored ${OSTREL_RELEASE_DATE})
math(EXPR year "${CMAKE_MATCH_1}")
math(EXPR month "${CMAKE_MATCH_2} + 0")
math(EXPR day "${CMAKE_MATCH_3} + 0")
if(month LESS_EQUAL 2)
  math(EXPR year "${year} - 1")
  math(EXPR month "${month} + 9")
else()
  math(EXPR month "${month} - 3")
endif()
math(EXPR year_of_era "${year} % 400")
math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
math(EXPR OSTREL_RELEASE_EPOCH
     "((${year} / 400 * 146097 + ${year_of_era} * 365 + ${year_of_era} / 4
       - ${year_of_era} / 100 + ${day_of_year}) - 719468) * 86400")

# Writes a generated file only when its text changes, so that what is made
# from it is not made again on every configure.
function(ostrel_write_file path text)
  if(EXISTS ${path})
    file(READ ${path} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${path} "${text}")
endfunction()

# The README links to these, so they travel with it, under the same names.
set(ostrel_documents README.md docs/DEVELOPING.md docs/PERFORMANCE.md)

if(WIN32)
  # Notepad before Windows 10 shows a text file with LF line ends on one line.
  foreach(name ${ostrel_documents} LICENSE CHANGELOG.md)
    set(source ${PROJECT_SOURCE_DIR}/${name})
    set(target ${PROJECT_BINARY_DIR}/crlf/${name})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    ostrel_write_file(${target} "${text}")
    get_filename_component(folder ${name} DIRECTORY)
    install(FILES ${target} DESTINATION ./${folder})
  endforeach()
  install(FILES docs/peers.png DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(package_system windows-i686)
  else()
    set(package_system windows-x86_64)
  endif()
else()
  # The man page with this version and date, and the Debian form of the
  # changelog, both compressed as Debian wants them (-n: no name or time
  # in the header, so the bytes are the same on every build).
  configure_file(ostrel.1.in ostrel.1 @ONLY)
  find_program(OSTREL_GZIP gzip REQUIRED)
  mark_as_advanced(OSTREL_GZIP)
  add_custom_command(
    OUTPUT changelog
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/CHANGELOG.md
            -DOUTPUT=changelog -DMAINTAINER=${OSTREL_PACKAGE_CONTACT}
            -P ${PROJECT_SOURCE_DIR}/cmake/DebianChangelog.cmake
    DEPENDS CHANGELOG.md cmake/DebianChangelog.cmake VERBATIM)
  foreach(name ostrel.1 changelog)
    add_custom_command(
      OUTPUT ${name}.gz
      COMMAND ${OSTREL_GZIP} -9 -n -c ${name} > ${name}.gz
      DEPENDS ${PROJECT_BINARY_DIR}/${name} VERBATIM)
  endforeach()
  add_custom_target(ostrel_release_files ALL
                    DEPENDS ostrel.1.gz changelog.gz)

  # The licence in Debian's machine-readable form: the notice's paragraphs,
  # each line indented by one space and each blank line a " .".
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ignored "${licence}")
  set(holder ${CMAKE_MATCH_1})
  string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" notice "${licence}")
  string(REGEX REPLACE "\n+$" "" notice "${notice}")
  string(REPLACE "\n\n" "\n.\n" notice "${notice}")
  string(REPLACE "\n" "\n " notice " ${notice}")
  ostrel_write_file(${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${OSTREL_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: Expat
${notice}
")

  install(FILES ${PROJECT_BINARY_DIR}/ostrel.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz
                ${PROJECT_BINARY_DIR}/copyright README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES docs/DEVELOPING.md docs/PERFORMANCE.md docs/peers.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} package_system)
  # Without dpkg CPack cannot tell the package architecture, and without
  # dpkg-shlibdeps (dpkg-dev), which finds the program with `file`, the
  # package's dependencies: CPack would leave them out.
  find_program(OSTREL_DPKG dpkg)
  find_program(OSTREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(OSTREL_FILE file)
  mark_as_advanced(OSTREL_DPKG OSTREL_DPKG_SHLIBDEPS OSTREL_FILE)
  if(OSTREL_DPKG AND OSTREL_DPKG_SHLIBDEPS AND OSTREL_FILE)
    list(APPEND CPACK_GENERATOR DEB)
  elseif(OSTREL_DPKG)
    message(STATUS "No Debian package: it needs dpkg-shlibdeps and file "
                   "(apt-get install dpkg-dev file)")
  endif()
endif()

set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ostrel developers")
set(CPACK_PACKAGE_CONTACT ${OSTREL_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Reports the pixel width, height and byte size of JPEG files")
set(CPACK_PACKAGE_DESCRIPTION
    "ostrel reads only the frame header of each JPEG file it is given, by name,
wildcard, directory or whole tree, and prints its width, height and byte size,
with a summary per argument on request.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME ostrel-${PROJECT_VERSION}-${package_system})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};ostrel;ALL;/")
set(CPACK_OSTREL_BINARY_DIR ${PROJECT_BINARY_DIR})
set(CPACK_OSTREL_RELEASE_EPOCH ${OSTREL_RELEASE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake)

# The libraries the program links, with the versions it needs, as
# dpkg-shlibdeps reads them from the program on the build machine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
