// The final check's refresh failing on the real table component: the table file is damaged
// through the engine's file-system layer between the final open and the refresh, as another
// program rewriting it would. The update says the product is running and leaves the table open;
// the next confirmed click finds it open (its open does nothing), closes it before the additions
// and completes.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/os/file_system.h"
#include "tests/unit/engine/movement_fixture.h"
#include "update/atualiza_movimento.h"

namespace atua::update {
namespace {

using test::Bytes;

// The real table component, each operation logged with the table's state before and after it
// ("open 0>1"; a "!" when it failed); `beforeRefresh` runs just before the refresh reaches it.
class LoggedTable final : public MovementTable {
public:
    explicit LoggedTable(TTable& table) : table_(table), component_(table) {}
    std::vector<std::string> log;
    std::function<void()> beforeRefresh;

    void Open() override {
        logged("open", [&] { component_.Open(); });
    }
    void Close() override {
        logged("close", [&] { component_.Close(); });
    }
    void ClearIndexDefs() override {
        logged("clear", [&] { component_.ClearIndexDefs(); });
    }
    void AddIndex(std::string_view name, std::string_view fields, TIndexOptions options,
                  std::string_view descFields) override {
        logged("add", [&] { component_.AddIndex(name, fields, options, descFields); });
    }
    void Refresh() override {
        if (beforeRefresh) beforeRefresh();
        logged("refresh", [&] { component_.Refresh(); });
    }

private:
    template <class F>
    void logged(const char* op, F&& f) {
        const std::string entry = std::string(op) + " " + (table_.Active() ? "1" : "0") + ">";
        try {
            f();
        } catch (...) {
            log.push_back(entry + (table_.Active() ? "1" : "0") + "!");
            throw;
        }
        log.push_back(entry + (table_.Active() ? "1" : "0"));
    }

    TTable& table_;
    TableComponent component_;
};

class EngineForm final : public MovementUpdate {
public:
    explicit EngineForm(MovementTable& table) : table_(table) {}
    std::vector<std::string> shown;

private:
    int Confirm(std::string_view) override { return app::mrYes; }
    void ShowMessage(std::string_view text) override { shown.push_back(std::string(text)); }
    void Terminate() override { shown.push_back("(terminate)"); }
    MovementTable& Table() override { return table_; }

    MovementTable& table_;
};

// What another program does to the table file while this one has it open.
struct Damage {
    const char* name;
    std::function<void(os::File&, std::uint64_t size)> apply;
};

void PrintTo(const Damage& d, std::ostream* out) { *out << d.name; }

class RefreshFailure : public ::testing::TestWithParam<Damage> {};

TEST_P(RefreshFailure, LeavesTheTableOpenUntilTheNextClickClosesItBeforeTheAdditions) {
    test::TempDir dir;
    const std::string path = dir.file("movimento.db");
    test::writeMovementTable(path, 300);

    TTable table;
    table.TableName = path;
    LoggedTable logged(table);
    EngineForm form(logged);

    // Damaged through the engine's own file layer, the way the refresh reads it; the bytes are
    // kept to put the file right again afterwards.
    Bytes before;
    logged.beforeRefresh = [&] {
        auto file = os::realFileSystem().open(path, os::Access::ReadWrite, os::Share::Shared, os::Create::OpenExisting);
        before.resize(file->size());
        file->readAt(0, before);
        GetParam().apply(*file, before.size());
    };
    form.BitBtn1Click(nullptr);
    EXPECT_EQ(logged.log, (std::vector<std::string>{"open 0>1", "close 1>0", "clear 0>0", "add 0>0", "add 0>0",
                                                    "open 0>1", "refresh 1>1!"}));
    EXPECT_EQ(form.shown, std::vector<std::string>{UpdateTexts::ProductRunning()});
    EXPECT_TRUE(table.Active()) << "the failed refresh leaves the table open";

    // The file is whole again; the next click starts from the open table.
    logged.beforeRefresh = nullptr;
    {
        auto file = os::realFileSystem().open(path, os::Access::ReadWrite, os::Share::Shared, os::Create::OpenExisting);
        file->truncate(0);
        file->writeAt(0, before);
    }
    logged.log.clear();
    form.shown.clear();
    form.BitBtn1Click(nullptr);
    EXPECT_EQ(logged.log, (std::vector<std::string>{"open 1>1", "close 1>0", "clear 0>0", "add 0>0", "add 0>0",
                                                    "open 0>1", "refresh 1>1", "close 1>0"}));
    EXPECT_EQ(form.shown, (std::vector<std::string>{UpdateTexts::Success(), "(terminate)"}));
    EXPECT_FALSE(table.Active());
}

INSTANTIATE_TEST_SUITE_P(
    RealTable, RefreshFailure,
    ::testing::Values(
        Damage{"TruncatedInsideItsHeader", [](os::File& f, std::uint64_t) { f.truncate(1000); }},
        Damage{"LastRecordCutOff",
               [](os::File& f, std::uint64_t size) {
                   // The file ends one byte before the last record of its last block does.
                   std::uint8_t head[0x12];
                   f.readAt(0, head);
                   const std::uint64_t recordSize = head[0] | head[1] << 8, headerSize = head[2] | head[3] << 8;
                   const std::uint64_t lastBlock = head[0x10] | head[0x11] << 8, blockSize = head[5] * 1024u;
                   const std::uint64_t block = headerSize + (lastBlock - 1) * blockSize;
                   std::uint8_t blockHead[6];
                   f.readAt(block, blockHead);
                   const auto lastOffset = static_cast<std::int16_t>(blockHead[4] | blockHead[5] << 8);
                   const std::uint64_t end = block + 6 + static_cast<std::uint64_t>(lastOffset) + recordSize;
                   ASSERT_LE(end, size);
                   f.truncate(end - 1);
               }},
        Damage{"RecordSizeChanged",
               [](os::File& f, std::uint64_t) {
                   std::uint8_t size[2];
                   f.readAt(0, size);
                   ++size[0];  // no longer the sum of the field sizes
                   f.writeAt(0, size);
               }},
        Damage{"HeaderSizeOverwritten",
               [](os::File& f, std::uint64_t) {
                   const std::uint8_t wrong[] = {0x00, 0x0A};  // 2560: no Paradox header size
                   f.writeAt(2, wrong);
               }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace atua::update
