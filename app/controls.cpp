#include "app/controls.h"

#include <richedit.h>

#include <algorithm>

#include "app/application.h"
#include "engine/os/cp1252.h"
#include "engine/exceptions.h"

namespace atua::app {

namespace {

constexpr wchar_t kControlProperty[] = L"AtuaControl";
constexpr wchar_t kPanelClass[] = L"TPanel";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

void RegisterWindowClass(const wchar_t* name, WNDPROC proc, HICON icon) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(Instance(), name, &wc)) return;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = Instance();
    wc.hIcon = icon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc)) throw Exception("Cannot register the window class " + os::Narrow1252(name) + ".");
}

[[noreturn]] void CannotCreate(const ComponentDesc& desc) {
    throw Exception("Cannot create the control " + std::string(desc.Name) + ".");
}

HWND CreateChild(DWORD exStyle, const wchar_t* cls, std::string_view text, DWORD style, const ComponentDesc& desc,
                 TWinControl* parent, void* param = nullptr) {
    HWND h = CreateWindowExW(exStyle, cls, os::Widen1252(text).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
                             desc.Left, desc.Top, desc.Width, desc.Height, parent->Handle(), nullptr, Instance(),
                             param);
    if (!h) CannotCreate(desc);
    return h;
}

}  // namespace

// --- TControl ---------------------------------------------------------------------------------

TControl::TControl(TForm& form, TWinControl* parent, const ComponentDesc& desc)
    : TComponent(desc.Name), form_(form), parent_(parent), tabOrder_(desc.TabOrder), tabStop_(desc.TabStop),
      align_(desc.Align) {}

TControl::~TControl() {
    if (handle_ && IsWindow(handle_)) {
        RemovePropW(handle_, kControlProperty);
        DestroyWindow(handle_);
    }
}

void TControl::Attach(HWND handle) {
    handle_ = handle;
    SetPropW(handle, kControlProperty, this);
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(form_.Font()), FALSE);
}

TControl* TControl::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<TControl*>(GetPropW(hwnd, kControlProperty)) : nullptr;
}

void TControl::SetFocus() { ::SetFocus(handle_); }

bool TControl::Focused() const { return handle_ && GetFocus() == handle_; }

// --- TWinControl ------------------------------------------------------------------------------

void TWinControl::TabStops(std::vector<TControl*>& out) const {
    std::vector<TControl*> ordered = controls_;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TControl* a, const TControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (TControl* c : ordered) {
        if (!IsWindowVisible(c->Handle()) || !IsWindowEnabled(c->Handle())) continue;
        if (c->TabStop()) out.push_back(c);
        if (auto* container = dynamic_cast<TWinControl*>(c)) container->TabStops(out);
    }
}

bool TWinControl::Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg == WM_COMMAND && lParam) {
        if (TControl* c = FromHandle(reinterpret_cast<HWND>(lParam))) {
            c->Command(HIWORD(wParam));
            result = 0;
            return true;
        }
    } else if (msg == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (TControl* c = FromHandle(item->hwndItem)) {
            c->DrawItem(*item);
            result = TRUE;
            return true;
        }
    }
    return false;
}

// --- TPanel -----------------------------------------------------------------------------------

TPanel::TPanel(TForm& form, TWinControl* parent, const ComponentDesc& desc)
    : TWinControl(form, parent, desc), caption_(desc.Caption) {
    RegisterWindowClass(kPanelClass, WindowProc, nullptr);
    // No bevel and no border: the panel is a plain button-face area with its caption centred.
    Attach(CreateChild(WS_EX_CONTROLPARENT, kPanelClass, caption_, WS_CLIPCHILDREN, desc, parent, this));
}

LRESULT CALLBACK TPanel::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        LRESULT result = 0;
        if (Reflect(msg, wParam, lParam, result)) return result;
        if (auto* panel = dynamic_cast<TPanel*>(FromHandle(hwnd))) {
            if (msg == WM_PAINT) {
                panel->Paint();
                return 0;
            }
            if (msg == WM_GETFONT) return reinterpret_cast<LRESULT>(panel->Form().Font());
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    });
}

