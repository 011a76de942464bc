// The update's operation sequence against a recording table, for every way a run can end.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "update/atualiza_movimento.h"

namespace atua::update {
namespace {

// Records every call; fails the call named by `failAt` ("open#2" = the second open).
class RecordingTable final : public MovementTable {
public:
    std::vector<std::string> calls;
    std::string failAt;
    bool active = false;
    std::vector<std::string> indexesAdded;

    void Open() override {
        call("open");
        active = true;
    }
    // A close that fails still leaves the table closed.
    void Close() override {
        active = false;
        call("close");
    }
    void ClearIndexDefs() override { call("clear"); }
    void AddIndex(std::string_view name, std::string_view fields, TIndexOptions options,
                  std::string_view descFields) override {
        call("add");
        indexesAdded.push_back(std::string(name) + "|" + std::string(fields) + "|" +
                               std::to_string(options.value()) + "|" + std::string(descFields));
    }
    void Refresh() override {
        if (!active) throw EDatabaseError("Cannot perform this operation on a closed dataset");
        call("refresh");
    }

private:
    void call(const std::string& op) {
        int nth = 1;
        for (const auto& c : calls)
            if (c == op) ++nth;
        calls.push_back(op);
        if (failAt == op + "#" + std::to_string(nth)) throw EDBEngineError("engine refused " + op);
    }
};

// The update's share of a form whose dialogs record what they were asked and answer `answer`.
class RecordingForm final : public MovementUpdate {
public:
    explicit RecordingForm(RecordingTable& table) : table_(table) {}
    int answer = app::mrYes;
    std::vector<std::string> events;

private:
    int Confirm(std::string_view question) override {
        events.push_back("confirm:" + std::string(question));
        return answer;
    }
    void ShowMessage(std::string_view text) override { events.push_back("message:" + std::string(text)); }
    void Terminate() override { events.push_back("terminate"); }
    MovementTable& Table() override { return table_; }

    RecordingTable& table_;
};

const std::vector<std::string> kFullRun = {"open", "close", "clear", "add", "add", "open", "refresh", "close"};
const std::string kPrimary = "|mov_cd_controle|3|";
const std::string kSecondary = "CNPJ_IDX|cad_cd_cnpj|8|";

struct RunCase {
    const char* failAt;                    // "" = nothing fails
    std::size_t callsMade;                 // how much of the full run happened
    std::vector<std::string> added;        // index additions that returned
    std::optional<std::string> message;    // the update's own information box
    bool escapes;                          // the failure reaches the error report
    bool activeAfter;
    bool terminates;
};

class UpdateRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(UpdateRun, FollowsTheStepsAndEndsAsExpected) {
    const RunCase& c = GetParam();
    RecordingTable table;
    table.failAt = c.failAt;
    RecordingForm form(table);

    bool escaped = false;
    try {
        form.BitBtn1Click(nullptr);
    } catch (const Exception& e) {
        escaped = true;
        EXPECT_EQ(e.Message().rfind("engine refused", 0), 0u) << "the engine's own message passes unchanged";
    }

    EXPECT_EQ(escaped, c.escapes);
    EXPECT_EQ(table.calls, std::vector<std::string>(kFullRun.begin(), kFullRun.begin() + c.callsMade));
    std::vector<std::string> addedOk;
    for (std::size_t i = 0; i < table.indexesAdded.size(); ++i) {
        bool failed = std::string(c.failAt) == "add#" + std::to_string(i + 1);
        if (!failed) addedOk.push_back(table.indexesAdded[i]);
    }
    EXPECT_EQ(addedOk, c.added);
    EXPECT_EQ(table.active, c.activeAfter);

    std::vector<std::string> expected = {"confirm:" + UpdateTexts::Question()};
    if (c.message) expected.push_back("message:" + *c.message);
    if (c.terminates) expected.push_back("terminate");
    EXPECT_EQ(form.events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnding, UpdateRun,
    ::testing::Values(
        RunCase{"", 8, {kPrimary, kSecondary}, UpdateTexts::Success(), false, false, true},
        RunCase{"open#1", 1, {}, UpdateTexts::NotInstalled(), false, false, false},
        RunCase{"close#1", 2, {}, std::nullopt, true, false, false},
        // Clearing the cached definitions may fail without stopping the update.
        RunCase{"clear#1", 8, {kPrimary, kSecondary}, UpdateTexts::Success(), false, false, true},
        RunCase{"add#1", 4, {}, std::nullopt, true, false, false},
        RunCase{"add#2", 5, {kPrimary}, std::nullopt, true, false, false},
        RunCase{"open#2", 6, {kPrimary, kSecondary}, UpdateTexts::ProductRunning(), false, false, false},
        // A failed refresh leaves the table open until the next click closes it.
        RunCase{"refresh#1", 7, {kPrimary, kSecondary}, UpdateTexts::ProductRunning(), false, true, false},
        RunCase{"close#2", 8, {kPrimary, kSecondary}, UpdateTexts::ProductRunning(), false, false, false}));

TEST(UpdateConfirmation, OnlyYesRunsAnything) {
    for (int answer : {app::mrNo, app::mrClosed, app::mrOk}) {
        RecordingTable table;
        RecordingForm form(table);
        form.answer = answer;
        form.BitBtn1Click(nullptr);
        EXPECT_TRUE(table.calls.empty()) << "answer " << answer;
        EXPECT_EQ(form.events.size(), 1u) << "answer " << answer;
    }
}

TEST(UpdateConfirmation, ANewClickAfterAFailedRefreshStartsFromTheOpenTable) {
    RecordingTable table;
    table.failAt = "refresh#1";
    RecordingForm form(table);
    form.BitBtn1Click(nullptr);
    ASSERT_TRUE(table.active);
    table.failAt.clear();
    table.calls.clear();
    form.events.clear();
    form.BitBtn1Click(nullptr);
    EXPECT_EQ(table.calls, kFullRun);
    EXPECT_FALSE(table.active);
    EXPECT_EQ(form.events.back(), "terminate");
}

// The texts as the product's users know them, byte for byte (Windows-1252, CR between lines).
TEST(UpdateTexts, AreTheProgramsOwnBytes) {
    EXPECT_EQ(UpdateTexts::Question(), "O TARVO ser\xE1 atualizado.  Continuar?");
    EXPECT_EQ(UpdateTexts::NotInstalled(),
              "Erro inesperado. Sistema n\xE3o atualizado.\r"
              "\xC9 necess\xE1rio instalar o TARVO antes de executar a atualiza\xE7\xE3o.");
    EXPECT_EQ(UpdateTexts::ProductRunning(),
              "Erro inesperado. Sistema n\xE3o atualizado.\r"
              "Aten\xE7\xE3o: O TARVO nao pode estar sendo executado no momento da atualiza\xE7\xE3o");
    EXPECT_EQ(UpdateTexts::Success(), "Atualiza\xE7\xE3o executada com sucesso.");
    EXPECT_EQ(kMovimentoPath, "c:\\VisualTarvo\\based\\movimento.db");
}

}  // namespace
}  // namespace atua::update
