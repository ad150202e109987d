# Release packages made by CPack (`make package`): on Windows a zip per
# architecture with ostrel.exe (installed by src/cli), the README and the
# licence side by side; elsewhere a tarball with the same files in their usual
# places and, where dpkg is at hand, a Debian package of them.
include(GNUInstallDirs)

set(OSTREL_PACKAGE_CONTACT "the ostrel developers" CACHE STRING
    "Maintainer named in the packages, as Name <address>")

if(WIN32)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(package_system windows-i686)
  else()
    set(package_system windows-x86_64)
  endif()
else()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} package_system)
  # Without dpkg CPack cannot tell the package architecture.
  find_program(OSTREL_DPKG dpkg)
  mark_as_advanced(OSTREL_DPKG)
  if(OSTREL_DPKG)
    list(APPEND CPACK_GENERATOR DEB)
  endif()
endif()

set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the ostrel developers")
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

# Written out rather than found by dpkg-shlibdeps, which would need dpkg-dev
# and `file` on the build machine; what it reports on Debian 12.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
