// The real main window in-process, with clicks and key presses queued on both of its buttons
// behind a press of "Imprimir Informações (recomendado)": what a user who goes on clicking while
// the sheet is produced leaves in the queue. None of it may run a click handler inside the print
// command: not the update (its first step is the confirmation) and not a second print.
// The queue side (one job) is checked by print_test.sh from the spool.
//
//   sheet_form_probe.exe
//
// Prints one line per finding:
//   confirm-during-print N   confirmation dialogs that came up while a progress window existed
//   confirm-after-print N    confirmation dialogs after it (the queued input is dropped, not kept)
//   progress-created N       progress windows created: one per sheet started
//   other-dialogs N          any other dialog (an error report), closed unread
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "app/application.h"
#include "app/startup.h"
#include "forms/un_frm_principal.h"
#include "tests/wine/print/probe_util.h"

namespace {

constexpr wchar_t kProgressCaption[] = L"Printing progress";

struct Observations {
    int confirmDuring = 0, confirmAfter = 0, progressCreated = 0, otherDialogs = 0;
    std::set<HWND> progress;  // the progress windows that exist now
    std::set<HWND> answered;
};
Observations g_seen;  // written by the hook of this one-thread probe

using atua::print_probe::ClassOf;
using atua::print_probe::TextOf;

// Counts the progress windows and the dialogs; every dialog is closed as soon as it is active,
// so the update asked by a wrongly dispatched click goes no further than its question.
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    const HWND w = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND) {
        const wchar_t* name = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszName;
        if (!IS_INTRESOURCE(name) && name && std::wstring(name) == kProgressCaption) {
            ++g_seen.progressCreated;
            g_seen.progress.insert(w);
        }
    } else if (code == HCBT_DESTROYWND) {
        g_seen.progress.erase(w);
    } else if (code == HCBT_ACTIVATE && ClassOf(w) == L"#32770" && g_seen.answered.insert(w).second) {
        if (TextOf(w) == L"Confirm") {
            ++(g_seen.progress.empty() ? g_seen.confirmAfter : g_seen.confirmDuring);
        } else {
            ++g_seen.otherDialogs;
        }
        PostMessageW(w, WM_CLOSE, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void QueueClick(HWND button) {
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

void QueueSpace(HWND button) {
    PostMessageW(button, WM_KEYDOWN, VK_SPACE, 1);
    PostMessageW(button, WM_KEYUP, VK_SPACE, 0xC0000001);
}

}  // namespace

int main() {
    using namespace atua;
    app::TApplication application;
    application.Initialize();
    application.SetTitle(app::ApplicationTitle());
    application.CreateForm(forms::frm_principal);
    forms::Tfrm_principal& form = *forms::frm_principal;
    ShowWindow(application.Handle(), SW_SHOWNA);
    form.Show(SW_SHOWNORMAL);
    HHOOK hook = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());

    // The print press, then what the user goes on doing while the sheet is produced.
    QueueClick(form.BitBtn2.Handle());
    QueueClick(form.BitBtn1.Handle());
    QueueSpace(form.BitBtn1.Handle());
    QueueClick(form.BitBtn2.Handle());
    QueueSpace(form.BitBtn2.Handle());
    const DWORD end = GetTickCount() + 3000;
    while (static_cast<LONG>(GetTickCount() - end) < 0 && application.ProcessMessages()) Sleep(10);

    UnhookWindowsHookEx(hook);
    std::printf("confirm-during-print %d\nconfirm-after-print %d\nprogress-created %d\nother-dialogs %d\n",
                g_seen.confirmDuring, g_seen.confirmAfter, g_seen.progressCreated, g_seen.otherDialogs);
    std::fflush(stdout);
    return 0;
}
