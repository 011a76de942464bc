// The main window in-process under Wine: its geometry and settings, the information text, the
// focus and tab cycle, Enter/Space/Escape everywhere, maximising, and its two click handlers.
#include <gtest/gtest.h>

#include <richedit.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/startup.h"
#include "engine/exceptions.h"
#include "forms/un_frm_principal.h"
#include "tests/wine/gui/driver.h"
#include "tests/wine/gui/steps.h"

namespace atua::forms {
namespace {

using gui::Steps;

RECT InForm(HWND form, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class MainWindow : public testing::Test {
protected:
    void SetUp() override {
        app_ = std::make_unique<app::TApplication>();
        app_->Initialize();
        app_->SetTitle(app::ApplicationTitle());
        app_->CreateForm(frm_principal);
        form_ = frm_principal;
        ShowWindow(app_->Handle(), SW_SHOWNA);
        form_->Show(SW_SHOWNORMAL);
        SetForegroundWindow(form_->Handle());
        ASSERT_TRUE(WaitFocus(form_->RichEdit1.Handle()));
        // The handlers under test count their calls here instead of printing or updating.
        form_->BitBtn1.SetOnClick([this](app::TObject*) { ++clicks1_; });
        form_->BitBtn2.SetOnClick([this](app::TObject*) { ++clicks2_; });
    }
    void TearDown() override { app_.reset(); }

    void Pump(DWORD ms) {
        const DWORD end = GetTickCount() + ms;
        do {
            app_->ProcessMessages();
            Sleep(5);
        } while (static_cast<LONG>(GetTickCount() - end) < 0);
    }
    bool WaitFocus(HWND expected, DWORD ms = 3000) {
        const DWORD end = GetTickCount() + ms;
        while (GetFocus() != expected && static_cast<LONG>(GetTickCount() - end) < 0) {
            app_->ProcessMessages();
            Sleep(5);
        }
        return GetFocus() == expected;
    }
    void Key(WORD vk) {
        gui::PressKey(form_->Handle(), vk);
        Pump(60);
    }
    const char* NameOf(HWND h) const {
        if (h == form_->RichEdit1.Handle()) return "RichEdit1";
        if (h == form_->BitBtn1.Handle()) return "BitBtn1";
        if (h == form_->BitBtn2.Handle()) return "BitBtn2";
        return "another window";
    }

    std::unique_ptr<app::TApplication> app_;
    Tfrm_principal* form_ = nullptr;
    int clicks1_ = 0, clicks2_ = 0;
};

TEST_F(MainWindow, WindowHasItsCaptionClientSizeFixedFrameAndIsCentredOnTheScreen) {
    HWND w = form_->Handle();
    EXPECT_EQ(gui::Text(w), L"Atualiza\u00E7\u00E3o do Visual TARVO. ID - 1.01.220202");
    EXPECT_EQ(gui::ClassName(w), L"Tfrm_principal");
    RECT client, outer;
    GetClientRect(w, &client);
    GetWindowRect(w, &outer);
    EXPECT_EQ(client.right, 619);
    EXPECT_EQ(client.bottom, 388);
    EXPECT_NEAR(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2, 1);
    EXPECT_NEAR(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2, 1);
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the frame cannot be dragged";
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & (WS_HSCROLL | WS_VSCROLL));
    EXPECT_EQ(GetWindow(w, GW_OWNER), app_->Handle()) << "owned by the task-bar entry";
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(w, WM_GETICON, ICON_BIG, 0)), app_->Icon());
    HDC dc = GetDC(w);
    EXPECT_EQ(GetPixel(dc, 5, 383), GetSysColor(COLOR_BTNFACE)) << "button face below the text";
    ReleaseDC(w, dc);
}

