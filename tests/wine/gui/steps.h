// In-process helpers: steps that run from inside whatever message loop is running at the time
// (the program's loop, a dialog's, the error report's), so a test can answer a modal dialog that
// the code under test opens and waits for.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace atua::gui {

class Steps {
public:
    // A step returns true once it has done its work; the next one starts on a later tick. When
    // the steps have not finished after timeoutMs, every dialog of the thread is closed and the
    // quit message posted, so the test fails instead of hanging.
    explicit Steps(DWORD timeoutMs = 10000);
    ~Steps();
    Steps(const Steps&) = delete;
    Steps& operator=(const Steps&) = delete;

    Steps& Then(std::function<bool()> step);
    bool Done() const { return next_ == steps_.size(); }
    bool TimedOut() const { return timedOut_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Run();

    std::vector<std::function<bool()>> steps_;
    size_t next_ = 0;
    bool timedOut_ = false;
    bool running_ = false;
    DWORD deadline_;
    UINT_PTR timer_ = 0;
};

// A visible dialog window (class #32770) of this thread with that caption, or null.
HWND ThreadDialog(std::wstring_view caption);
// Any visible dialog window of this thread, or null.
HWND AnyThreadDialog();

// Counts the top-level windows created on this thread while it lives.
class WindowCreations {
public:
    WindowCreations();
    ~WindowCreations();
    int Count() const { return count_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_;
    int count_ = 0;
};

// The program's Windows-1252 text as the rich edit returns it: paragraphs ended by "\r" or "\r\n".
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace atua::gui
