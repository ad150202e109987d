# Release archives made by CPack: on Windows a zip per architecture with
# ostrel.exe (installed by src/cli), the README and the licence side by side;
# elsewhere a tarball with the same files in their usual places.
include(GNUInstallDirs)

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
endif()

set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the ostrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Reports the pixel width, height and byte size of JPEG files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME ostrel-${PROJECT_VERSION}-${package_system})
set(CPACK_STRIP_FILES TRUE)
include(CPack)