TEST_F(MainWindow, ControlsStandWhereTheDescriptionPutsThemInTheirStackingOrder) {
    HWND w = form_->Handle();
    struct Case {
        const char* name;
        HWND control;
        HWND parent;
        RECT rect;  // in the window's client coordinates
    } cases[] = {
        {"Panel1", form_->Panel1.Handle(), w, {0, 0, 625, 529}},
        {"BitBtn2", form_->BitBtn2.Handle(), form_->Panel1.Handle(), {224, 355, 465, 380}},
        {"RichEdit1", form_->RichEdit1.Handle(), w, {0, 0, 619, 345}},
        {"BitBtn1", form_->BitBtn1.Handle(), w, {472, 355, 609, 380}},
    };
    for (auto& c : cases) {
        const RECT r = InForm(w, c.control);
        EXPECT_EQ(GetParent(c.control), c.parent) << c.name;
        EXPECT_EQ(r.left, c.rect.left) << c.name;
        EXPECT_EQ(r.top, c.rect.top) << c.name;
        EXPECT_EQ(r.right, c.rect.right) << c.name;
        EXPECT_EQ(r.bottom, c.rect.bottom) << c.name;
        if (c.control == form_->RichEdit1.Handle()) {
            // The rich edit keeps the font as its default character format, in twips: 11 pixels
            // at the screen's density (165 at 96 pixels per inch), so it draws 11 pixels high.
            CHARFORMATW format{};
            format.cbSize = sizeof format;
            SendMessageW(c.control, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
            HDC screen = GetDC(nullptr);
            EXPECT_EQ(format.yHeight, MulDiv(11, 1440, GetDeviceCaps(screen, LOGPIXELSY))) << c.name;
            ReleaseDC(nullptr, screen);
            EXPECT_STREQ(format.szFaceName, L"MS Sans Serif") << c.name;
            continue;
        }
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c.control, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -11) << c.name;
        EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif") << c.name;
    }
    // Top to bottom among the window's own children: BitBtn1, RichEdit1, Panel1.
    HWND top = GetWindow(w, GW_CHILD);
    EXPECT_EQ(top, form_->BitBtn1.Handle());
    EXPECT_EQ(GetWindow(top, GW_HWNDNEXT), form_->RichEdit1.Handle());
    EXPECT_EQ(GetWindow(GetWindow(top, GW_HWNDNEXT), GW_HWNDNEXT), form_->Panel1.Handle());
    // The text box covers the panel's caption; the panel shows below it.
    EXPECT_EQ(ChildWindowFromPointEx(w, {309, 264}, CWP_SKIPINVISIBLE), form_->RichEdit1.Handle());
    EXPECT_EQ(ChildWindowFromPointEx(w, {100, 370}, CWP_SKIPINVISIBLE), form_->Panel1.Handle());
    EXPECT_EQ(gui::Text(form_->Panel1.Handle()), L"Panel1");
    EXPECT_EQ(gui::Text(form_->BitBtn1.Handle()), L"Atualizar o Sistema");
    EXPECT_EQ(gui::Text(form_->BitBtn2.Handle()), L"Imprimir Informa\u00E7\u00F5es (recomendado)");
    EXPECT_EQ(form_->movimento.TableName, "c:\\VisualTarvo\\based\\movimento.db");
    EXPECT_FALSE(form_->movimento.Active());
}

