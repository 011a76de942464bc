// The program's start-up: the application object, its title, the forms, the loop, the exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace atua::app {

class TApplication;

// The title of this program (Windows-1252).
const std::string& ApplicationTitle();

// The show state the process was started with (STARTUPINFO), SW_SHOWDEFAULT when none was given.
int StartupShowState();

// Runs the program: initialises the application, sets the title, lets createForms create the
// forms and runs the loop. Returns 0 after a normal end; 1 when start-up failed before the loop,
// after the last-resort box "Application Error" was shown.
int RunProgram(std::string_view title, const std::function<void(TApplication&)>& createForms, int showCmd) noexcept;

// The last-resort box's text: "Exception <class> in module <module> at <offset>.\n<message>",
// with "." after a message that is not empty and does not end in one.
std::string StartupFailureText(std::string_view className, std::string_view module, std::uintptr_t offset,
                               std::string_view message);

}  // namespace atua::app
