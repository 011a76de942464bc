# atua_add_unit_test(target source... [LIBS libs...])
# A native GoogleTest executable, registered as one CTest test per test case. In the plain native
# tree it is registered a second time, as asan.<target>, running the sanitizer build's binary.
function(atua_add_unit_test target)
  cmake_parse_arguments(U "" "" "LIBS" ${ARGN})
  add_executable(${target} ${U_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${U_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    ATUA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ATUA_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/../shared/paradox-samples")
  # Named parameters: the test names carry the case names, not the parameters' bytes.
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
  if(ATUA_ASAN_DIR AND NOT ATUA_SANITIZE)
    file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    add_test(NAME asan.${target} COMMAND ${ATUA_ASAN_DIR}/${rel}/${target})
    set_tests_properties(asan.${target} PROPERTIES LABELS asan TIMEOUT 900)
  endif()
endfunction()