TEST_F(MainWindow, TextBoxHoldsThe33LinesWrapsAndAlwaysShowsItsVerticalScrollBar) {
    HWND edit = form_->RichEdit1.Handle();
    const std::wstring cls = gui::ClassName(edit);
    EXPECT_TRUE(_wcsicmp(cls.c_str(), L"RichEdit50W") == 0 || _wcsicmp(cls.c_str(), L"RichEdit20W") == 0) << cls;
    const LONG style = GetWindowLongW(edit, GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & ES_WANTRETURN);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_TRUE(style & ES_DISABLENOSCROLL);
    EXPECT_FALSE(style & (WS_HSCROLL | ES_AUTOHSCROLL)) << "lines wrap";
    EXPECT_FALSE(style & (ES_READONLY | ES_NOHIDESEL));
    EXPECT_TRUE(GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

    // The text as the user reads it, written out here rather than taken from the description.
    const std::wstring_view expected[] = {
        L"VELMORA",
        L"DASTRIN",
        L"",
        L"Atualiza\u00E7\u00E3o TARVO (1.0 - 1.01)",
        L"",
        L"LEIA COM ATEN\u00C7\u00C3O!",
        L"\u00C9 recomendado imprimir este documento.",
        L"",
        L"Informa\u00E7\u00F5es sobre a atualiza\u00E7\u00E3o:",
        L"  - O TARVO N\u00C3O pode estar sendo executado no momento da atualiza\u00E7\u00E3o;",
        L"  - Esta atualiza\u00E7\u00E3o s\u00F3 deve ser usada por Unidades Gestora com grande movimenta\u00E7\u00E3o por m\u00EAs (+1000 notas/m\u00EAs);",
        L"  - Unidades com movimenta\u00E7\u00E3o inferior a 300 notas/m\u00EAs N\u00C3O deve utilizar esta atualiza\u00E7\u00E3o;",
        L"",
        L"Informa\u00E7\u00F5es adicionais:",
        L"    A atualiza\u00E7\u00E3o ir\u00E1 aumentar o desempenho em Unidade Gestora com um n\u00FAmero de notas ficais",
        L"digitadas muito grande. Unidades que n\u00E3o desejarem utilizar esta atualiza\u00E7\u00E3o podem",
        L"reinstalar o TARVO, o que vai melhorar circunstancialmente o desempenho do sistema, pois todas as",
        L"notas do sistema ser\u00E3o apagadas.",
        L"",
        L"Ap\u00F3s a atualiza\u00E7\u00E3o o sistema:",
        L"  - Nunca desligue o computador enquanto o TARVO estiver sendo executado;",
        L"  - \u00C9 altamente recomendado a utiliza\u00E7\u00E3o de NO-BREAKS;",
        L"  - N\u00E3o deixe o TARVO executando enquanto ele nao estiver sendo utilizado;",
        L"  - Evite deixar o sistema quando estiver digitando ou alterando algum dado.",
        L"",
        L"Em caso de problemas:",
        L"  - Aten\u00E7\u00E3o: todos os dados digitados ter\u00E3o que ser apagados (se houver dados);",
        L"  - V\u00E1 ao \"Painel de Controle\";",
        L"  - Clique em \"Adicionar ou Remover Programas\";",
        L"  - Remova, caso exista, a instala\u00E7ao entitulada:",
        L"    \"Marquelo\";",
        L"  - Instale o TARVO novamente.",
        L"  - Execute a Atualiza\u00E7\u00E3o.",
    };
    static_assert(std::size(expected) == 33);
    const auto lines = gui::SplitLines(gui::Text(edit));
    ASSERT_GE(lines.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    for (size_t i = std::size(expected); i < lines.size(); ++i) EXPECT_EQ(lines[i], L"") << "nothing after line 33";

    SCROLLBARINFO bar{};
    bar.cbSize = sizeof bar;
    ASSERT_TRUE(GetScrollBarInfo(edit, OBJID_VSCROLL, &bar));
    EXPECT_FALSE(bar.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_UNAVAILABLE)) << "active: the text is taller";
    // Deleted until it fits, the text leaves the bar shown. (Wine's rich edit keeps the old
    // range until it next lays the text out, so the bar's disabling is not checked here.)
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
    Pump(100);
    EXPECT_EQ(gui::Text(edit), L"");
    ASSERT_TRUE(GetScrollBarInfo(edit, OBJID_VSCROLL, &bar));
    EXPECT_FALSE(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE);
}

TEST_F(MainWindow, RunsAtTheScreenDensityItWasAskedFor) {
    // run_at_density.sh names the density it set; the other tests then check the layout at it.
    // Without it the prefix has Wine's own setting, 96 pixels per inch.
    const char* asked = std::getenv("ATUA_EXPECT_DPI");
    const int expected = asked ? std::atoi(asked) : 96;
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), expected);
    ReleaseDC(nullptr, screen);
}

TEST_F(MainWindow, OpensWithTheFocusInTheTextBoxAndThePrintButtonAsTheActiveButton) {
    EXPECT_EQ(GetFocus(), form_->RichEdit1.Handle());
    EXPECT_EQ(form_->ActiveButton(), &form_->BitBtn2);
}

