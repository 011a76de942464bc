#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "engine/os/cp1252.h"

namespace atua::os {

namespace {
constexpr UINT kCodePage = 1252;
}

std::wstring Widen1252(std::string_view cp1252) {
    if (cp1252.empty()) return {};
    const int n = ::MultiByteToWideChar(kCodePage, 0, cp1252.data(), static_cast<int>(cp1252.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(kCodePage, 0, cp1252.data(), static_cast<int>(cp1252.size()), out.data(), n);
    return out;
}

std::string Narrow1252(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int n = ::WideCharToMultiByte(kCodePage, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(kCodePage, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

}  // namespace atua::os

#endif  // _WIN32
