// Works the real AtuaTarvo.exe the way a user does, for the end-to-end tests, and prints what
// the user saw, one line each (UTF-8; a carriage return inside a text is written as \r):
//   confirm: <question>          the confirmation dialog appeared
//   box: <caption> | <text>      an information box (no icon), dismissed with OK
//   error: <caption> | <text>    a box with an icon (the error report), dismissed with OK
//   running                      the program was still running with nothing on screen
//   exit: <code>                 the program ended (after "running", because we closed it)
//
// usage: e2e_drive.exe --exe=PATH --answer=yes|no|close [--hold=PATH] [--quiet-ms=N]
//   --hold=PATH   keep that file open for reading and writing, shared, the way the running
//                 product holds its table, until the program has ended
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "tests/wine/gui/driver.h"

using namespace atua::gui;

namespace {

std::string Utf8(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') {
            out += "\\r";
            continue;
        }
        if (c == L'\n') {
            out += "\\n";
            continue;
        }
        char buf[8];
        int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buf, sizeof buf, nullptr, nullptr);
        out.append(buf, n > 0 ? n : 0);
    }
    return out;
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool HasIcon(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return true;
    }
    return false;
}

std::wstring Option(int argc, wchar_t** argv, std::wstring_view name) {
    for (int i = 1; i < argc; ++i) {
        std::wstring_view a = argv[i];
        if (a.substr(0, name.size()) == name) return std::wstring(a.substr(name.size()));
    }
    return {};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring exe = Option(argc, argv, L"--exe=");
    std::wstring answer = Option(argc, argv, L"--answer=");
    std::wstring hold = Option(argc, argv, L"--hold=");
    std::wstring quiet = Option(argc, argv, L"--quiet-ms=");
    DWORD quietMs = quiet.empty() ? 10000 : static_cast<DWORD>(std::stoul(quiet));
    if (exe.empty() || (answer != L"yes" && answer != L"no" && answer != L"close")) {
        std::fputs("usage: e2e_drive.exe --exe=PATH --answer=yes|no|close [--hold=PATH]\n", stderr);
        return 2;
    }

    HANDLE held = INVALID_HANDLE_VALUE;
    if (!hold.empty()) {
        held = CreateFileW(hold.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "cannot hold %ls: error %lu\n", hold.c_str(), GetLastError());
            return 2;
        }
    }

    Program program(exe);
    HWND main = program.WaitWindow(L"Tfrm_principal", std::nullopt, 30000);
    if (!main) {
        std::fputs("the main window did not appear\n", stderr);
        return 3;
    }
    Click(FindControl(main, L"Atualizar o Sistema"));
    HWND ask = program.WaitWindow(kDialogClass, L"Confirm");
    if (!ask) {
        std::fputs("the confirmation dialog did not appear\n", stderr);
        return 3;
    }
    Say("confirm: " + Utf8(DialogText(ask)));
    if (answer == L"yes")
        Click(FindControl(ask, L"&Yes"));
    else if (answer == L"no")
        Click(FindControl(ask, L"&No"));
    else
        Close(ask);
    WaitUntil([&] { return !IsWindow(ask) || !IsWindowVisible(ask); });

    std::set<HWND> seen{ask};
    DWORD quietSince = GetTickCount();
    int rc = 0;
    for (;;) {
        if (auto code = program.WaitExit(0)) {
            Say("exit: " + std::to_string(*code));
            break;
        }
        HWND box = nullptr;
        for (HWND w : program.Windows())
            if (ClassName(w) == kDialogClass && !seen.count(w)) box = w;
        if (box) {
            seen.insert(box);
            Sleep(200);  // let the box finish laying itself out
            Say(std::string(HasIcon(box) ? "error: " : "box: ") + Utf8(Text(box)) + " | " +
                Utf8(DialogText(box)));
            Click(FindControl(box, L"OK"));
            WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
            quietSince = GetTickCount();
            continue;
        }
        // Waits for the end the program is expected to reach and says its exit code.
        auto sayExit = [&](const char* whyNot) {
            if (auto code = program.WaitExit(30000)) {
                Say("exit: " + std::to_string(*code));
            } else {
                std::fputs(whyNot, stderr);
                rc = 3;
            }
        };
        // A main window that is gone or hidden means the program is on its way out: a loaded
        // machine may take a while to finish that.
        if (!IsWindow(main) || !IsWindowVisible(main)) {
            sayExit("the program's window went away but the program did not end\n");
            break;
        }
        if (GetTickCount() - quietSince > quietMs) {
            Say("running");
            Close(main);
            sayExit("the program did not end after its window was closed\n");
            break;
        }
        Sleep(100);
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return rc;
}
