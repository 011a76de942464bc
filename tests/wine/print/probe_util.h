// Helpers shared by the sheet's probes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace atua::print_probe {

inline std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::wstring TextOf(HWND w) {
    wchar_t buffer[256] = {};
    GetWindowTextW(w, buffer, 256);
    return buffer;
}

inline std::wstring ClassOf(HWND w) {
    wchar_t buffer[256] = {};
    GetClassNameW(w, buffer, 256);
    return buffer;
}

// Removes the per-user default printer (the "device" value), leaving the printers installed:
// GetDefaultPrinter fails from then on. Wine always names one from CUPS when a process starts,
// so only this reaches the state of printers without a default that Windows knows. True when
// no default is left.
inline bool ForgetDefaultPrinter() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const LSTATUS deleted = RegDeleteValueW(key, L"device");
    RegCloseKey(key);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

}  // namespace atua::print_probe
