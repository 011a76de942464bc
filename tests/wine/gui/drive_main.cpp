// gui_drive.exe: the driver from a shell script, for windows of any running program.
//   gui_drive wait  CAPTION [MS]         exit 0 once a visible top-level window has that caption
//   gui_drive click CAPTION CONTROL      press the control with that text (a button's caption)
//   gui_drive key   CAPTION VK [alt]     post a key (decimal virtual-key code) to its focus
//   gui_drive close CAPTION              the window's close button
//   gui_drive text  CAPTION              print the window's static texts (UTF-8)
// Exit code 0 when done, 1 when the window or control is not found, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/enum_windows.h"
#include "tests/wine/gui/driver.h"

namespace {

HWND TopLevel(const std::wstring& caption, DWORD timeoutMs) {
    return atua::gui::WaitFor(
        [&]() -> HWND {
            HWND found = nullptr;
            atua::app::ForEachTopLevelWindow([&](HWND w) {
                if (IsWindowVisible(w) && atua::gui::Text(w) == caption) found = w;
                return found == nullptr;
            });
            return found;
        },
        timeoutMs);
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3) return 2;
    const std::wstring command = argv[1], caption = argv[2];
    const DWORD timeout = command == L"wait" && argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 10000;
    HWND w = TopLevel(caption, timeout);
    if (!w) return 1;
    if (command == L"wait") return 0;
    if (command == L"close") {
        atua::gui::Close(w);
        return 0;
    }
    if (command == L"text") {
        std::printf("%s\n", Utf8(atua::gui::DialogText(w)).c_str());
        return 0;
    }
    if (command == L"click" && argc > 3) {
        HWND control = atua::gui::FindControl(w, argv[3]);
        if (!control) return 1;
        atua::gui::Click(control);
        return 0;
    }
    if (command == L"key" && argc > 3) {
        atua::gui::PressKey(w, static_cast<WORD>(_wtoi(argv[3])), argc > 4 && std::wstring(argv[4]) == L"alt");
        return 0;
    }
    return 2;
}