TEST_F(MainWindow, TabAndShiftTabCycleThroughTheTextBoxAndTheTwoButtons) {
    const HWND text = form_->RichEdit1.Handle(), update = form_->BitBtn1.Handle(), print = form_->BitBtn2.Handle();
    struct Case {
        bool shift;
        HWND focus;
        const app::TBitBtn* active;
    } cases[] = {
        {false, update, &form_->BitBtn1}, {false, print, &form_->BitBtn2}, {false, text, &form_->BitBtn2},
        {true, print, &form_->BitBtn2},   {true, update, &form_->BitBtn1}, {true, text, &form_->BitBtn2},
    };
    for (auto& c : cases) {
        const HWND from = GetFocus();
        // Shift is held in this thread's key state, where the window looks for it.
        BYTE keys[256];
        GetKeyboardState(keys);
        const BYTE shift = keys[VK_SHIFT];
        keys[VK_SHIFT] = c.shift ? 0x80 : 0;
        SetKeyboardState(keys);
        gui::PressKey(form_->Handle(), VK_TAB);
        Pump(30);
        keys[VK_SHIFT] = shift;
        SetKeyboardState(keys);
        EXPECT_TRUE(WaitFocus(c.focus)) << (c.shift ? "Shift+Tab" : "Tab") << " from " << NameOf(from) << " reached "
                                         << NameOf(GetFocus());
        EXPECT_EQ(form_->ActiveButton(), c.active);
    }
    EXPECT_EQ(clicks1_ + clicks2_, 0);
}

TEST_F(MainWindow, EnterBreaksALineInTheTextBoxAndPressesAFocusedButtonAsSpaceDoes) {
    const size_t lines = gui::SplitLines(gui::Text(form_->RichEdit1.Handle())).size();
    Key(VK_RETURN);
    EXPECT_EQ(gui::SplitLines(gui::Text(form_->RichEdit1.Handle())).size(), lines + 1);
    EXPECT_EQ(clicks1_ + clicks2_, 0) << "the text box wants Enter";

    struct Case {
        app::TBitBtn& button;
        int& clicks;
        WORD key;
    } cases[] = {
        {form_->BitBtn1, clicks1_, VK_RETURN},
        {form_->BitBtn1, clicks1_, VK_SPACE},
        {form_->BitBtn2, clicks2_, VK_RETURN},
        {form_->BitBtn2, clicks2_, VK_SPACE},
    };
    for (auto& c : cases) {
        c.button.SetFocus();
        ASSERT_TRUE(WaitFocus(c.button.Handle()));
        const int before1 = clicks1_, before2 = clicks2_;
        Key(c.key);
        EXPECT_EQ(c.clicks, (&c.clicks == &clicks1_ ? before1 : before2) + 1) << c.button.Name() << " key " << c.key;
        EXPECT_EQ(clicks1_ + clicks2_, before1 + before2 + 1) << "only the focused button";
    }
}

TEST_F(MainWindow, EscapeDoesNothingAnywhere) {
    gui::WindowCreations created;
    for (app::TControl* c : {static_cast<app::TControl*>(&form_->RichEdit1), static_cast<app::TControl*>(&form_->BitBtn1),
                             static_cast<app::TControl*>(&form_->BitBtn2)}) {
        c->SetFocus();
        ASSERT_TRUE(WaitFocus(c->Handle()));
        Key(VK_ESCAPE);
        EXPECT_EQ(GetFocus(), c->Handle()) << c->Name();
        EXPECT_TRUE(IsWindowVisible(form_->Handle()));
    }
    EXPECT_EQ(clicks1_ + clicks2_, 0);
    EXPECT_EQ(created.Count(), 0);
    EXPECT_FALSE(app_->Terminated());
}

