// Compiled with the execution character set Windows-1252, like the program's texts.
// Presses "Imprimir Informações (recomendado)" in the real program and reports what it showed.
// The queue side is checked by print_test.sh from the spool.
//
//   sheet_button_probe.exe PRESSES [--forget-default] [--exe=PATH]
//
// --forget-default removes the default printer once the program is up (Wine gives it one from
// CUPS when it starts), so the program meets printers without a default.
//
// Prints one line per finding:
//   press K: printed              a progress window came and went, no error report
//   press K: error report "TEXT"  the error report's text (then its OK is pressed)
//   press K: nothing              neither within the wait
//   exit N                        the program's exit code after its window was closed
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/wine/gui/driver.h"
#include "tests/wine/print/probe_util.h"

namespace {

using namespace atua::gui;
using atua::print_probe::ForgetDefaultPrinter;
using atua::print_probe::Utf8;

constexpr wchar_t kProgressCaption[] = L"Printing progress";
constexpr char kApplicationTitle[] = "Atualização N.º 01 TARVO";
constexpr char kPrintCaption[] = "Imprimir Informações (recomendado)";
constexpr DWORD kPressTimeoutMs = 15000;

// A top-level window's caption read without a message: the program's thread answers messages
// only now and then while it produces the sheet.
std::wstring Caption(HWND w) {
    wchar_t text[256] = {};
    InternalGetWindowText(w, text, 256);
    return text;
}

// One press: either the progress window shows and goes, or the error report comes up.
std::string Press(const Program& program, HWND button) {
    const std::wstring title = FromCp1252(kApplicationTitle);
    const auto find = [&](auto&& wanted) -> HWND {
        for (HWND w : program.Windows())
            if (wanted(w)) return w;
        return nullptr;
    };
    Click(button);
    bool progressSeen = false;
    HWND report = nullptr;
    WaitUntil(
        [&] {
            const bool progressUp = find([](HWND w) { return Caption(w) == kProgressCaption; }) != nullptr;
            progressSeen = progressSeen || progressUp;
            report = find([&](HWND w) { return ClassName(w) == kDialogClass && Caption(w) == title; });
            return report != nullptr || (progressSeen && !progressUp);
        },
        kPressTimeoutMs);
    if (report) {
        const std::string text = Utf8(DialogText(report));
        Click(FindControl(report, L"OK"));
        WaitUntil([&] { return !IsWindow(report); });
        return "error report \"" + text + "\"";
    }
    return progressSeen ? "printed" : "nothing";
}

}  // namespace

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::atoi(argv[1]) : 1;
    const bool forget = argc > 2 && std::string(argv[2]) == "--forget-default";
    Program program(ProgramPath());
    HWND main = program.WaitWindow(L"Tfrm_principal");
    HWND button = main ? FindControl(main, FromCp1252(kPrintCaption)) : nullptr;
    if (!button) {
        std::printf("FAIL the main window or its print button did not appear\n");
        return 1;
    }
    if (forget) std::printf("default-forgotten %s\n", ForgetDefaultPrinter() ? "yes" : "no");
    for (int k = 1; k <= presses; ++k) std::printf("press %d: %s\n", k, Press(program, button).c_str());
    Close(main);
    const auto code = program.WaitExit();
    std::printf("exit %s\n", code ? std::to_string(*code).c_str() : "none");
    std::fflush(stdout);
    return 0;
}
