#include "app/dialogs.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "app/application.h"
#include "engine/os/cp1252.h"
#include "engine/exceptions.h"

namespace atua::app {

namespace {

struct DialogButton {
    const wchar_t* caption;
    int code;  // also the button's control id
};

struct DialogLayout {
    std::wstring caption;
    std::wstring text;
    const wchar_t* icon;  // a system icon, or none
    std::span<const DialogButton> buttons;
    int cancelCode;  // what Escape presses
};

struct DialogState {
    const DialogLayout& shape;
    HFONT font;
    HWND firstButton = nullptr;
    int result = 0;
};

constexpr int kTextId = 100;
constexpr int kIconId = 101;
constexpr int kIconSize = 32;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

HWND AddControl(HWND dlg, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y, int w, int h,
                HFONT font) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    if (!c) throw Exception("Cannot create the dialog's controls.");
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return c;
}

// Lays the dialog out in the units of its font: margins, text (wrapped at half the screen's
// width), the icon to the text's left, and one centred row of buttons of equal width.
void Build(HWND dlg, DialogState& state) {
    const DialogLayout& shape = state.shape;
    SetWindowTextW(dlg, shape.caption.c_str());

    HDC dc = GetDC(dlg);
    HGDIOBJ old = SelectObject(dc, state.font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE alphabet{};
    GetTextExtentPoint32W(dc, kAlphabet, 52, &alphabet);
    const int unitX = alphabet.cx / 52, unitY = tm.tmHeight;
    RECT textRect{0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
    DrawTextW(dc, shape.text.c_str(), static_cast<int>(shape.text.size()), &textRect,
              DT_CALCRECT | DT_WORDBREAK | DT_LEFT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);

    const int horzMargin = MulDiv(8, unitX, 4), vertMargin = MulDiv(8, unitY, 8);
    const int horzSpacing = MulDiv(10, unitX, 4), vertSpacing = MulDiv(10, unitY, 8);
    const int buttonWidth = MulDiv(50, unitX, 4), buttonHeight = MulDiv(14, unitY, 8);
    const int buttonSpacing = MulDiv(4, unitX, 4);

    const int iconWidth = shape.icon ? kIconSize + horzSpacing : 0;
    const int textWidth = textRect.right, textHeight = textRect.bottom;
    const int bodyHeight = std::max(shape.icon ? kIconSize : 0, textHeight);
    const int n = static_cast<int>(shape.buttons.size());
    const int groupWidth = n * buttonWidth + (n - 1) * buttonSpacing;
    const int clientWidth = std::max(iconWidth + textWidth, groupWidth) + 2 * horzMargin;
    const int clientHeight = bodyHeight + vertSpacing + buttonHeight + 2 * vertMargin;

    if (shape.icon) {
        HWND icon = AddControl(dlg, L"STATIC", nullptr, SS_ICON, kIconId, horzMargin, vertMargin, kIconSize,
                               kIconSize, state.font);
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, shape.icon)), 0);
    }
    AddControl(dlg, L"STATIC", shape.text.c_str(), SS_LEFT | SS_NOPREFIX, kTextId, horzMargin + iconWidth,
               vertMargin, textWidth, textHeight, state.font);
    int x = (clientWidth - groupWidth) / 2;
    const int y = vertMargin + bodyHeight + vertSpacing;
    for (int i = 0; i < n; ++i) {
        const DWORD style = WS_TABSTOP | BS_NOTIFY | (i == 0 ? WS_GROUP | BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        HWND b = AddControl(dlg, L"BUTTON", shape.buttons[i].caption, style, shape.buttons[i].code, x, y, buttonWidth,
                            buttonHeight, state.font);
        if (i == 0) state.firstButton = b;
        x += buttonWidth + buttonSpacing;
    }
    SendMessageW(dlg, DM_SETDEFID, shape.buttons[0].code, 0);

    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE)));
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    SetWindowPos(dlg, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w,
                 h, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsButtonOf(const DialogLayout& shape, int id) {
    return std::any_of(shape.buttons.begin(), shape.buttons.end(), [id](const DialogButton& b) { return b.code == id; });
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return Guarded<INT_PTR>(FALSE, [&]() -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            Build(dlg, *reinterpret_cast<DialogState*>(lParam));
            return FALSE;  // the loop puts the focus on the first button once the dialog shows
        }
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
        if (!state) return FALSE;
        switch (msg) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (HIWORD(wParam) == BN_SETFOCUS && IsButtonOf(state->shape, id)) {
                // The focused button is the one Enter presses: it carries the default outline.
                SendMessageW(dlg, DM_SETDEFID, static_cast<WPARAM>(id), 0);
            } else if (HIWORD(wParam) == BN_CLICKED && IsButtonOf(state->shape, id)) {
                state->result = id;
            } else if (id == IDCANCEL) {
                state->result = state->shape.cancelCode;
            }
            return TRUE;
        }
        case WM_CLOSE:
            state->result = mrClosed;
            return TRUE;
        default:
            return FALSE;
        }
    });
}

int RunDialog(const DialogLayout& shape) {
    TApplication& app = Application();
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    std::unique_ptr<std::remove_pointer_t<HFONT>, decltype(&DeleteObject)> font(
        CreateFontIndirectW(&metrics.lfMessageFont), &DeleteObject);

    // An empty dialog template: the controls are laid out in pixels once the font is known.
    alignas(4) WORD tmpl[16] = {};
    DLGTEMPLATE header{};
    header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    static_assert(sizeof header + 3 * sizeof(WORD) <= sizeof tmpl);
    std::memcpy(tmpl, &header, sizeof header);

    ModalScope modal;
    DialogState state{shape, font.get()};
    HWND dlg = CreateDialogIndirectParamW(Instance(), reinterpret_cast<const DLGTEMPLATE*>(tmpl), app.Handle(),
                                          DialogProc, reinterpret_cast<LPARAM>(&state));
    if (!dlg) throw Exception("Cannot create the dialog.");
    ShowWindow(dlg, SW_SHOW);
    SetForegroundWindow(dlg);
    SetActiveWindow(dlg);
    SetFocus(state.firstButton);

    MSG msg;
    while (state.result == 0) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The quit message ends the dialog as if it were closed, and the program after it.
            if (got == 0) app.QuitReceived();
            state.result = mrClosed;
            break;
        }
        if (msg.message == WM_KEYDOWN && (msg.hwnd == dlg || IsChild(dlg, msg.hwnd))) {
            if (msg.wParam == VK_ESCAPE) {
                state.result = shape.cancelCode;
                break;
            }
            if (msg.wParam == VK_RETURN) {
                const int focused = GetDlgCtrlID(GetFocus());
                state.result = IsButtonOf(shape, focused) ? focused : shape.buttons[0].code;
                break;
            }
        }
        if (!IsDialogMessageW(dlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    modal.EnableWindows();
    DestroyWindow(dlg);
    return state.result;
}

constexpr DialogButton kOk[] = {{L"OK", mrOk}};
constexpr DialogButton kYesNo[] = {{L"&Yes", mrYes}, {L"&No", mrNo}};

}  // namespace

void ShowMessage(std::string_view text) {
    RunDialog({os::Widen1252(Application().Title()), os::Widen1252(text), nullptr, kOk, mrOk});
}

int MessageDlgConfirm(std::string_view question) {
    return RunDialog({L"Confirm", os::Widen1252(question), IDI_QUESTION, kYesNo, mrNo});
}

}  // namespace atua::app
