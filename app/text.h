// The program's texts are Windows-1252 byte strings; the W APIs want UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace atua::app {

std::wstring Widen(std::string_view cp1252);
std::string Narrow(std::wstring_view utf16);

}  // namespace atua::app
