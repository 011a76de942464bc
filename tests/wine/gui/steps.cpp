#include "tests/wine/gui/steps.h"

#include "app/enum_windows.h"
#include "tests/wine/gui/driver.h"

namespace atua::gui {

using app::ForEachThreadWindow;

namespace {
// The one Steps and WindowCreations of a test (tests only: the timer and hook callbacks have
// no other way back to their object).
Steps* gSteps = nullptr;
WindowCreations* gCreations = nullptr;

}  // namespace

Steps::Steps(DWORD timeoutMs) : deadline_(GetTickCount() + timeoutMs) {
    gSteps = this;
    timer_ = SetTimer(nullptr, 0, 30, Tick);
}

Steps::~Steps() {
    KillTimer(nullptr, timer_);
    gSteps = nullptr;
}

Steps& Steps::Then(std::function<bool()> step) {
    steps_.push_back(std::move(step));
    return *this;
}

void CALLBACK Steps::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (gSteps) gSteps->Run();
}

void Steps::Run() {
    // A step may open a modal loop of its own, where this timer fires again.
    if (running_ || Done()) return;
    if (static_cast<LONG>(GetTickCount() - deadline_) > 0) {
        if (!timedOut_) {
            timedOut_ = true;
            ForEachThreadWindow([](HWND w) {
                if (ClassName(w) == kDialogClass) PostMessageW(w, WM_CLOSE, 0, 0);
                return true;
            });
            PostQuitMessage(0);
        }
        return;
    }
    running_ = true;
    if (steps_[next_]()) ++next_;
    running_ = false;
}

HWND ThreadDialog(std::wstring_view caption) {
    HWND found = nullptr;
    ForEachThreadWindow([&](HWND w) {
        if (IsWindowVisible(w) && ClassName(w) == kDialogClass && Text(w) == caption) found = w;
        return found == nullptr;
    });
    return found;
}

HWND AnyThreadDialog() {
    HWND found = nullptr;
    ForEachThreadWindow([&](HWND w) {
        if (IsWindowVisible(w) && ClassName(w) == kDialogClass) found = w;
        return found == nullptr;
    });
    return found;
}

WindowCreations::WindowCreations() {
    gCreations = this;
    hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

WindowCreations::~WindowCreations() {
    UnhookWindowsHookEx(hook_);
    gCreations = nullptr;
}

LRESULT CALLBACK WindowCreations::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && gCreations) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
        if (!(create->lpcs->style & WS_CHILD)) ++gCreations->count_;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace atua::gui
