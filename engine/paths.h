// Path helpers for Windows-style and POSIX paths alike (either separator).
#pragma once

#include <string>
#include <string_view>

namespace atua::paths {

inline std::size_t lastSeparator(std::string_view p) { return p.find_last_of("/\\"); }

inline std::string dirName(std::string_view p) {
    std::size_t s = lastSeparator(p);
    return s == std::string_view::npos ? std::string() : std::string(p.substr(0, s));
}
inline std::string baseName(std::string_view p) {
    std::size_t s = lastSeparator(p);
    return std::string(s == std::string_view::npos ? p : p.substr(s + 1));
}
// Extension including its dot ("" when none).
inline std::string extension(std::string_view p) {
    std::string b = baseName(p);
    std::size_t d = b.find_last_of('.');
    return d == std::string::npos ? std::string() : b.substr(d);
}
inline std::string stem(std::string_view p) {
    std::string b = baseName(p);
    std::size_t d = b.find_last_of('.');
    return d == std::string::npos ? b : b.substr(0, d);
}
inline char separatorOf(std::string_view p) {
    return p.find('\\') != std::string_view::npos ? '\\' : '/';
}
inline std::string join(std::string_view dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    std::string r(dir);
    if (r.back() != '/' && r.back() != '\\') r += separatorOf(dir);
    r += name;
    return r;
}
inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}
inline bool isAbsolute(std::string_view p) {
    return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 1 && p[1] == ':');
}

}  // namespace atua::paths
