// The application shell in-process under Wine: the dialogs and their keys, the default error
// report, termination, start-up exit codes, show states and the task-bar entry.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <stdexcept>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/startup.h"
#include "engine/exceptions.h"
#include "forms/un_frm_principal.h"
#include "tests/wine/gui/driver.h"
#include "tests/wine/gui/steps.h"

namespace atua::app {
namespace {

using gui::Steps;

std::wstring Title() { return gui::FromCp1252(ApplicationTitle()); }

RECT Rect(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return r;
}

void ExpectCentredOnScreen(HWND w) {
    const RECT r = Rect(w);
    EXPECT_NEAR((r.left + r.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

TEST(ErrorReportText, AppendsAFullStopAfterEveryLastByteAboveTheFullStop) {
    struct Case {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Falhou", "Falhou."},       {"Tabela 7", "Tabela 7."},  {"Campo:", "Campo:."},
        {"Continuar?", "Continuar?."}, {"a/b", "a/b."},         {"\xE7\xE3o", "\xE7\xE3o."},
        {"Pronto.", "Pronto."},      {"Cuidado!", "Cuidado!"},   {"(nota)", "(nota)"},
        {"um,", "um,"},              {"fim ", "fim "},           {"a-", "a-"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorReportText(c.message), c.shown) << "message: " << c.message;
}

TEST(StartupFailureText, NamesClassModuleAndOffsetAndEndsTheMessageWithAFullStop) {
    struct Case {
        const char* message;
        const char* tail;
    } cases[] = {
        {"Sem tabela", "Sem tabela."}, {"Sem tabela.", "Sem tabela."}, {"Cuidado!", "Cuidado!."}, {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StartupFailureText("EDatabaseError", "AtuaTarvo.exe", 0x1A2B3, c.message),
                  std::string("Exception EDatabaseError in module AtuaTarvo.exe at 0001A2B3.\n") + c.tail);
}

class Shell : public testing::Test {
protected:
    void SetUp() override {
        app_ = std::make_unique<TApplication>();
        app_->Initialize();
        app_->SetTitle(ApplicationTitle());
        // Another window of the program, to see it disabled while a dialog is up.
        other_ = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                 nullptr, nullptr, nullptr, nullptr);
        SetActiveWindow(other_);
    }
    void TearDown() override {
        DestroyWindow(other_);
        app_.reset();
    }
    std::unique_ptr<TApplication> app_;
    HWND other_ = nullptr;
};

struct Seen {
    bool up = false;
    std::wstring caption, text;
    std::vector<std::wstring> buttons;
    bool icon = false;
    bool focusOnFirstButton = false;
    bool otherDisabled = false;
    std::vector<RECT> buttonRects;
    RECT client{}, rect{};
};

// Waits for a dialog with that caption, records what it shows, then runs the actions, one per
// tick (a key, a click, a close).
Steps& Answer(Steps& steps, const std::wstring& caption, Seen& seen, HWND other,
              std::vector<std::function<void(HWND)>> actions) {
    auto dialog = std::make_shared<HWND>(nullptr);
    steps.Then([=, &seen] {
        *dialog = gui::ThreadDialog(caption);
        if (!*dialog) return false;
        HWND d = *dialog;
        seen.up = true;
        seen.caption = gui::Text(d);
        seen.text = gui::DialogText(d);
        seen.buttons = gui::ButtonCaptions(d);
        seen.icon = [&] {
            for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && gui::ClassName(c) == L"Static")
                    return true;
            return false;
        }();
        HWND first = gui::FindChildOfClass(d, L"Button");
        seen.focusOnFirstButton = first && GetFocus() == first;
        seen.otherDisabled = !IsWindowEnabled(other);
        for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (_wcsicmp(gui::ClassName(c).c_str(), L"Button") != 0) continue;
            RECT r;
            GetWindowRect(c, &r);
            MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
            seen.buttonRects.push_back(r);
        }
        GetClientRect(d, &seen.client);
        seen.rect = Rect(d);
        return true;
    });
    for (auto& action : actions)
        steps.Then([=] {
            action(*dialog);
            return true;
        });
    return steps;
}

using Action = std::function<void(HWND)>;
Action Key(WORD vk, bool alt = false) {
    return [=](HWND d) { gui::PressKey(d, vk, alt); };
}
Action ClickButton(const wchar_t* caption) {
    return [=](HWND d) { gui::Click(gui::FindControl(d, caption)); };
}
Action CloseButton() {
    return [](HWND d) { gui::Close(d); };
}

TEST_F(Shell, ConfirmationDialogReturnsTheCodeOfEveryWayToAnswerIt) {
    struct Case {
        const char* how;
        std::vector<Action> actions;
        int code;
    } cases[] = {
        {"Enter, focus untouched", {Key(VK_RETURN)}, mrYes},
        {"Tab to No, Enter", {Key(VK_TAB), Key(VK_RETURN)}, mrNo},
        {"Space on Yes", {Key(VK_SPACE)}, mrYes},
        {"Escape", {Key(VK_ESCAPE)}, mrNo},
        {"Yes pressed", {ClickButton(L"&Yes")}, mrYes},
        {"No pressed", {ClickButton(L"&No")}, mrNo},
        {"access key N", {Key('N')}, mrNo},
        {"Alt+Y", {Key('Y', true)}, mrYes},
        {"close button", {CloseButton()}, mrClosed},
        {"Alt+F4", {Key(VK_F4, true)}, mrClosed},
    };
    for (auto& c : cases) {
        Seen seen;
        Steps steps;
        Answer(steps, L"Confirm", seen, other_, c.actions);
        EXPECT_EQ(MessageDlgConfirm("O TARVO ser\xE1 atualizado.  Continuar?"), c.code) << c.how;
        EXPECT_TRUE(steps.Done() && !steps.TimedOut()) << c.how;
        EXPECT_FALSE(app_->Terminated()) << c.how;
        EXPECT_TRUE(IsWindowEnabled(other_)) << c.how;
        EXPECT_EQ(GetActiveWindow(), other_) << c.how << ": the window active before is active again";
    }
}

TEST_F(Shell, ConfirmationDialogHasItsCaptionTextIconAndButtonsAndIsModal) {
    Seen seen;
    Steps steps;
    Answer(steps, L"Confirm", seen, other_, {Key(VK_RETURN)});
    MessageDlgConfirm("O TARVO ser\xE1 atualizado.  Continuar?");
    ASSERT_TRUE(seen.up);
    EXPECT_EQ(seen.caption, L"Confirm");
    EXPECT_EQ(seen.text, L"O TARVO ser\u00E1 atualizado.  Continuar?");
    EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"&Yes", L"&No"}));
    EXPECT_TRUE(seen.icon);
    EXPECT_TRUE(seen.focusOnFirstButton);
    EXPECT_TRUE(seen.otherDisabled);
    ASSERT_EQ(seen.buttonRects.size(), 2u);
    const RECT& yes = seen.buttonRects[0];
    const RECT& no = seen.buttonRects[1];
    EXPECT_EQ(yes.right - yes.left, no.right - no.left) << "buttons of equal width";
    EXPECT_EQ(yes.top, no.top) << "one row";
    EXPECT_NEAR(yes.left, seen.client.right - no.right, 1) << "the row is centred";
    const int w = seen.rect.right - seen.rect.left, h = seen.rect.bottom - seen.rect.top;
    EXPECT_NEAR(seen.rect.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, 1);
    EXPECT_NEAR(seen.rect.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 1);
}

TEST_F(Shell, QuitMessageEndsTheConfirmationDialogAsClosedAndTheProgramAfterIt) {
    Seen seen;
    Steps steps;
    Answer(steps, L"Confirm", seen, other_, {[](HWND) { PostQuitMessage(0); }});
    EXPECT_EQ(MessageDlgConfirm("Continuar?"), mrClosed);
    EXPECT_TRUE(app_->Terminated());
}

TEST_F(Shell, InformationBoxShowsTheTitleNoIconOneOkAndEveryKeyDismissesIt) {
    struct Case {
        const char* how;
        Action action;
    } cases[] = {
        {"Enter", Key(VK_RETURN)}, {"Escape", Key(VK_ESCAPE)}, {"OK", ClickButton(L"OK")},
        {"close button", CloseButton()}, {"Alt+F4", Key(VK_F4, true)},
    };
    for (auto& c : cases) {
        Seen seen;
        Steps steps;
        Answer(steps, Title(), seen, other_, {c.action});
        ShowMessage("Atualiza\xE7\xE3o executada com sucesso.");
        EXPECT_TRUE(steps.Done() && !steps.TimedOut()) << c.how;
        EXPECT_EQ(seen.caption, Title()) << c.how;
        EXPECT_EQ(seen.text, L"Atualiza\u00E7\u00E3o executada com sucesso.") << c.how;
        EXPECT_EQ(seen.buttons, std::vector<std::wstring>{L"OK"}) << c.how;
        EXPECT_FALSE(seen.icon) << c.how;
        EXPECT_TRUE(seen.focusOnFirstButton) << c.how;
        EXPECT_TRUE(seen.otherDisabled) << c.how;
        EXPECT_TRUE(IsWindowEnabled(other_)) << c.how;
    }
}

TEST_F(Shell, InformationBoxWrapsLongTextAndBreaksLinesAtACarriageReturn) {
    auto textHeight = [&](const std::string& text) {
        int height = 0;
        Steps steps;
        steps.Then([&] {
            HWND d = gui::ThreadDialog(Title());
            if (!d) return false;
            for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                if (gui::ClassName(c) == L"Static" && !gui::Text(c).empty()) {
                    RECT r;
                    GetWindowRect(c, &r);
                    height = r.bottom - r.top;
                    EXPECT_LE(r.right - r.left, GetSystemMetrics(SM_CXSCREEN) / 2);
                }
            gui::PressKey(d, VK_RETURN);
            return true;
        });
        ShowMessage(text);
        return height;
    };
    const int one = textHeight("Erro inesperado.");
    ASSERT_GT(one, 0);
    EXPECT_GE(textHeight("Erro inesperado. Sistema n\xE3o atualizado.\rAten\xE7\xE3o"), 2 * one);
    std::string words;
    for (int i = 0; i < 80; ++i) words += "palavra ";
    EXPECT_GE(textHeight(words), 2 * one);
}

struct ReportSeen {
    bool up = false;
    std::wstring caption, text;
    std::vector<std::wstring> buttons;
    bool otherDisabled = false;
};

Steps& DismissErrorReport(Steps& steps, ReportSeen& seen, HWND other) {
    steps.Then([&seen, other] {
        HWND d = gui::ThreadDialog(Title());
        if (!d) return false;
        seen.up = true;
        seen.caption = gui::Text(d);
        seen.text = gui::DialogText(d);
        seen.buttons = gui::ButtonCaptions(d);
        seen.otherDisabled = !IsWindowEnabled(other);
        gui::Click(gui::FindControl(d, L"OK"));
        return true;
    });
    return steps;
}

TEST_F(Shell, ErrorReportShowsTheMessageWithTheFullStopRuleInTheSystemBox) {
    struct Case {
        std::exception_ptr error;
        const wchar_t* shown;
    } cases[] = {
        {std::make_exception_ptr(EDBEngineError("Key violation")), L"Key violation."},
        {std::make_exception_ptr(EDatabaseError("Field 'mov_cd_controle' not found.")),
         L"Field 'mov_cd_controle' not found."},
        {std::make_exception_ptr(Exception("Erro: n\xE3o")), L"Erro: n\u00E3o."},
        {std::make_exception_ptr(std::runtime_error("out of memory")), L"out of memory."},
    };
    for (auto& c : cases) {
        ReportSeen seen;
        Steps steps;
        DismissErrorReport(steps, seen, other_);
        app_->HandleException(c.error);
        EXPECT_TRUE(steps.Done() && !steps.TimedOut()) << c.shown;
        EXPECT_EQ(seen.caption, Title());
        EXPECT_EQ(seen.text, c.shown);
        EXPECT_EQ(seen.buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_TRUE(seen.otherDisabled);
        EXPECT_TRUE(IsWindowEnabled(other_));
        EXPECT_EQ(GetActiveWindow(), other_);
    }
}

TEST_F(Shell, ErrorReportOfAnEmptyMessageIsAnEmptyBox) {
    ReportSeen seen;
    Steps steps;
    DismissErrorReport(steps, seen, other_);
    app_->HandleException(std::make_exception_ptr(EDatabaseError("")));
    EXPECT_TRUE(seen.up);
    EXPECT_EQ(seen.text, L"");
}

TEST_F(Shell, AnAbortIsDroppedWithoutAWindow) {
    gui::WindowCreations created;
    app_->HandleException(std::make_exception_ptr(EAbort()));
    app_->HandleException(std::make_exception_ptr(EAbort("Operation aborted")));
    EXPECT_EQ(created.Count(), 0);
}

TEST_F(Shell, TaskBarEntryCarriesTheTitleAndIconAndOffersNoSizeMoveOrMaximise) {
    HWND entry = app_->Handle();
    EXPECT_EQ(gui::Text(entry), Title());
    EXPECT_EQ(gui::ClassName(entry), L"TApplication");
    EXPECT_TRUE(GetWindowLongW(entry, GWL_STYLE) & WS_CAPTION);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(entry, WM_GETICON, ICON_BIG, 0)),
              LoadIconW(GetModuleHandleW(nullptr), L"MAINICON"));
    HMENU menu = GetSystemMenu(entry, FALSE);
    for (UINT command : {SC_SIZE, SC_MOVE, SC_MAXIMIZE})
        EXPECT_EQ(GetMenuState(menu, command, MF_BYCOMMAND), static_cast<UINT>(-1)) << command;
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST_F(Shell, ComIsInitialisedOnTheUserInterfaceThreadInTheApartmentModel) {
    // Already initialised in this model: a further call succeeds with S_FALSE; the other model
    // is refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
}

TEST(Resources, IconIsOne32x32ImageOf256ColoursWithAMaskInPortugueseBrazil) {
    HMODULE self = GetModuleHandleW(nullptr);
    const WORD lang = MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN);
    ASSERT_EQ(lang, 1046);
    HRSRC group = FindResourceExW(self, RT_GROUP_ICON, L"MAINICON", lang);
    ASSERT_NE(group, nullptr);
    auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(self, group)));
    ASSERT_EQ(*reinterpret_cast<const WORD*>(dir + 4), 1) << "one image";
    const int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, 32, 32, 0);
    HRSRC image = FindResourceExW(self, RT_ICON, MAKEINTRESOURCEW(id), lang);
    ASSERT_NE(image, nullptr);
    auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self, image)));
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biHeight, 64) << "colour and mask";
    EXPECT_EQ(header->biBitCount, 8);
    EXPECT_EQ(SizeofResource(self, image), 40u + 256 * 4 + 32 * 32 + 32 * 4);
}

