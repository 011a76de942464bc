// The program's texts and paths are Windows-1252 byte strings; the W APIs take UTF-16. Every
// conversion at the Win32 boundary goes through these two (Windows builds only).
#pragma once

#include <string>
#include <string_view>

namespace atua::os {

std::wstring Widen1252(std::string_view cp1252);
std::string Narrow1252(std::wstring_view utf16);

}  // namespace atua::os
