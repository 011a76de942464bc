# The information sheet printed under Wine through a real CUPS queue. Each test runs a scheduler
# of its own; they share one Wine prefix whose default printer they change, hence the lock.
set(ATUA_PRINT_PREFIX "${CMAKE_BINARY_DIR}/print-wineprefix" CACHE PATH "Wine prefix of the print tests")
foreach(scenario sheet letter no-default rejecting no-printer button button-no-default queued-clicks)
  add_test(NAME print.${scenario}
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/print/print_test.sh ${ATUA_WIN64_DIR} ${scenario})
  set_tests_properties(print.${scenario} PROPERTIES
    LABELS "wine;print" RESOURCE_LOCK cups TIMEOUT 300 SKIP_RETURN_CODE 77
    ENVIRONMENT "ATUA_PRINT_PREFIX=${ATUA_PRINT_PREFIX}")
endforeach()
