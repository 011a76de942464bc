// Presses the sheet's print command in-process, the way the main window's button does, and reports
// what the program showed while printing. The queue side (jobs, pages, text, positions) is checked
// by print_test.sh from the spool.
//
//   sheet_print_probe.exe PRESSES [--forget-default]
//   sheet_print_probe.exe --text      the title and the rich text's lines as the template holds
//                                     them, in UTF-8, one per line, for comparing with the page
//
// --forget-default removes the system's choice of default printer before pressing, leaving the
// installed printers in place: Wine always picks one from CUPS when CUPS names none, so only this
// reaches the state of printers without a default that Windows knows.
//
// Prints one line per finding:
//   press K: ok | press K: <ClassName>: <message>
//   windows-created N      top-level windows of any kind created during the presses
//   progress-created N     windows captioned "Printing progress" created during the presses
//   progress-open-after N  such windows still existing after the presses
//   progress-checked N     times the window was inspected while the sheet was produced
//   reentry-printed N      progress windows created by a press made while a sheet was produced
//   FAIL <what>            a property of the progress window that is wrong
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "report/quickrep.h"
#include "engine/os/cp1252.h"
#include "tests/wine/print/probe_util.h"

namespace {

constexpr wchar_t kProgressCaption[] = L"Printing progress";
constexpr UINT kInspect = WM_APP + 1;

struct Observations {
    int windows = 0;
    int created = 0;
    int checked = 0;
    int reentryCreated = 0;
    int failures = 0;
};

Observations g_seen;  // written by the hook and the helper window of this one-thread probe
atua::report::TQuickRep* g_report = nullptr;
HWND g_main = nullptr;  // stands for the program's main window, active while printing

void Fail(const char* what) {
    std::printf("FAIL %s\n", what);
    ++g_seen.failures;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
        const wchar_t* name = create->lpcs->lpszName;
        if (!(create->lpcs->style & WS_CHILD)) ++g_seen.windows;
        if (!IS_INTRESOURCE(name) && name && std::wstring(name) == kProgressCaption) ++g_seen.created;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

using atua::print_probe::ClassOf;
using atua::print_probe::TextOf;

// Checks the progress window of the sheet being produced, presses its Cancel button, then presses
// the print command again.
void InspectProgress() {
    HWND progress = FindWindowW(nullptr, kProgressCaption);
    if (!progress) {
        Fail("no progress window while the sheet is produced");
        return;
    }
    ++g_seen.checked;
    if (!IsWindowVisible(progress)) Fail("progress window not visible");
    if (!(GetWindowLongW(progress, GWL_EXSTYLE) & WS_EX_TOPMOST)) Fail("progress window not topmost");
    RECT r{};
    GetWindowRect(progress, &r);
    const int dx = (r.left + r.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
    const int dy = (r.top + r.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
    if (std::abs(dx) > 1 || std::abs(dy) > 1) Fail("progress window not centred on the screen");

    HWND bar = nullptr, cancel = nullptr, status = nullptr;
    for (HWND c = GetWindow(progress, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const std::wstring cls = ClassOf(c);
        if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) bar = c;
        else if (_wcsicmp(cls.c_str(), L"Button") == 0) cancel = c;
        else if (_wcsicmp(cls.c_str(), L"Static") == 0) status = c;
    }
    if (!bar) {
        Fail("progress window has no progress bar");
    } else {
        PBRANGE range{};
        SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        if (range.iLow != 0 || range.iHigh != 100) Fail("progress bar range is not 0 to 100");
        if (SendMessageW(bar, PBM_GETPOS, 0, 0) != 0) Fail("progress bar is not at 0");
    }
    if (!status || !TextOf(status).empty()) Fail("status line missing or not empty");
    if (!cancel || TextOf(cancel) != L"Cancel") Fail("no Cancel button");

    if (cancel) SendMessageW(cancel, BM_CLICK, 0, 0);
    if (!IsWindow(progress)) Fail("Cancel closed the progress window");
    if (!IsWindowEnabled(g_main)) Fail("the progress window is modal: the main window is disabled");

    const int before = g_seen.created;
    try {
        g_report->Print();
    } catch (...) {
        Fail("a press while printing threw");
    }
    g_seen.reentryCreated += g_seen.created - before;
}

LRESULT CALLBACK HelperProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kInspect) {
        InspectProgress();
        return 0;
    }
    return DefWindowProcW(w, message, wParam, lParam);
}

HWND CreateHelper() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HelperProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SheetPrintProbe";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

HWND CreateMainWindow() {
    HWND main = CreateWindowW(L"STATIC", L"Sheet print probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(main);
    SetActiveWindow(main);
    return main;
}

void DrainMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

}  // namespace

// The spooler settles its printer list first, then the default goes.
bool LeaveNoDefaultPrinter() {
    DWORD size = 0;
    GetDefaultPrinterW(nullptr, &size);
    if (!atua::print_probe::ForgetDefaultPrinter()) return false;
    size = 0;
    return !GetDefaultPrinterW(nullptr, &size) && size == 0;
}

std::string Utf8(const std::string& cp1252) { return atua::print_probe::Utf8(atua::os::Widen1252(cp1252)); }

int PrintTemplateText() {
    const atua::report::TQuickRep report;
    std::printf("%s\n", Utf8(report.asd.Caption).c_str());
    for (const std::string& line : report.QRRichText1.Lines) std::printf("%s\n", Utf8(line).c_str());
    std::fflush(stdout);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--text") return PrintTemplateText();
    const int presses = argc > 1 ? std::atoi(argv[1]) : 1;
    if (argc > 2 && std::string(argv[2]) == "--forget-default") {
        const bool forgotten = LeaveNoDefaultPrinter();
        std::printf("default-forgotten %s\n", forgotten ? "yes" : "no");
        if (!forgotten) return 1;
    }
    HWND helper = CreateHelper();
    g_main = CreateMainWindow();
    HHOOK hook = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    atua::report::TQuickRep report;
    g_report = &report;

    int exitCode = 0;
    for (int k = 1; k <= presses; ++k) {
        PostMessageW(helper, kInspect, 0, 0);
        try {
            report.Print();
            std::printf("press %d: ok\n", k);
        } catch (const atua::Exception& e) {
            std::printf("press %d: %s: %s\n", k, std::string(e.ClassName()).c_str(), e.Message().c_str());
            exitCode = 2;
        }
        // A press that produced nothing never pumped messages: its inspection is dropped unanswered.
        MSG unanswered;
        while (PeekMessageW(&unanswered, helper, kInspect, kInspect, PM_REMOVE)) {
        }
        DrainMessages();
    }
    int openAfter = 0;
    for (HWND w = FindWindowW(nullptr, kProgressCaption); w; w = FindWindowExW(nullptr, w, nullptr, kProgressCaption))
        ++openAfter;
    std::printf("windows-created %d\nprogress-created %d\nprogress-open-after %d\nprogress-checked %d\nreentry-printed %d\n",
                g_seen.windows, g_seen.created, openAfter, g_seen.checked, g_seen.reentryCreated);
    UnhookWindowsHookEx(hook);
    DestroyWindow(helper);
    DestroyWindow(g_main);
    std::fflush(stdout);
    return exitCode;
}