void TPanel::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old = SelectObject(dc, Form().Font());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    std::wstring text = os::Widen1252(caption_);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(Handle(), &ps);
}

// --- TRichEdit --------------------------------------------------------------------------------

TRichEdit::TRichEdit(TForm& form, TWinControl* parent, const ComponentDesc& desc) : TControl(form, parent, desc) {
    // The newest rich-edit control there is; Wine and every Windows since XP have it.
    const wchar_t* cls = MSFTEDIT_CLASS;
    library_ = LoadLibraryW(L"Msftedit.dll");
    if (!library_) {
        library_ = LoadLibraryW(L"Riched20.dll");
        cls = RICHEDIT_CLASSW;
    }
    if (!library_) throw Exception("Cannot load the rich-edit control (Msftedit.dll).");
    DWORD style = WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL;
    if (desc.ScrollBars == TScrollStyle::ssVertical) style |= WS_VSCROLL;
    if (!desc.HideScrollBars) style |= ES_DISABLENOSCROLL;
    Attach(CreateChild(WS_EX_CLIENTEDGE, cls, {}, style, desc, parent));
    SendMessageW(Handle(), EM_SETTARGETDEVICE, 0, 0);  // wrap at the box's width
    std::string text;
    for (std::string_view line : desc.Lines) (text += line) += "\r\n";
    SetWindowTextW(Handle(), os::Widen1252(text).c_str());
    SendMessageW(Handle(), EM_SETSEL, 0, 0);
    SendMessageW(Handle(), EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageW(Handle(), EM_SETMODIFY, FALSE, 0);
}

TRichEdit::~TRichEdit() {
    // The window must go before the library that holds its code.
    if (Handle() && IsWindow(Handle())) {
        RemovePropW(Handle(), kControlProperty);
        DestroyWindow(Handle());
    }
    FreeLibrary(library_);
}

std::string TRichEdit::Text() const {
    const int n = GetWindowTextLengthW(Handle());
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    w.resize(static_cast<size_t>(GetWindowTextW(Handle(), w.data(), n + 1)));
    return os::Narrow1252(w);
}

// --- TBitBtn ----------------------------------------------------------------------------------

TBitBtn::TBitBtn(TForm& form, TWinControl* parent, const ComponentDesc& desc)
    : TControl(form, parent, desc), caption_(desc.Caption), default_(desc.Default), numGlyphs_(desc.NumGlyphs) {
    if (desc.Glyph)
        glyph_ = static_cast<HBITMAP>(LoadImageW(Instance(), desc.Glyph, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    Attach(CreateChild(0, L"BUTTON", caption_, WS_TABSTOP | BS_OWNERDRAW | BS_NOTIFY, desc, parent));
}

TBitBtn::~TBitBtn() {
    if (glyph_) DeleteObject(glyph_);
}

void TBitBtn::Click() {
    if (onClick_) onClick_(this);
}

void TBitBtn::Command(WORD code) {
    // An owner-drawn button reports the second click of a double click as a double click.
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) Click();
    if (code == BN_SETFOCUS || code == BN_KILLFOCUS) Form().FocusMoved();
}

void TBitBtn::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool focused = (item.itemState & ODS_FOCUS) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;

    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    if (Form().ActiveButton() == this) {
        FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&r, -1, -1);
    }
    if (pressed) {
        FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
    } else {
        DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH);
    }

    HGDIOBJ oldFont = SelectObject(dc, Form().Font());
    const std::wstring text = os::Widen1252(caption_);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const int glyphSize = glyph_ ? 16 : 0;
    const int spacing = glyph_ && !text.empty() ? kSpacing : 0;
    const int width = item.rcItem.right - item.rcItem.left, height = item.rcItem.bottom - item.rcItem.top;
    const int shift = pressed ? 1 : 0;
    const int x = item.rcItem.left + (width - (glyphSize + spacing + extent.cx)) / 2 + shift;
    const int y = item.rcItem.top + shift;

    if (glyph_) {
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ oldBitmap = SelectObject(mem, glyph_);
        BITMAP bm{};
        GetObjectW(glyph_, sizeof bm, &bm);
        // The transparent colour is the picture's bottom-left pixel.
        const COLORREF transparent = GetPixel(mem, 0, bm.bmHeight - 1);
        const int image = disabled && numGlyphs_ > 1 ? 1 : 0;
        TransparentBlt(dc, x, y + (height - 16) / 2, 16, 16, mem, image * 16, 0, 16, 16, transparent);
        SelectObject(mem, oldBitmap);
        DeleteDC(mem);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    RECT textRect{x + glyphSize + spacing, y, x + glyphSize + spacing + extent.cx, y + height};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, oldFont);

    if (focused) {
        RECT f = item.rcItem;
        InflateRect(&f, -4, -4);
        DrawFocusRect(dc, &f);
    }
}

