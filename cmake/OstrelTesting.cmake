# ostrel_add_test(NAME SOURCES src... LIBS lib...): one GoogleTest binary,
# its cases registered with CTest.
function(ostrel_add_test name)
  if(NOT OSTREL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  # A cross-built test lists its cases through the emulator (Wine) when
  # CTest runs it, not at build time.
  if(CMAKE_CROSSCOMPILING)
    set(discovery DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${discovery}
                       PROPERTIES TIMEOUT 300)
endfunction()