TEST_F(MainWindow, MaximisedOnlyTheTextBoxWidens) {
    ShowWindow(form_->Handle(), SW_MAXIMIZE);
    RECT client{};
    for (int i = 0; i < 100 && client.right <= 619; ++i) {
        Pump(20);
        GetClientRect(form_->Handle(), &client);
    }
    ASSERT_GT(client.right, 619);
    const RECT text = InForm(form_->Handle(), form_->RichEdit1.Handle());
    EXPECT_EQ(text.right - text.left, client.right);
    EXPECT_EQ(text.bottom - text.top, 345);
    const RECT update = InForm(form_->Handle(), form_->BitBtn1.Handle());
    const RECT panel = InForm(form_->Handle(), form_->Panel1.Handle());
    EXPECT_EQ(update.left, 472);
    EXPECT_EQ(update.right - update.left, 137);
    EXPECT_EQ(panel.right - panel.left, 625);
    EXPECT_EQ(panel.bottom - panel.top, 529);
    ShowWindow(form_->Handle(), SW_RESTORE);
    for (int i = 0; i < 100 && InForm(form_->Handle(), form_->RichEdit1.Handle()).right != 619; ++i) Pump(20);
    EXPECT_EQ(InForm(form_->Handle(), form_->RichEdit1.Handle()).right, 619);
}

// --- the handlers, through the shell ---------------------------------------------------------

TEST_F(MainWindow, UpdateButtonAsksFirstAndNoOrCloseDoesNothingMore) {
    struct Case {
        const char* how;
        std::function<void(HWND)> answer;
    } cases[] = {
        {"No", [](HWND d) { gui::Click(gui::FindControl(d, L"&No")); }},
        {"close", [](HWND d) { gui::Close(d); }},
    };
    form_->BitBtn1.SetOnClick([this](app::TObject* sender) { form_->BitBtn1Click(sender); });
    for (auto& c : cases) {
        gui::WindowCreations created;
        std::wstring question;
        Steps steps;
        steps.Then([&] {
            HWND d = gui::ThreadDialog(L"Confirm");
            if (!d) return false;
            question = gui::DialogText(d);
            c.answer(d);
            return true;
        });
        gui::Click(form_->BitBtn1.Handle());
        while (!steps.Done() && !steps.TimedOut()) Pump(20);
        Pump(300);
        EXPECT_EQ(question, L"O TARVO ser\u00E1 atualizado.  Continuar?") << c.how;
        EXPECT_EQ(created.Count(), 1) << c.how << ": the question only";
        EXPECT_EQ(gui::AnyThreadDialog(), nullptr) << c.how;
        EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
        EXPECT_FALSE(form_->movimento.Active());
    }
}

TEST_F(MainWindow, AFailingHandlerReachesTheErrorReportAndTheWindowStaysUsable) {
    // The handler changes the text box, then asks the table component for an index on a table
    // that is not there: the engine refuses, and nothing after that call may run.
    form_->movimento.TableName = "c:\\atua-no-such-folder\\movimento.db";
    std::string refusal;
    try {
        TTable probe;
        probe.TableName = form_->movimento.TableName;
        probe.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    } catch (const Exception& e) {
        refusal = e.Message();
    }
    ASSERT_FALSE(refusal.empty()) << "the engine adds no index to a missing table";
    std::vector<std::string> ran;
    form_->BitBtn1.SetOnClick([&](app::TObject*) {
        ran.push_back("before");
        SetWindowTextW(form_->RichEdit1.Handle(), L"changed before the failure");
        form_->movimento.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
        ran.push_back("after the failing call");
    });
    std::wstring text;
    bool disabled = false;
    Steps steps;
    steps.Then([&] {
        HWND d = gui::ThreadDialog(gui::FromCp1252(app::ApplicationTitle()));
        if (!d) return false;
        text = gui::DialogText(d);
        disabled = !IsWindowEnabled(form_->Handle());
        gui::Click(gui::FindControl(d, L"OK"));
        return true;
    });
    form_->BitBtn1.SetFocus();
    ASSERT_TRUE(WaitFocus(form_->BitBtn1.Handle()));
    Key(VK_RETURN);
    while (!steps.Done() && !steps.TimedOut()) Pump(20);
    Pump(100);
    EXPECT_EQ(text, gui::FromCp1252(app::ErrorReportText(refusal))) << "the engine's own message";
    EXPECT_TRUE(disabled);
    EXPECT_EQ(ran, std::vector<std::string>{"before"}) << "the handler is abandoned where it failed";
    EXPECT_EQ(gui::Text(form_->RichEdit1.Handle()), L"changed before the failure") << "what it changed stays changed";
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
    EXPECT_TRUE(WaitFocus(form_->BitBtn1.Handle())) << "the focus is back where it was";
    EXPECT_FALSE(app_->Terminated());
}

