#include "report/progress_win32.h"

#include <commctrl.h>

namespace atua::report {

namespace {

constexpr wchar_t kClassName[] = L"AtuaReportProgress";
constexpr int kClientWidth = 300;
constexpr int kClientHeight = 100;
constexpr int kCancelId = IDCANCEL;

// Cancel and the close box are accepted and ignored: the sheet is one page and is always
// printed whole. Nothing here can throw.
LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kCancelId) return 0;
        break;
    case WM_CLOSE:
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterProgressClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ProgressProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
           int id, HINSTANCE instance) {
    HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return child;
}

}  // namespace

ProgressWindow::ProgressWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    if (!RegisterProgressClass(instance)) return;

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    window_ = CreateWindowExW(exStyle, kClassName, L"Printing progress", style, x, y, w, h, GetActiveWindow(),
                              nullptr, instance, nullptr);
    if (!window_) return;

    HWND bar = Child(window_, PROGRESS_CLASSW, L"", 0, 12, 12, kClientWidth - 24, 18, 1, instance);
    if (bar) {
        SendMessageW(bar, PBM_SETRANGE32, 0, 100);
        SendMessageW(bar, PBM_SETPOS, 0, 0);
    }
    Child(window_, L"STATIC", L"", SS_LEFT, 12, 38, kClientWidth - 24, 16, 2, instance);
    Child(window_, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, (kClientWidth - 75) / 2, 64, 75, 25,
          kCancelId, instance);
    ShowWindow(window_, SW_SHOWNA);
    UpdateWindow(window_);
    PumpPendingMessages(window_);
}

ProgressWindow::~ProgressWindow() {
    if (window_) DestroyWindow(window_);
}

namespace {

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_NCMOUSEHOVER ||
           message == WM_NCMOUSELEAVE || message == WM_MOUSEHOVER || message == WM_MOUSELEAVE;
}

}  // namespace

void PumpPendingMessages(HWND progress) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (IsInput(msg.message) && !(progress && (msg.hwnd == progress || IsChild(progress, msg.hwnd)))) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace atua::report
