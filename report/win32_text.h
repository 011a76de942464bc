// Windows-1252 program texts to and from UTF-16 at the Win32 boundary.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace atua::report {

inline std::wstring Wide(std::string_view cp1252) {
    if (cp1252.empty()) return {};
    const int n = MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), out.data(), n);
    return out;
}

inline std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int n = WideCharToMultiByte(1252, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(1252, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace atua::report
