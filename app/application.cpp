#include "app/application.h"

#include <objbase.h>

#include "app/controls.h"
#include "app/enum_windows.h"
#include "engine/os/cp1252.h"
#include "engine/exceptions.h"

namespace atua::app {

namespace {

TApplication* gApplication = nullptr;
constexpr wchar_t kApplicationClass[] = L"TApplication";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// The executable's file name without its extension: the task bar's text until the title is set.
std::string ExecutableName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    if (auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) name.erase(0, slash + 1);
    if (auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
    return os::Narrow1252(name);
}

}  // namespace

TApplication& Application() {
    if (!gApplication) throw Exception("The application object does not exist.");
    return *gApplication;
}

void ReportException(std::exception_ptr error) noexcept {
    if (gApplication) gApplication->HandleException(error);
}

std::string ErrorReportText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
    return text;
}

TApplication::TApplication() : title_(ExecutableName()) {
    if (gApplication) throw Exception("There is an application object already.");
    icon_ = LoadIconW(Instance(), L"MAINICON");
    if (!icon_) icon_ = LoadIconW(nullptr, IDI_APPLICATION);

    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(Instance(), kApplicationClass, &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = Instance();
        wc.hIcon = icon_;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kApplicationClass;
        if (!RegisterClassExW(&wc)) throw Exception("Cannot register the application's window class.");
    }
    // The task-bar entry: a window of no size of its own, the owner of every form.
    handle_ = CreateWindowExW(0, kApplicationClass, os::Widen1252(title_).c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                              nullptr, Instance(), this);
    if (!handle_) throw Exception("Cannot create the application's window.");
    SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // Its window menu offers only Restore, Minimise and Close.
    HMENU menu = GetSystemMenu(handle_, FALSE);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
    gApplication = this;
}

TApplication::~TApplication() {
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it) ShowWindow((*it)->Handle(), SW_HIDE);
    ShowWindow(handle_, SW_HIDE);
    while (!forms_.empty()) forms_.pop_back();
    for (auto& clear : clearReferences_) clear();
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
    if (comInitialized_) CoUninitialize();
    gApplication = nullptr;
}

void TApplication::Initialize() {
    if (!comInitialized_) comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void TApplication::SetTitle(std::string title) {
    title_ = std::move(title);
    SetWindowTextW(handle_, os::Widen1252(title_).c_str());
}

void TApplication::AddForm(std::unique_ptr<TForm> form, std::function<void()> clearReference) {
    if (!mainForm_) mainForm_ = form.get();
    forms_.push_back(std::move(form));
    clearReferences_.push_back(std::move(clearReference));
}

void TApplication::Run(int showCmd) {
    // Without a main form there is nothing to run.
    if (!mainForm_) return;
    switch (showCmd) {
    case SW_SHOWMINNOACTIVE:
        // Minimised on the task bar; the main form appears when the entry is restored.
        mainShownOnRestore_ = true;
        ShowWindow(handle_, SW_SHOWMINNOACTIVE);
        break;
    case SW_SHOWMAXIMIZED:
        ShowWindow(handle_, SW_SHOWNA);
        mainForm_->Show(SW_SHOWMAXIMIZED);
        break;
    default:
        ShowWindow(handle_, SW_SHOWNA);
        mainForm_->Show(SW_SHOWNORMAL);
        break;
    }
    while (!terminated_) HandleMessage();
    for (auto& form : forms_) ShowWindow(form->Handle(), SW_HIDE);
    ShowWindow(handle_, SW_HIDE);
}

void TApplication::Terminate() {
    // There are no termination checks to ask: the quit message goes out at once.
    PostQuitMessage(0);
}

void TApplication::HandleMessage() {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
        terminated_ = true;
    } else if (got > 0) {
        Dispatch(msg);
    }
}

bool TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            return false;
        }
        Dispatch(msg);
    }
    return true;
}

