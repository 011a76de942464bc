// The report's progress window: shown while a sheet is produced. The sheet has no rows to
// count, so its bar stays at 0 and its status line stays empty; its Cancel button is there but
// stops nothing.
#pragma once

#include <windows.h>

namespace atua::report {

class ProgressWindow {
public:
    // Opens the window centred on the screen, above other windows, not modal. A window that
    // cannot be created leaves the sheet printing without it.
    ProgressWindow();
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Dispatches the messages waiting on this thread, so the windows paint while the sheet is
// produced. Keyboard and mouse input reaches only the progress window (null: none): a click on
// the main window now would run its handler inside the print command, so it is dropped, as a
// disabled window would drop it. A quit message is put back for the message loop.
void PumpPendingMessages(HWND progress);

}  // namespace atua::report
