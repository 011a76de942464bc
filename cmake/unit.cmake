# atua_add_unit_test(target source... [LIBS libs...])
# A native GoogleTest executable, registered as one CTest test per test case. In the plain native
# tree it is registered a second time, as asan.<target>, running the sanitizer build's binary.
# In the 32-bit tree its cases are named i386.<case> and run under the emulator of that tree
# (CMAKE_CROSSCOMPILING_EMULATOR), also when they are listed.
function(atua_add_unit_test target)
  cmake_parse_arguments(U "" "" "LIBS" ${ARGN})
  add_executable(${target} ${U_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${U_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    ATUA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ATUA_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/../shared/paradox-samples")
  set(prefix "")
  set(timeout "")
  if(ATUA_32BIT)
    set(prefix i386.)
    set(timeout PROPERTIES TIMEOUT 900 LABELS i386)
  endif()
  # Named parameters: the test names carry the case names, not the parameters' bytes.
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES TEST_PREFIX "${prefix}" ${timeout})
  if(ATUA_ASAN_DIR AND NOT ATUA_SANITIZE AND NOT ATUA_32BIT)
    file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    add_test(NAME asan.${target} COMMAND ${ATUA_ASAN_DIR}/${rel}/${target})
    set_tests_properties(asan.${target} PROPERTIES LABELS asan TIMEOUT 900)
  endif()
endfunction()

# atua_include_tree_tests(dir what)
# Makes one CTest run of this tree also run every test of the build tree at `dir` (under that
# tree's own names, emulator and properties). A tree that is not there is a failing test.
function(atua_include_tree_tests dir what)
  set(script ${CMAKE_BINARY_DIR}/include-${what}-tests.cmake)
  file(WRITE ${script}
"if(EXISTS \"${dir}/CTestTestfile.cmake\")
  subdirs(\"${dir}\")
else()
  add_test(${what}.tree-missing /bin/sh -c \"echo 'the ${what} build tree ${dir} is not built (make ${what})'; exit 1\")
endif()
")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