TEST(Resources, ButtonPicturesAreTwo16x16ImagesIn16ColoursWithTheirBackgroundBottomLeft) {
    struct Case {
        const wchar_t* name;
        COLORREF transparent;
    } cases[] = {{L"BITBTN1_GLYPH", RGB(128, 0, 128)}, {L"BITBTN2_GLYPH", RGB(128, 128, 0)}};
    HMODULE self = GetModuleHandleW(nullptr);
    for (auto& c : cases) {
        HRSRC res = FindResourceW(self, c.name, RT_BITMAP);
        ASSERT_NE(res, nullptr);
        // The bitmap file without its 14-byte file header: 374 - 14 bytes.
        EXPECT_EQ(SizeofResource(self, res), 360u);
        auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self, res)));
        EXPECT_EQ(header->biWidth, 32);
        EXPECT_EQ(header->biHeight, 16);
        EXPECT_EQ(header->biBitCount, 4);
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(self, c.name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        EXPECT_EQ(GetPixel(dc, 0, 15), c.transparent);
        EXPECT_EQ(GetPixel(dc, 16, 15), c.transparent) << "the disabled image keeps the background";
        // The disabled image holds only grey, white and the background.
        for (int y = 0; y < 16; ++y)
            for (int x = 16; x < 32; ++x) {
                const COLORREF p = GetPixel(dc, x, y);
                EXPECT_TRUE(p == c.transparent || p == RGB(128, 128, 128) || p == RGB(255, 255, 255))
                    << x << "," << y;
            }
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
}