// --- TForm ------------------------------------------------------------------------------------

namespace {
ComponentDesc FormAsComponent(const FormDesc& desc) {
    ComponentDesc c{};
    c.ClassName = desc.ClassName;
    c.Name = desc.Name;
    return c;
}
}  // namespace

TForm::TForm(TApplication& application, const FormDesc& desc, std::span<const ComponentDesc> components,
             const Factory& nonVisual, const MethodLookup& methods)
    : TWinControl(*this, nullptr, FormAsComponent(desc)), application_(application), caption_(desc.Caption),
      position_(desc.Position) {
    // The font is the form's own height in pixels: no rescaling for the screen's pixel density.
    font_ = CreateFontW(desc.FontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        std::wstring(desc.FontName).c_str());
    const std::wstring cls = os::Widen1252(desc.ClassName);
    RegisterWindowClass(cls.c_str(), WindowProc, application.Icon());
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN;
    if (desc.BorderStyle == TBorderStyle::bsSizeable) style |= WS_THICKFRAME;
    RECT r{0, 0, desc.ClientWidth, desc.ClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    window_ = CreateWindowExW(0, cls.c_str(), os::Widen1252(caption_).c_str(), style, 0, 0, r.right - r.left,
                              r.bottom - r.top, application.Handle(), nullptr, Instance(), this);
    if (!window_) throw Exception("Cannot create the window " + std::string(desc.Name) + ".");
    Attach(window_);
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(application.Icon()));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(application.Icon()));

    for (const ComponentDesc& c : components) {
        TWinControl* parent = nullptr;
        if (!c.Parent.empty()) {
            parent = c.Parent == desc.Name ? static_cast<TWinControl*>(this) : &Find<TWinControl>(c.Parent);
        }
        std::unique_ptr<TComponent> made;
        TControl* control = nullptr;
        if (parent && c.ClassName == "TPanel") {
            made = std::make_unique<TPanel>(*this, parent, c);
        } else if (parent && c.ClassName == "TRichEdit") {
            made = std::make_unique<TRichEdit>(*this, parent, c);
        } else if (parent && c.ClassName == "TBitBtn") {
            auto button = std::make_unique<TBitBtn>(*this, parent, c);
            if (!c.OnClick.empty()) {
                TNotifyEvent handler = methods(c.OnClick);
                if (!handler) throw Exception("The form has no handler " + std::string(c.OnClick) + ".");
                button->SetOnClick(std::move(handler));
            }
            made = std::move(button);
        } else {
            made = nonVisual(c);
            if (!made) throw Exception("Unknown component class " + std::string(c.ClassName) + ".");
        }
        control = dynamic_cast<TControl*>(made.get());
        if (control) {
            // Each later control lies above the earlier ones.
            SetWindowPos(control->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            parent->Insert(*control);
        }
        components_.push_back(std::move(made));
    }
    Realign();
}

TForm::~TForm() {
    if (window_ && IsWindow(window_)) {
        for (auto& c : components_)
            if (auto* control = dynamic_cast<TControl*>(c.get())) RemovePropW(control->Handle(), kControlProperty);
        RemovePropW(window_, kControlProperty);
        DestroyWindow(window_);
    }
    components_.clear();
    if (font_) DeleteObject(font_);
}

void TForm::MissingComponent(std::string_view name) {
    throw Exception("The form has no component " + std::string(name) + ".");
}

TForm* TForm::FromHandle(HWND hwnd) { return dynamic_cast<TForm*>(TControl::FromHandle(hwnd)); }