void TApplication::Dispatch(MSG& msg) {
    TForm* form = msg.hwnd ? TForm::FromHandle(GetAncestor(msg.hwnd, GA_ROOT)) : nullptr;
    if (form && IsWindowEnabled(form->Handle())) {
        // A handler that fails inside a key press has still used the key.
        if (Guarded<bool>(true, [&] { return form->DialogKey(msg); })) {
            form->FocusMoved();
            return;
        }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (form) GuardedCall([&] { form->FocusMoved(); });
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
    try {
        std::string message;
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
            return;
        } catch (const Exception& e) {
            message = e.Message();
        } catch (const std::exception& e) {
            message = e.what();
        }
        ModalScope modal;
        MessageBoxW(handle_, os::Widen1252(ErrorReportText(message)).c_str(), os::Widen1252(title_).c_str(), MB_OK | MB_ICONERROR);
    } catch (...) {
        // The report itself failed (no memory, no window): nothing more can be shown.
    }
}

void TApplication::Minimize() {
    if (IsIconic(handle_)) return;
    ForEachThreadWindow([this](HWND w) {
        if (GetWindow(w, GW_OWNER) == handle_ && IsWindowVisible(w)) {
            ShowWindow(w, SW_HIDE);
            hiddenByMinimize_.push_back(w);
        }
        return true;
    });
    ShowWindow(handle_, SW_MINIMIZE);
}

void TApplication::Restore() {
    ShowWindow(handle_, SW_RESTORE);
    for (HWND w : hiddenByMinimize_)
        if (IsWindow(w)) ShowWindow(w, SW_SHOW);
    hiddenByMinimize_.clear();
    if (mainShownOnRestore_ && mainForm_) {
        mainShownOnRestore_ = false;
        mainForm_->Show(SW_SHOWNORMAL);
    }
    if (mainForm_ && IsWindowVisible(mainForm_->Handle())) SetActiveWindow(mainForm_->Handle());
}

void TApplication::CloseMainForm() {
    // Disabled, the entry stands behind a modal dialog: the dialog is brought forward instead.
    if (!IsWindowEnabled(handle_)) {
        HWND popup = GetLastActivePopup(handle_);
        if (popup && popup != handle_ && IsWindowEnabled(popup)) SetForegroundWindow(popup);
        return;
    }
    if (mainForm_) mainForm_->Close();
}

LRESULT CALLBACK TApplication::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        auto* app = reinterpret_cast<TApplication*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (app) return app->Message(msg, wParam, lParam);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    });
}

LRESULT TApplication::Message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            Minimize();
            return 0;
        case SC_RESTORE:
            Restore();
            return 0;
        case SC_CLOSE:
            CloseMainForm();
            return 0;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        CloseMainForm();
        return 0;
    case WM_ACTIVATE:
        // Activating the task-bar entry activates the program's window in front.
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) {
            HWND popup = GetLastActivePopup(handle_);
            if (popup && popup != handle_ && IsWindowVisible(popup) && IsWindowEnabled(popup)) {
                SetActiveWindow(popup);
                return 0;
            }
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(handle_, msg, wParam, lParam);
}

// --- ModalScope -------------------------------------------------------------------------------

ModalScope::ModalScope() : active_(GetActiveWindow()), focus_(GetFocus()) {
    // The task-bar entry too: its Close would otherwise end the program behind the dialog.
    ForEachThreadWindow([&](HWND w) {
        if (IsWindowVisible(w) && IsWindowEnabled(w)) {
            EnableWindow(w, FALSE);
            disabled_.push_back(w);
        }
        return true;
    });
}

void ModalScope::EnableWindows() {
    for (HWND w : disabled_)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    disabled_.clear();
}

ModalScope::~ModalScope() {
    EnableWindows();
    if (active_ && IsWindow(active_)) SetActiveWindow(active_);
    if (focus_ && IsWindow(focus_)) SetFocus(focus_);
}

}  // namespace atua::app