// --- the whole start-up, as the entry runs it ------------------------------------------------

void CreateMainForm(TApplication& application) { application.CreateForm(forms::frm_principal); }

HWND MainWindow() { return forms::frm_principal ? forms::frm_principal->Handle() : nullptr; }

TEST(StartUp, EndsWithCodeZeroWhenTheMainWindowIsClosedWithNoFurtherDialog) {
    gui::WindowCreations created;
    Steps steps;
    int before = -1;
    steps.Then([&] {
        if (!MainWindow() || !IsWindowVisible(MainWindow())) return false;
        before = created.Count();
        PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
        return true;
    });
    EXPECT_EQ(RunProgram(ApplicationTitle(), CreateMainForm, SW_SHOWNORMAL), 0);
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(created.Count(), before) << "no window after the close";
    EXPECT_EQ(forms::frm_principal, nullptr);
}

TEST(StartUp, CloseInTheTaskBarEntrysMenuEndsTheProgram) {
    Steps steps;
    steps.Then([&] {
        if (!MainWindow() || !IsWindowVisible(MainWindow())) return false;
        gui::Close(Application().Handle());
        return true;
    });
    EXPECT_EQ(RunProgram(ApplicationTitle(), CreateMainForm, SW_SHOWNORMAL), 0);
    EXPECT_TRUE(steps.Done());
}

