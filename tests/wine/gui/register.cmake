# The shell's and main window's tests under Wine (built in the Windows tree, see CMakeLists.txt).
# They need the keyboard focus: each runs on a display of its own (an empty DISPLAY makes
# with-display.sh start one), and the lock keeps two of them out of one Wine desktop at a time.
#
# Without a window manager on the test display, Wine waits two seconds for every managed window
# it hides, and a maximised managed window waits for a manager that never comes. The in-process
# tests' windows need none: a setting for that one executable (not for AtuaTarvo.exe, which is
# tested as it is) makes them unmanaged.
add_test(NAME gui.setup COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-run.sh reg add
  "HKCU\\Software\\Wine\\AppDefaults\\gui_shell_tests.exe\\X11 Driver" /v Managed /d N /f)
set_tests_properties(gui.setup PROPERTIES FIXTURES_SETUP gui-unmanaged LABELS "wine;gui" TIMEOUT 120)

foreach(suite ErrorReportText StartupFailureText Shell Resources StartUp MainWindow)
  atua_add_wine_test(NAME gui.${suite}
    COMMAND tests/wine/gui/gui_shell_tests.exe --gtest_filter=${suite}.*
    RESOURCE_LOCK desktop LABELS gui TIMEOUT 180)
  set_tests_properties(gui.${suite} PROPERTIES FIXTURES_REQUIRED gui-unmanaged ENVIRONMENT "DISPLAY=")
endforeach()
atua_add_wine_test(NAME gui.Program COMMAND tests/wine/gui/gui_program_tests.exe
  RESOURCE_LOCK desktop movimento LABELS gui TIMEOUT 180)
set_tests_properties(gui.Program PROPERTIES ENVIRONMENT "DISPLAY=")

# The same window at 120 pixels per inch: no position, size or font height changes.
add_test(NAME gui.MainWindowAt120dpi
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/run_at_density.sh ${CMAKE_BINARY_DIR}/gui-dpi-wineprefix 120
    ${ATUA_WIN64_DIR}/tests/wine/gui/gui_shell_tests.exe)
set_tests_properties(gui.MainWindowAt120dpi PROPERTIES LABELS "wine;gui" RESOURCE_LOCK desktop TIMEOUT 300
  ENVIRONMENT "DISPLAY=")
