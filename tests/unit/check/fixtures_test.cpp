// The fixture writer and make-movimento write what they say: pxlib reads the same records back,
// the checker sees the layout asked for.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "engine/check/checker.h"
#include "engine/check/paradox_file.h"
#include "tests/fixtures/movement_table.h"
#include "tests/fixtures/pxlib_reader.h"
#include "tests/unit/check/check_test_util.h"

namespace atua::fixtures {
namespace {

using check::testing::TempDir;

TEST(MovementFixture, WritesWhatItSays) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o;
    o.records = 500;
    o.seed = 21;
    o.autoIncrement = true;
    o.secondText = true;
    o.mixedCase = true;
    o.accented = true;
    o.duplicateKeys = 3;
    o.sortOrder = SortOrder::Dbwinus0;
    auto written = writeMovementTable(path, o);

    check::ParadoxFile f(path);
    const check::Header& h = f.header();
    EXPECT_EQ(h.fileType, 2);
    EXPECT_EQ(h.sortOrder, "DBWINUS0");
    EXPECT_EQ(h.sortByte, 0x4C);
    EXPECT_EQ(h.codePage, 1252);
    ASSERT_EQ(h.fields.size(), 6u);
    EXPECT_EQ(h.fields[0].name, "mov_cd_controle");
    EXPECT_EQ(h.fields[0].type, 0x16);
    EXPECT_EQ(h.fields[1].name, "cad_cd_cnpj");
    EXPECT_EQ(h.fields[1].size, kCnpjSize);
    EXPECT_EQ(h.fields[5].name, "mov_ds_observacao");
    EXPECT_EQ((h.blockSize() - 6) / h.recordSize, recordsPerBlock(o));

    PxTable back = readMovementTable(path);
    auto read = back.records;
    std::sort(read.begin(), read.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(read == written, true) << "pxlib read " << read.size() << " records, " << written.size() << " written";

    std::set<std::int32_t> codes;
    bool lower = false, accented = false;
    for (const auto& m : written) {
        codes.insert(m.controle);
        lower |= std::any_of(m.cnpj.begin(), m.cnpj.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        accented |= std::any_of(m.cnpj.begin(), m.cnpj.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
    }
    EXPECT_EQ(codes.size(), o.records - o.duplicateKeys);
    EXPECT_TRUE(lower);
    EXPECT_TRUE(accented);
    EXPECT_EQ(check::checkTable(path).exitCode(), 0);
}

TEST(MovementFixture, SameSeedSameRecords) {
    MovementOptions o;
    o.records = 300;
    o.seed = 5;
    EXPECT_EQ(movementRecords(o) == movementRecords(o), true);
    MovementOptions other = o;
    other.seed = 6;
    EXPECT_EQ(movementRecords(o) == movementRecords(other), false);
    other = o;
    other.shuffled = false;
    const auto ordered = movementRecords(other);
    EXPECT_TRUE(std::is_sorted(ordered.begin(), ordered.end(),
                               [](const MovementRecord& a, const MovementRecord& b) { return a.controle < b.controle; }));
}

int run(const std::string& args) {
    const int status = std::system((std::string(MAKE_MOVIMENTO_EXE) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MakeMovimento, OptionsShapeTheTable) {
    TempDir dir;
    ASSERT_EQ(run(dir.file("a.db") + " --records 1200 --seed 3"), 0);
    ASSERT_EQ(run(dir.file("b.db") + " --records 50 --no-cnpj"), 0);
    ASSERT_EQ(run(dir.file("c.db") + " --records 50 --duplicate-key --ordered"), 0);
    EXPECT_EQ(run(dir.file("d.db") + " --records many"), 2);
    EXPECT_EQ(run(dir.file("d.db") + " --sort-order klingon"), 2);
    EXPECT_EQ(run(""), 2);

    EXPECT_EQ(readMovementTable(dir.file("a.db")).records.size(), 1200u);
    const PxTable b = readMovementTable(dir.file("b.db"));
    EXPECT_TRUE(std::none_of(b.fields.begin(), b.fields.end(), [](const PxField& f) { return f.name == "cad_cd_cnpj"; }));
    const PxTable c = readMovementTable(dir.file("c.db"));
    std::set<std::int32_t> codes;
    for (const auto& m : c.records) codes.insert(m.controle);
    EXPECT_EQ(codes.size(), 49u);
}

}  // namespace
}  // namespace atua::fixtures
