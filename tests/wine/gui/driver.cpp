#include "tests/wine/gui/driver.h"

#include "engine/os/cp1252.h"

#include <algorithm>

#include "app/enum_windows.h"

namespace atua::gui {

namespace {

std::wstring& StoredProgramPath() {
    static std::wstring path;
    return path;
}

}  // namespace

Program::Program(const std::wstring& exe, int showCmd) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (showCmd >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(showCmd);
    }
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_))
        info_ = {};
    else
        WaitForInputIdle(info_.hProcess, kDefaultTimeoutMs);
}

Program::~Program() {
    if (!info_.hProcess) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, kDefaultTimeoutMs);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

std::vector<HWND> Program::Windows(bool visibleOnly) const {
    std::vector<HWND> found;
    app::ForEachTopLevelWindow([&](HWND hwnd) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == info_.dwProcessId && (!visibleOnly || IsWindowVisible(hwnd))) found.push_back(hwnd);
        return true;
    });
    return found;
}

HWND Program::WaitWindow(std::wstring_view cls, std::optional<std::wstring_view> title, DWORD timeoutMs,
                         bool visibleOnly) const {
    return WaitFor(
        [&]() -> HWND {
            for (HWND w : Windows(visibleOnly))
                if (ClassName(w) == cls && (!title || Text(w) == *title)) return w;
            return nullptr;
        },
        timeoutMs);
}

std::optional<DWORD> Program::WaitExit(DWORD timeoutMs) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void SetProgramPath(std::wstring path) { StoredProgramPath() = std::move(path); }

std::wstring ProgramPath() {
    if (!StoredProgramPath().empty()) return StoredProgramPath();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring_view a = argv[i];
        if (a.starts_with(L"--exe=")) StoredProgramPath() = std::wstring(a.substr(6));
    }
    LocalFree(argv);
    if (StoredProgramPath().empty()) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring dir(self);
        dir.erase(dir.find_last_of(L"\\/") + 1);
        StoredProgramPath() = dir + L"..\\..\\..\\app\\AtuaTarvo.exe";
    }
    return StoredProgramPath();
}

std::wstring Text(HWND hwnd) {
    // WM_GETTEXT reaches controls of other processes too (GetWindowText would not).
    const auto n = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const auto got = SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring DialogText(HWND dialog) {
    std::wstring out;
    app::ForEachChildWindow(dialog, [&](HWND c) {
        if (_wcsicmp(ClassName(c).c_str(), L"Static") == 0 && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            std::wstring t = Text(c);
            if (!t.empty()) out += (out.empty() ? L"" : L"\n") + t;
        }
        return true;
    });
    return out;
}

std::vector<std::wstring> ButtonCaptions(HWND window) {
    std::vector<std::wstring> out;
    app::ForEachChildWindow(window, [&](HWND c) {
        if (_wcsicmp(ClassName(c).c_str(), L"Button") == 0) out.push_back(Text(c));
        return true;
    });
    return out;
}

HWND FindControl(HWND parent, std::wstring_view text) {
    HWND found = nullptr;
    app::ForEachChildWindow(parent, [&](HWND c) {
        if (Text(c) == text) found = c;
        return found == nullptr;
    });
    return found;
}

HWND FindChildOfClass(HWND parent, std::wstring_view cls) {
    HWND found = nullptr;
    app::ForEachChildWindow(parent, [&](HWND c) {
        if (_wcsicmp(ClassName(c).c_str(), std::wstring(cls).c_str()) == 0) found = c;
        return found == nullptr;
    });
    return found;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void PressKey(HWND window, WORD vk, bool alt) {
    HWND target = FocusOf(window);
    if (!target) target = window;
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
    const LPARAM up = down | (1u << 30) | (1u << 31);
    PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down);
    PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, up);
}

void SendKey(WORD vk, bool shift) {
    std::vector<INPUT> inputs;
    auto key = [&](WORD k, bool up) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = k;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(in);
    };
    if (shift) key(VK_SHIFT, false);
    key(vk, false);
    key(vk, true);
    if (shift) key(VK_SHIFT, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Close(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

HWND WaitFor(const std::function<HWND()>& f, DWORD timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (HWND h = f()) return h;
        if (std::chrono::steady_clock::now() >= end) return nullptr;
        Sleep(25);
    }
}

bool WaitUntil(const std::function<bool()>& f, DWORD timeoutMs) {
    return WaitFor([&]() -> HWND { return f() ? reinterpret_cast<HWND>(1) : nullptr; }, timeoutMs) != nullptr;
}

std::wstring FromCp1252(std::string_view text) { return os::Widen1252(text); }

}  // namespace atua::gui
