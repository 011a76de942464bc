#include "app/startup.h"

#include <windows.h>

#include <cstdio>

#include "app/application.h"
#include "engine/os/cp1252.h"
#include "engine/exceptions.h"

namespace atua::app {

namespace {

// Where start-up failed, as an address in the program: the return address of this call, made
// from the failure handler (a C++ exception carries no fault address of its own).
[[gnu::noinline]] void* FailurePoint() { return __builtin_extract_return_addr(__builtin_return_address(0)); }

void ShowStartupFailure(void* address) noexcept {
    try {
        std::string className = "Exception", message;
        try {
            throw;
        } catch (const Exception& e) {
            className = std::string(e.ClassName());
            message = e.Message();
        } catch (const std::exception& e) {
            message = e.what();
        } catch (...) {
        }
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module);
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(module, path, MAX_PATH);
        std::wstring file(path);
        if (auto slash = file.find_last_of(L"\\/"); slash != std::wstring::npos) file.erase(0, slash + 1);
        const auto offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module);
        const std::string text = StartupFailureText(className, os::Narrow1252(file), offset, message);
        MessageBoxW(nullptr, os::Widen1252(text).c_str(), L"Application Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    } catch (...) {
    }
}

}  // namespace

int StartupShowState() {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    GetStartupInfoW(&si);
    return (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWDEFAULT;
}

std::string StartupFailureText(std::string_view className, std::string_view module, std::uintptr_t offset,
                               std::string_view message) {
    char address[32];
    std::snprintf(address, sizeof address, "%08llX", static_cast<unsigned long long>(offset));
    std::string text = "Exception " + std::string(className) + " in module " + std::string(module) + " at " +
                       address + ".\n" + std::string(message);
    if (!message.empty() && message.back() != '.') text += '.';
    return text;
}

int RunProgram(std::string_view title, const std::function<void(TApplication&)>& createForms, int showCmd) noexcept {
    try {
        TApplication application;
        try {
            application.Initialize();
            application.SetTitle(std::string(title));
            createForms(application);
        } catch (...) {
            ShowStartupFailure(FailurePoint());
            return 1;
        }
        application.Run(showCmd);
    } catch (...) {
        // The application object itself could not be made.
        ShowStartupFailure(FailurePoint());
        return 1;
    }
    return 0;
}

}  // namespace atua::app
