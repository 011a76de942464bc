// The application object: title, icon, task-bar entry, forms, message loop, termination and the
// default error report. One per process; everything runs on the thread that created it.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace atua::app {

class TForm;

class TApplication {
public:
    // Creates the task-bar entry (hidden; it shows the executable's file name until the title is
    // set) and loads the icon "MAINICON". Only one may exist at a time.
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The start-up hooks: COM on this thread, apartment model, released with the application.
    void Initialize();

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title);
    HWND Handle() const { return handle_; }
    HICON Icon() const { return icon_; }

    // Creates a form owned by the application; the first one becomes the main form.
    template <class Form>
    void CreateForm(Form*& reference) {
        auto form = std::make_unique<Form>(*this);
        reference = form.get();
        AddForm(std::move(form), [&reference] { reference = nullptr; });
    }
    TForm* MainForm() const { return mainForm_; }

    // Shows the main form as the show state asks (3 maximised, 7 minimised on the task bar,
    // anything else normal) and runs the message loop until the quit message arrives.
    void Run(int showCmd);
    // Asks the loop to end: posts the quit message and returns at once.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Waits for one message and processes it; the quit message sets Terminated().
    void HandleMessage();
    // Processes the messages already queued; returns false once the quit message was taken.
    bool ProcessMessages();
    // Called by nested loops that took the quit message from the queue.
    void QuitReceived() { terminated_ = true; }

    // The default error report: an EAbort is dropped; anything else is shown in the system's
    // message box with the title as caption. Never throws.
    void HandleException(std::exception_ptr error) noexcept;

    void Minimize();
    void Restore();

private:
    void AddForm(std::unique_ptr<TForm> form, std::function<void()> clearReference);
    // Close in the task-bar entry's menu.
    void CloseMainForm();
    void Dispatch(MSG& msg);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);

    std::string title_;
    HWND handle_ = nullptr;
    HICON icon_ = nullptr;
    bool comInitialized_ = false;
    bool terminated_ = false;
    bool mainShownOnRestore_ = false;
    TForm* mainForm_ = nullptr;
    std::vector<std::unique_ptr<TForm>> forms_;
    std::vector<std::function<void()>> clearReferences_;
    std::vector<HWND> hiddenByMinimize_;
};

// The one application object; throws when there is none.
TApplication& Application();

// The default error report's text: the message, with "." appended when it is not empty and its
// last byte is greater than "." (so "abc" and "x:" get one; "abc.", "ok!", "(x)" and "a " don't).
std::string ErrorReportText(std::string_view message);

// Sends the exception to the application's default error report (dropped when there is no
// application any more). Never throws.
void ReportException(std::exception_ptr error) noexcept;

// Runs f; an exception that leaves it goes to the default error report and `fallback` is
// returned. For every window and dialog procedure: no C++ exception may cross a Win32 callback.
template <class R, class F>
R Guarded(R fallback, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        ReportException(std::current_exception());
        return fallback;
    }
}

template <class F>
void GuardedCall(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        ReportException(std::current_exception());
    }
}

// While alive, every visible and enabled top-level window of the program, the task-bar entry
// included, is disabled; afterwards they are enabled again and the window that was active before,
// with its focus, is activated again.
class ModalScope {
public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;
    // Enables the windows now (before the modal window goes away, so activation can return).
    void EnableWindows();

private:
    std::vector<HWND> disabled_;
    HWND active_ = nullptr;
    HWND focus_ = nullptr;
};

}  // namespace atua::app
