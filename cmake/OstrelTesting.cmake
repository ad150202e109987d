# ostrel_add_test(NAME SOURCES src... LIBS lib...): one GoogleTest binary,
# its cases registered with CTest.
function(ostrel_add_test name)
  if(NOT OSTREL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()
