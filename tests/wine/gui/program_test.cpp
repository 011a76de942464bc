// AtuaTarvo.exe from outside, through the driver: start, windows, show states, the update's
// question, exit codes.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/wine/gui/driver.h"

namespace atua::gui {
namespace {

const std::wstring kTitle = L"Atualiza\u00E7\u00E3o N.\u00BA 01 TARVO";
const std::wstring kCaption = L"Atualiza\u00E7\u00E3o do Visual TARVO. ID - 1.01.220202";

TEST(Program, StartsWithItsTaskBarEntryAndCentredMainWindowAndEndsWithCodeZeroOnClose) {
    Program program(ProgramPath(), SW_SHOWNORMAL);
    ASSERT_NE(program.Pid(), 0u) << "cannot start the program";
    HWND main = program.WaitWindow(L"Tfrm_principal", kCaption);
    ASSERT_NE(main, nullptr);
    HWND entry = program.WaitWindow(L"TApplication", kTitle);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(GetWindow(main, GW_OWNER), entry);
    RECT client, outer;
    GetClientRect(main, &client);
    GetWindowRect(main, &outer);
    EXPECT_EQ(client.right, 619);
    EXPECT_EQ(client.bottom, 388);
    EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_NE(FindControl(main, L"Atualizar o Sistema"), nullptr);
    EXPECT_NE(FindControl(main, L"Imprimir Informa\u00E7\u00F5es (recomendado)"), nullptr);
    EXPECT_EQ(_wcsicmp(ClassName(FocusOf(main)).c_str(), L"RichEdit50W"), 0) << "the focus is in the text box";
    Close(main);
    EXPECT_EQ(program.WaitExit(), std::optional<DWORD>(0));
}

TEST(Program, ShowStatesMaximiseAndMinimise) {
    {
        Program program(ProgramPath(), SW_SHOWMAXIMIZED);
        HWND main = program.WaitWindow(L"Tfrm_principal");
        ASSERT_NE(main, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return IsZoomed(main) != FALSE; }, 3000));
        Close(main);
        EXPECT_EQ(program.WaitExit(), std::optional<DWORD>(0));
    }
    {
        Program program(ProgramPath(), SW_SHOWMINNOACTIVE);
        HWND entry = program.WaitWindow(L"TApplication", kTitle);
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return IsIconic(entry) != FALSE; }, 3000));
        EXPECT_EQ(program.WaitWindow(L"Tfrm_principal", std::nullopt, 300), nullptr) << "the main window stays hidden";
        Close(entry);  // Close in the task-bar entry's menu
        EXPECT_EQ(program.WaitExit(), std::optional<DWORD>(0));
    }
}

TEST(Program, UpdateAsksAndAnsweringNoLeavesTheProgramRunning) {
    Program program(ProgramPath(), SW_SHOWNORMAL);
    HWND main = program.WaitWindow(L"Tfrm_principal");
    ASSERT_NE(main, nullptr);
    HWND entry = program.WaitWindow(L"TApplication", kTitle);
    ASSERT_NE(entry, nullptr);
    for (const wchar_t* answer : {L"&No", L"close"}) {
        Click(FindControl(main, L"Atualizar o Sistema"));
        HWND ask = program.WaitWindow(kDialogClass, L"Confirm");
        ASSERT_NE(ask, nullptr) << answer;
        EXPECT_EQ(DialogText(ask), L"O TARVO ser\u00E1 atualizado.  Continuar?");
        EXPECT_EQ(ButtonCaptions(ask), (std::vector<std::wstring>{L"&Yes", L"&No"}));
        EXPECT_FALSE(IsWindowEnabled(main));
        EXPECT_FALSE(IsWindowEnabled(entry)) << "the task-bar entry is disabled too";
        // Close in the task-bar entry's menu, behind the question: nothing ends.
        Close(entry);
        EXPECT_FALSE(program.WaitExit(1500).has_value()) << answer << ": the program goes on";
        EXPECT_TRUE(IsWindowVisible(ask)) << answer << ": the question stays";
        if (std::wstring_view(answer) == L"close") {
            Close(ask);
        } else {
            Click(FindControl(ask, answer));
        }
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(main) != FALSE; })) << answer;
        // The question may take a while to go on a loaded machine; only then can a new box be told from it.
        EXPECT_TRUE(WaitUntil([&] { return IsWindow(ask) == FALSE; })) << answer << ": the question goes";
        EXPECT_EQ(program.WaitWindow(kDialogClass, std::nullopt, 500), nullptr) << answer << ": nothing more is shown";
    }
    Close(main);
    EXPECT_EQ(program.WaitExit(), std::optional<DWORD>(0));
}

// Moves the product's folder out of the way (the prefix is shared with the demo, which leaves a
// table there) and puts it back afterwards; a folder left aside by an interrupted run goes back
// first.
class ProductFolderAside {
public:
    ProductFolderAside() {
        if (!std::filesystem::exists(kFolder) && std::filesystem::exists(kAside)) std::filesystem::rename(kAside, kFolder);
        if (std::filesystem::exists(kFolder)) {
            std::filesystem::rename(kFolder, kAside);
            moved_ = true;
        }
    }
    ~ProductFolderAside() {
        std::error_code ignored;
        if (moved_) std::filesystem::rename(kAside, kFolder, ignored);
    }
    ProductFolderAside(const ProductFolderAside&) = delete;
    ProductFolderAside& operator=(const ProductFolderAside&) = delete;

private:
    static constexpr const wchar_t* kFolder = L"c:\\VisualTarvo";
    static constexpr const wchar_t* kAside = L"c:\\VisualTarvo.aside-by-gui-tests";
    bool moved_ = false;
};

TEST(Program, UpdateWithoutTheProductInstalledSaysSoAndKeepsRunning) {
    ProductFolderAside aside;
    ASSERT_FALSE(std::filesystem::exists(L"c:\\VisualTarvo\\based\\movimento.db"));
    Program program(ProgramPath(), SW_SHOWNORMAL);
    HWND main = program.WaitWindow(L"Tfrm_principal");
    ASSERT_NE(main, nullptr);
    Click(FindControl(main, L"Atualizar o Sistema"));
    HWND ask = program.WaitWindow(kDialogClass, L"Confirm");
    ASSERT_NE(ask, nullptr);
    PressKey(ask, VK_RETURN);  // Yes has the focus
    HWND box = program.WaitWindow(kDialogClass, kTitle);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(DialogText(box), L"Erro inesperado. Sistema n\u00E3o atualizado.\r"
                               L"\u00C9 necess\u00E1rio instalar o TARVO antes de executar a atualiza\u00E7\u00E3o.");
    Click(FindControl(box, L"OK"));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }));
    EXPECT_FALSE(program.WaitExit(300).has_value()) << "the program keeps running";
    Close(main);
    EXPECT_EQ(program.WaitExit(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace atua::gui
