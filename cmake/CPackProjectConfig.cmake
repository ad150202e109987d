# Read by cpack once per generator: the Debian package alone also carries
# the lintian overrides (the `debian` install component).
if(CPACK_GENERATOR STREQUAL "DEB")
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS
       "${CPACK_OSTREL_BINARY_DIR};ostrel;debian;/")
endif()