void TForm::Show(int showCmd) {
    if (!shown_ && position_ == TPosition::poScreenCenter) {
        RECT r;
        GetWindowRect(window_, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    shown_ = true;
    ShowWindow(window_, showCmd);
    UpdateWindow(window_);
}

void TForm::Close() {
    // There is no close-query handler: closing is always allowed. The main form ends the program.
    if (application_.MainForm() == this) {
        application_.Terminate();
    } else {
        ShowWindow(window_, SW_HIDE);
    }
}

void TForm::SelectNext(bool forward) {
    std::vector<TControl*> stops;
    TabStops(stops);
    if (stops.empty()) return;
    TControl* current = TControl::FromHandle(GetFocus());
    auto it = std::find(stops.begin(), stops.end(), current);
    size_t next;
    if (it == stops.end()) {
        next = forward ? 0 : stops.size() - 1;
    } else {
        const size_t i = static_cast<size_t>(it - stops.begin());
        next = forward ? (i + 1) % stops.size() : (i + stops.size() - 1) % stops.size();
    }
    stops[next]->SetFocus();
}

bool TForm::DialogKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
    switch (msg.wParam) {
    case VK_TAB:
        if (ctrl || alt) return false;
        SelectNext(GetKeyState(VK_SHIFT) >= 0);
        return true;
    case VK_RETURN:
        // A control that wants Enter (the text box) gets it; on a button it presses the button.
        if (auto* button = dynamic_cast<TBitBtn*>(TControl::FromHandle(msg.hwnd))) {
            button->Click();
            return true;
        }
        return false;
    case VK_ESCAPE:
        return true;  // no cancel button
    default:
        return false;
    }
}

const TBitBtn* TForm::ActiveButton() const {
    if (auto* b = dynamic_cast<const TBitBtn*>(activeControl_)) return b;
    for (auto& c : components_)
        if (auto* b = dynamic_cast<const TBitBtn*>(c.get()); b && b->Default()) return b;
    return nullptr;
}

void TForm::FocusMoved() {
    TControl* c = TControl::FromHandle(GetFocus());
    if (!c || &c->Form() != this || c == this || c == activeControl_) return;
    activeControl_ = c;
    for (auto& component : components_)
        if (auto* b = dynamic_cast<TBitBtn*>(component.get())) InvalidateRect(b->Handle(), nullptr, FALSE);
}

void TForm::Realign() {
    RECT client;
    GetClientRect(window_, &client);
    int top = 0;
    for (TControl* c : Controls()) {
        if (c->Align() != TAlign::alTop) continue;
        RECT r;
        GetWindowRect(c->Handle(), &r);
        const int h = r.bottom - r.top;
        SetWindowPos(c->Handle(), nullptr, 0, top, client.right, h, SWP_NOZORDER | SWP_NOACTIVATE);
        top += h;
    }
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        if (msg == WM_NCCREATE) {
            auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            form->window_ = hwnd;
            SetPropW(hwnd, kControlProperty, static_cast<TControl*>(form));
        }
        if (msg == WM_NCDESTROY) RemovePropW(hwnd, kControlProperty);
        if (TForm* form = FromHandle(hwnd)) return form->Message(msg, wParam, lParam);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    });
}

LRESULT TForm::Message(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (Reflect(msg, wParam, lParam, result)) return result;
    switch (msg) {
    case WM_CLOSE:
        // A disabled form stands behind a modal dialog and is not closed from outside.
        if (IsWindowEnabled(window_)) Close();
        return 0;
    case WM_SYSCOMMAND:
        // The main form minimises the whole application onto its task-bar entry.
        if ((wParam & 0xFFF0) == SC_MINIMIZE && application_.MainForm() == this) {
            application_.Minimize();
            return 0;
        }
        break;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) Realign();
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) {
            TControl* target = activeControl_;
            if (!target) {
                std::vector<TControl*> stops;
                TabStops(stops);
                if (!stops.empty()) target = stops.front();
            }
            if (target) target->SetFocus();
            FocusMoved();
            return 0;
        }
        break;
    case WM_SETFOCUS:
        if (activeControl_) activeControl_->SetFocus();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, msg, wParam, lParam);
}

}  // namespace atua::app
