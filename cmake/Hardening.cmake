# Release builds for ELF systems get the hardening of Debian's own packages:
# checked buffer functions, stack protection, and relocations resolved at
# start and then made read-only. A packager's CPPFLAGS, CXXFLAGS and LDFLAGS
# stay in charge: an option they already set, either way, is not added.
if(WIN32 OR APPLE OR
   (NOT CMAKE_CONFIGURATION_TYPES AND NOT CMAKE_BUILD_TYPE STREQUAL "Release"))
  return()
endif()

set(ostrel_compile_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_RELEASE}")
set(ostrel_link_flags
    "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_RELEASE}")

# Some compilers (Ubuntu's gcc) define _FORTIFY_SOURCE themselves when
# optimising; defining it again would only warn.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "${ostrel_compile_flags} -O2")
check_cxx_source_compiles(
  "#ifdef _FORTIFY_SOURCE\n#error fortified\n#endif\nint main() {}"
  OSTREL_COMPILER_LEAVES_FORTIFY)
unset(CMAKE_REQUIRED_FLAGS)
if(OSTREL_COMPILER_LEAVES_FORTIFY AND
   NOT ostrel_compile_flags MATCHES "_FORTIFY_SOURCE")
  add_compile_definitions($<$<CONFIG:Release>:_FORTIFY_SOURCE=2>)
endif()
if(NOT ostrel_compile_flags MATCHES "-f(no-)?stack-protector")
  add_compile_options($<$<CONFIG:Release>:-fstack-protector-strong>)
endif()
if(NOT ostrel_link_flags MATCHES "relro")
  add_link_options($<$<CONFIG:Release>:LINKER:-z,relro>)
endif()
if(NOT ostrel_link_flags MATCHES "z,? ?(now|lazy)")
  add_link_options($<$<CONFIG:Release>:LINKER:-z,now>)
endif()