TEST(StartUp, FailureBeforeTheLoopShowsTheLastResortBoxAndEndsWithCodeOne) {
    std::wstring text;
    Steps steps;
    steps.Then([&] {
        HWND d = gui::ThreadDialog(L"Application Error");
        if (!d) return false;
        text = gui::DialogText(d);
        gui::Click(gui::FindControl(d, L"OK"));
        return true;
    });
    const int code = RunProgram(
        ApplicationTitle(), [](TApplication&) { throw EDatabaseError("Table is busy"); }, SW_SHOWNORMAL);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(std::regex_match(text, std::wregex(LR"(Exception EDatabaseError in module gui_shell_tests\.exe at [0-9A-F]{8}\.\nTable is busy\.)")))
        << text;
}

TEST(StartUp, ShowState3MaximisesTheMainWindowAndOnlyTheTextBoxGrows) {
    Steps steps;
    steps.Then([&] {
        if (!MainWindow() || !IsWindowVisible(MainWindow())) return false;
        auto& form = *forms::frm_principal;
        EXPECT_TRUE(IsZoomed(form.Handle()));
        RECT client, text, button;
        GetClientRect(form.Handle(), &client);
        GetWindowRect(form.RichEdit1.Handle(), &text);
        GetWindowRect(form.BitBtn1.Handle(), &button);
        MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&button), 2);
        EXPECT_GT(client.right, 619);
        EXPECT_EQ(text.right - text.left, client.right);
        EXPECT_EQ(text.bottom - text.top, 345);
        EXPECT_EQ(button.left, 472);
        EXPECT_EQ(button.top, 355);
        EXPECT_FALSE(GetWindowLongW(form.Handle(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL));
        PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
        return true;
    });
    EXPECT_EQ(RunProgram(ApplicationTitle(), CreateMainForm, SW_SHOWMAXIMIZED), 0);
    EXPECT_TRUE(steps.Done());
}

TEST(StartUp, ShowState7StartsMinimisedOnTheTaskBarAndRestoresCentred) {
    Steps steps;
    steps.Then([&] {
        if (!MainWindow() || !IsIconic(Application().Handle())) return false;
        EXPECT_TRUE(IsWindowVisible(Application().Handle()));
        EXPECT_FALSE(IsWindowVisible(MainWindow()));
        PostMessageW(Application().Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
        return true;
    });
    steps.Then([&] {
        if (!IsWindowVisible(MainWindow())) return false;
        EXPECT_FALSE(IsIconic(Application().Handle()));
        ExpectCentredOnScreen(MainWindow());
        // Minimising the main window minimises the whole program onto its entry.
        PostMessageW(MainWindow(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return true;
    });
    steps.Then([&] {
        if (!IsIconic(Application().Handle())) return false;
        EXPECT_FALSE(IsWindowVisible(MainWindow()));
        PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
        return true;
    });
    EXPECT_EQ(RunProgram(ApplicationTitle(), CreateMainForm, SW_SHOWMINNOACTIVE), 0);
    EXPECT_TRUE(steps.Done() && !steps.TimedOut());
}

}  // namespace
}  // namespace atua::app
