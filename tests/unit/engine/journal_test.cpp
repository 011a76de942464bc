// Crash safety: an index addition cut off after any number of changes to the disk leaves, once
// the next open has run recovery, either the original files or the complete result.
#include <gtest/gtest.h>

#include "crash_fs.h"
#include "engine/paradox/add_index.h"
#include "engine/paradox/journal.h"
#include "engine/table.h"
#include "movement_fixture.h"
#include "test_support.h"

namespace atua::test {
namespace {

constexpr TIndexOptions kPrimary{TIndexOption::ixPrimary, TIndexOption::ixUnique};
constexpr TIndexOptions kCaseInsensitive{TIndexOption::ixCaseInsensitive};

struct Step {
    const char* name;
    std::function<void(TTable&)> before;  // done without faults
    std::function<void(TTable&)> cut;     // cut off by the power loss
};

void primary(TTable& t) { t.AddIndex("", "mov_cd_controle", kPrimary); }
void secondary(TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); }
// Both indexes, with a .PX as another engine might have left it (a different counter at 0x49),
// so that rebuilding them replaces files even though the table keeps its blocks.
void bothByAnotherEngine(TTable& t) {
    primary(t);
    secondary(t);
    const std::string px = (fs::path(t.TableName).parent_path() / "movimento.px").string();
    Bytes b = readFile(px);
    b.at(0x49) = 5;
    writeFile(px, b);
}

void PrintTo(const Step& s, std::ostream* os) { *os << s.name; }

class PowerLossSweep : public ::testing::TestWithParam<Step> {};

TEST_P(PowerLossSweep, RecoveryGivesTheOriginalOrTheResult) {
    const Step& step = GetParam();
    auto prepare = [&](const TempDir& dir) {
        // Blocks of 2 KB and a small sort budget: several sort runs, several index blocks.
        writeMovementTable(dir.file("movimento.db"), 700);
        TTable t;
        t.TableName = dir.file("movimento.db");
        step.before(t);
    };
    TempDir reference;
    prepare(reference);
    auto original = snapshot(reference.path());
    {
        TTable t;
        t.TableName = reference.file("movimento.db");
        step.cut(t);
    }
    auto result = snapshot(reference.path());
    ASSERT_NE(original, result);

    int outcomesOriginal = 0, outcomesResult = 0;
    for (int crashAt = 0;; ++crashAt) {
        TempDir dir;
        prepare(dir);
        CrashingFileSystem crashing(os::realFileSystem(), crashAt);
        TTable t(crashing);
        t.TableName = dir.file("movimento.db");
        bool finished = false;
        try {
            step.cut(t);
            finished = true;
        } catch (const PowerLoss&) {
        }
        if (finished) {
            EXPECT_FALSE(crashing.crashed());
            EXPECT_EQ(snapshot(dir.path()), result);
            break;
        }
        // The next start of the program opens the table: recovery runs first.
        TTable after;
        after.TableName = dir.file("movimento.db");
        after.Open();
        after.Close();
        auto now = snapshot(dir.path());
        if (now == original) ++outcomesOriginal;
        else if (now == result) ++outcomesResult;
        else ADD_FAILURE() << "after a power loss at change " << crashAt << " the folder holds " << ::testing::PrintToString(names(now));
        ASSERT_LT(crashAt, 10000);
    }
    // Both sides of the commit point were hit.
    EXPECT_GT(outcomesOriginal, 0);
    EXPECT_GT(outcomesResult, 0);
}

INSTANTIATE_TEST_SUITE_P(Additions, PowerLossSweep,
                         ::testing::Values(Step{"Primary", [](TTable&) {}, primary},
                                           Step{"Secondary", primary, secondary},
                                           Step{"PrimaryRebuildWithSecondary", bothByAnotherEngine, primary}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each state the journal can be found in, made by hand.
TEST(Journal, RecoveryFromEachState) {
    TempDir dir;
    std::string table = dir.file("movimento.db");
    writeMovementTable(table, 10);
    Bytes db = readFile(table);
    Bytes newDb = db;
    newDb[0x2D] ^= 0xFF;

    // 1. Temporary files but no journal: never committed, the temporary files go.
    writeFile(dir.path() / "movimento.db.atuatmp", newDb);
    writeFile(dir.path() / "movimento.px.atuatmp", Bytes(10, 1));
    writeFile(dir.path() / "movimento.db.sortdb-0.atuatmp", Bytes(10, 2));
    paradox::recoverTable(os::realFileSystem(), table);
    EXPECT_EQ(names(snapshot(dir.path())), std::vector<std::string>{"movimento.db"});
    EXPECT_EQ(readFile(table), db);

    // 2. A committed journal with no rename done yet: all renames are redone.
    auto commitAndCut = [&](int renamesDone) {
        writeFile(dir.path() / "movimento.db.atuatmp", newDb);
        writeFile(dir.path() / "movimento.px.atuatmp", Bytes(10, 1));
        // Changes of a commit: create, write and sync the journal, rename it, sync the folder
        // (the commit point), then one rename per file.
        CrashingFileSystem crashing(os::realFileSystem(), 5 + renamesDone);
        try {
            paradox::FileSwitch sw(crashing, table);
            sw.stage(table);
            sw.stage(dir.file("movimento.px"));
            sw.commit();
        } catch (const PowerLoss&) {
        }
    };
    for (int done = 0; done <= 2; ++done) {
        SCOPED_TRACE("renames done before the cut: " + std::to_string(done));
        writeFile(table, db);
        std::filesystem::remove(dir.path() / "movimento.px");
        commitAndCut(done);
        EXPECT_TRUE(fs::exists(dir.path() / "movimento.db.atuajnl")) << "cut before the journal was written";
        paradox::recoverTable(os::realFileSystem(), table);
        EXPECT_EQ(names(snapshot(dir.path())), (std::vector<std::string>{"movimento.db", "movimento.px"}));
        EXPECT_EQ(readFile(table), newDb);
        EXPECT_EQ(readFile(dir.path() / "movimento.px"), Bytes(10, 1));
    }

    // 3. A damaged journal (cut short) is no commit: the originals stay, the rest goes.
    writeFile(table, db);
    std::filesystem::remove(dir.path() / "movimento.px");
    writeFile(dir.path() / "movimento.db.atuatmp", newDb);
    writeFile(dir.path() / "movimento.db.atuajnl", Bytes{'A', 'T', 'U', 'A'});
    paradox::recoverTable(os::realFileSystem(), table);
    EXPECT_EQ(names(snapshot(dir.path())), std::vector<std::string>{"movimento.db"});
    EXPECT_EQ(readFile(table), db);
}

TEST(Journal, RecoveryWaitsWhileAnotherProgramHoldsTheTable) {
    TempDir dir;
    std::string table = dir.file("movimento.db");
    writeMovementTable(table, 10);
    writeFile(dir.path() / "movimento.db.atuatmp", Bytes(10, 1));
    TTable product;
    product.TableName = table;
    product.Open();  // recovery removes the leftover first: nobody else holds the table yet
    EXPECT_FALSE(fs::exists(dir.path() / "movimento.db.atuatmp"));
    writeFile(dir.path() / "movimento.db.atuatmp", Bytes(10, 1));
    TTable second;
    second.TableName = table;
    second.Open();  // shared open beside the product: leftovers stay while it is in use
    EXPECT_TRUE(fs::exists(dir.path() / "movimento.db.atuatmp"));
}

}  // namespace
}  // namespace atua::test
