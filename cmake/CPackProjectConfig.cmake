# Read by cpack once per generator.

# CPack stamps every file, and each archive's header, with SOURCE_DATE_EPOCH
# where it is set, and with the time of packing otherwise: the release date
# stands in, so that two builds of one release are the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_OSTREL_RELEASE_EPOCH})
endif()