TEST_F(MainWindow, AnAbortLeavingAHandlerShowsNothing) {
    form_->BitBtn2.SetOnClick([](app::TObject*) { throw EAbort(); });
    gui::WindowCreations created;
    gui::Click(form_->BitBtn2.Handle());
    Pump(200);
    EXPECT_EQ(created.Count(), 0);
    EXPECT_TRUE(IsWindowEnabled(form_->Handle()));
}

// Close sent to the task-bar entry (its menu's Close, as the task bar sends it) while a box is
// up: the box stays, the program goes on, and the main window and the entry are disabled.
TEST_F(MainWindow, WhileABoxIsUpEveryWindowIsDisabledAndTheTaskBarEntrysCloseEndsNothing) {
    const std::wstring title = gui::FromCp1252(app::ApplicationTitle());
    int answer = 0;
    struct Case {
        const char* kind;
        std::wstring caption;
        std::function<void()> show;  // what the click handler does
        const wchar_t* dismiss;
        int answer;  // the confirmation's result, 0 for the others
    } cases[] = {
        {"confirmation", L"Confirm", [&] { answer = app::MessageDlgConfirm("Continuar?"); }, L"&No", app::mrNo},
        {"information box", title, [] { app::ShowMessage("Pronto."); }, L"OK", 0},
        {"error report", title, [] { throw EDatabaseError("Falhou"); }, L"OK", 0},
    };
    const HWND entry = app_->Handle();
    for (auto& c : cases) {
        answer = 0;
        form_->BitBtn1.SetOnClick([&](app::TObject*) { c.show(); });
        bool entryEnabled = true, formEnabled = true, stillUp = false;
        HWND box = nullptr;
        Steps steps;
        steps.Then([&] {
            box = gui::ThreadDialog(c.caption);
            if (!box) return false;
            entryEnabled = IsWindowEnabled(entry) != FALSE;
            formEnabled = IsWindowEnabled(form_->Handle()) != FALSE;
            SendMessageW(entry, WM_SYSCOMMAND, SC_CLOSE, 0);
            SendMessageW(entry, WM_CLOSE, 0, 0);
            PostMessageW(entry, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageW(entry, WM_CLOSE, 0, 0);
            return true;
        });
        steps.Then([&] {
            stillUp = IsWindow(box) && IsWindowVisible(box);
            if (stillUp) gui::Click(gui::FindControl(box, c.dismiss));
            return true;
        });
        gui::Click(form_->BitBtn1.Handle());
        while (!steps.Done() && !steps.TimedOut()) Pump(20);
        Pump(200);
        EXPECT_NE(box, nullptr) << c.kind;
        EXPECT_FALSE(entryEnabled) << c.kind << ": the task-bar entry is disabled";
        EXPECT_FALSE(formEnabled) << c.kind << ": the main window is disabled";
        EXPECT_TRUE(stillUp) << c.kind << ": Close did not end the box";
        EXPECT_EQ(answer, c.answer) << c.kind;
        EXPECT_FALSE(app_->Terminated()) << c.kind;
        MSG quit;
        EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << c.kind << ": no quit message";
        EXPECT_TRUE(IsWindowEnabled(entry)) << c.kind;
        EXPECT_TRUE(IsWindowEnabled(form_->Handle())) << c.kind;
        if (app_->Terminated()) break;
    }
}

TEST_F(MainWindow, TheRestOfAHandlerRunsAfterTheTerminationRequestAndTheLoopThenEnds) {
    std::vector<std::string> events;
    form_->BitBtn1.SetOnClick([&](app::TObject*) {
        form_->Application().Terminate();
        events.push_back(app_->Terminated() ? "terminated at once" : "handler goes on");
    });
    Steps steps;
    steps.Then([&] {
        gui::Click(form_->BitBtn1.Handle());
        return true;
    });
    app_->Run(SW_SHOWNORMAL);
    events.push_back("loop ended");
    EXPECT_EQ(events, (std::vector<std::string>{"handler goes on", "loop ended"}));
    EXPECT_TRUE(app_->Terminated());
}

}  // namespace
}  // namespace atua::forms
