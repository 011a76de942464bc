// A driver for the program's windows, for tests that run under Wine (or Windows).
//
// End-to-end use (a test program of its own, linking atua_gui_driver):
//
//     using namespace atua::gui;
//     Program program(ProgramPath(), SW_SHOWNORMAL);            // starts AtuaTarvo.exe
//     HWND main = program.WaitWindow(L"Tfrm_principal");         // its main window, by class
//     Click(FindControl(main, L"Atualizar o Sistema"));          // presses a button (posted)
//     HWND ask = program.WaitWindow(kDialogClass, L"Confirm");   // the confirmation dialog
//     EXPECT_EQ(DialogText(ask), L"O TARVO será atualizado.  Continuar?");
//     Click(FindControl(ask, L"&Yes"));                          // or PressKey(ask, VK_ESCAPE), Close(ask)
//     HWND box = program.WaitWindow(kDialogClass, FromCp1252(title)); // an information box
//     Click(FindControl(box, L"OK"));
//     EXPECT_EQ(program.WaitExit(), 0u);                          // the exit code
//
// Every wait polls until its timeout (10 s unless given) and returns null / nothing on timeout.
// Windows are found among the visible top-level windows of the started process; dialogs, the
// information box and the error report all have the class kDialogClass. Clicks and keys are
// posted, so a button whose handler opens a modal dialog does not block the driver.
// In-process tests use the same helpers on their own windows (Program is only for processes).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace atua::gui {

inline constexpr wchar_t kDialogClass[] = L"#32770";
inline constexpr DWORD kDefaultTimeoutMs = 10000;

class Program {
public:
    // Starts the executable; showCmd goes into STARTUPINFO.wShowWindow, none when negative.
    explicit Program(const std::wstring& exe, int showCmd = -1);
    ~Program();  // ends the process if it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    DWORD Pid() const { return info_.dwProcessId; }
    // Top-level windows of the process (visible ones unless asked otherwise).
    std::vector<HWND> Windows(bool visibleOnly = true) const;
    // The first top-level window of the process with that class (and title, when given).
    HWND WaitWindow(std::wstring_view cls, std::optional<std::wstring_view> title = std::nullopt,
                    DWORD timeoutMs = kDefaultTimeoutMs, bool visibleOnly = true) const;
    // The exit code once the process has ended; nothing on timeout.
    std::optional<DWORD> WaitExit(DWORD timeoutMs = kDefaultTimeoutMs);

private:
    PROCESS_INFORMATION info_{};
};

// The program under test: the path given as --exe=PATH on the test's command line, else
// AtuaTarvo.exe in the build tree next to this test (..\..\..\app\AtuaTarvo.exe).
std::wstring ProgramPath();
void SetProgramPath(std::wstring path);

std::wstring Text(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// The texts of a dialog's static controls that hold text, joined with "\n".
std::wstring DialogText(HWND dialog);
// The captions of a window's buttons, in child order.
std::vector<std::wstring> ButtonCaptions(HWND window);
// A descendant window with that text (a button's caption), or null.
HWND FindControl(HWND parent, std::wstring_view text);
// A descendant window of that class, or null.
HWND FindChildOfClass(HWND parent, std::wstring_view cls);
// The focused window of the thread that owns `window`.
HWND FocusOf(HWND window);

// Presses a button: BM_CLICK, posted.
void Click(HWND button);
// Posts a key press (down and up) to the focused window of `window`'s thread. With alt, the
// system-key form (Alt+F4, Alt+Y).
void PressKey(HWND window, WORD vk, bool alt = false);
// Types a key through the system's input, with Shift held when asked (for Shift+Tab).
void SendKey(WORD vk, bool shift = false);
// Closes a window through its title-bar close button (WM_SYSCOMMAND SC_CLOSE).
void Close(HWND window);

// Polls f until it gives a value or the time is up.
HWND WaitFor(const std::function<HWND()>& f, DWORD timeoutMs = kDefaultTimeoutMs);
bool WaitUntil(const std::function<bool()>& f, DWORD timeoutMs = kDefaultTimeoutMs);

// The program's Windows-1252 texts as UTF-16, for comparisons.
std::wstring FromCp1252(std::string_view text);

}  // namespace atua::gui
