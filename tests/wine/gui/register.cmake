# The shell's and main window's tests under Wine (built in the Windows tree, see CMakeLists.txt).
# They take the keyboard focus of the shared display, hence the lock.
foreach(suite ErrorReportText StartupFailureText Shell Resources StartUp MainWindow)
  atua_add_wine_test(NAME gui.${suite}
    COMMAND tests/wine/gui/gui_shell_tests.exe --gtest_filter=${suite}.*
    RESOURCE_LOCK desktop LABELS gui TIMEOUT 180)
endforeach()
atua_add_wine_test(NAME gui.Program COMMAND tests/wine/gui/gui_program_tests.exe
  RESOURCE_LOCK desktop movimento LABELS gui TIMEOUT 180)
