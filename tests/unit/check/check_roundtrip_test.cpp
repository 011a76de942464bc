// Round trips of the engine's index addition: pxlib writes a movement table, the engine adds the
// two indexes the update adds, then pxlib reads every record back through the new .PX (and the
// .XG0 as a table), and the checker verifies the whole family.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/check/checker.h"
#include "engine/check/index_seek.h"
#include "engine/table.h"
#include "tests/fixtures/movement_table.h"
#include "tests/fixtures/pxlib_reader.h"
#include "tests/unit/check/check_test_util.h"

namespace atua::check {
namespace {

using fixtures::MovementOptions;
using fixtures::MovementRecord;
using fixtures::SortOrder;
using testing::TempDir;

// What the update does to the table, step by step.
void runUpdate(const std::string& path) {
    TTable t;
    t.TableName = path;
    t.Open();
    t.Close();
    t.IndexDefs.Clear();
    t.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {TIndexOption::ixCaseInsensitive});
    t.Open();
    t.Refresh();
    t.Close();
}

std::vector<MovementRecord> sorted(std::vector<MovementRecord> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::string show(const MovementRecord& m) {
    return std::to_string(m.controle) + " \"" + m.cnpj + "\" " + std::to_string(m.data) + " " + std::to_string(m.valor) + " \"" +
           m.historico + "\" \"" + m.observacao + "\"";
}

// The same records, in any order; otherwise the counts and the first difference.
::testing::AssertionResult sameRecords(const std::vector<MovementRecord>& read, const std::vector<MovementRecord>& written) {
    const auto a = sorted(read);
    const auto b = sorted(written);
    if (a == b) return ::testing::AssertionSuccess();
    auto fail = ::testing::AssertionFailure() << "read " << a.size() << " records, wrote " << b.size();
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (!(a[i] == b[i])) return fail << "; first difference: read " << show(a[i]) << ", wrote " << show(b[i]);
    return fail;
}

std::string findFile(const TempDir& dir, const std::string& upperExt) {
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
        if (ext == upperExt) return e.path().string();
    }
    return {};
}

Options engineOptions() {
    Options o;
    o.strictStamps = true;
    o.caseInsensitive = {"CNPJ_IDX"};
    return o;
}

struct RoundTrip {
    const char* name;
    std::size_t records;  // SIZE_MAX: one full block
    MovementOptions options;
};

MovementOptions with(std::uint32_t seed, void (*tweak)(MovementOptions&) = nullptr) {
    MovementOptions o;
    o.seed = seed;
    if (tweak) tweak(o);
    return o;
}

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.name; }

class EngineRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(EngineRoundTrip, RecordsAndIndexesHold) {
    const RoundTrip& c = GetParam();
    MovementOptions o = c.options;
    o.records = c.records == SIZE_MAX ? fixtures::recordsPerBlock(o) : c.records;
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    const auto written = fixtures::writeMovementTable(path, o);

    ASSERT_NO_THROW(runUpdate(path));

    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    ASSERT_EQ(r.indexes.size(), 2u) << r.text();
    EXPECT_EQ(r.indexes[0].fields, std::vector<std::string>{"mov_cd_controle"});
    EXPECT_EQ(r.indexes[1].name, "CNPJ_IDX");
    EXPECT_EQ(r.indexes[1].fields, std::vector<std::string>{"cad_cd_cnpj"});
    EXPECT_EQ(r.indexes[1].order, IndexOrder::CaseInsensitive) << r.text();
    EXPECT_EQ(r.indexes[1].entries, o.records);

    // pxlib finds every record through the new primary index. It reads single-level trees
    // only; deeper ones the checker has walked above, and pxlib reads the records in order.
    const std::string px = findFile(dir, ".PX");
    ASSERT_FALSE(px.empty());
    const bool pxlibReadsTree = r.indexes[0].levels <= 1;
    const fixtures::PxTable back = fixtures::readMovementTable(path, pxlibReadsTree ? px : std::string());
    EXPECT_EQ(back.fileType, 0);
    EXPECT_EQ(back.primaryKeyFields, 1);
    EXPECT_TRUE(sameRecords(back.records, written));
    EXPECT_TRUE(std::is_sorted(back.records.begin(), back.records.end(),
                               [](const MovementRecord& a, const MovementRecord& b) { return a.controle < b.controle; }));

    // pxlib reads the secondary index as the table it is: CNPJ and control code of each record.
    const std::string xg = findFile(dir, ".XG0");
    ASSERT_FALSE(xg.empty());
    const fixtures::PxTable x = fixtures::readMovementTable(xg);
    std::vector<std::pair<std::string, std::int32_t>> want, have;
    for (const auto& m : written) want.emplace_back(m.cnpj, m.controle);
    for (const auto& m : x.records) have.emplace_back(m.cnpj, m.controle);
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    EXPECT_TRUE(have == want) << "the .XG0 holds " << have.size() << " (CNPJ, control code) pairs, the table " << want.size();
}

INSTANTIATE_TEST_SUITE_P(
    Movement, EngineRoundTrip,
    ::testing::Values(
        RoundTrip{"Empty", 0, with(1)},
        RoundTrip{"OneRecord", 1, with(2)},
        RoundTrip{"OneFullBlock", SIZE_MAX, with(3)},
        RoundTrip{"SeveralBlocks", 7 * 27 + 5, with(4)},
        RoundTrip{"TenThousand", 10'000, with(5)},
        RoundTrip{"TenThousandOrderedAutoInc", 10'000, with(6, [](MovementOptions& o) { o.shuffled = false; o.autoIncrement = true; })},
        RoundTrip{"MixedCaseDbwinus0", 5'000, with(7, [](MovementOptions& o) { o.mixedCase = true; o.sortOrder = SortOrder::Dbwinus0; })},
        RoundTrip{"AccentedDbwinus0", 5'000, with(8, [](MovementOptions& o) {
                      o.mixedCase = true;
                      o.accented = true;
                      o.secondText = true;
                      o.sortOrder = SortOrder::Dbwinus0;
                  })},
        RoundTrip{"HundredThousand", 100'000, with(9)}),
    [](const auto& info) { return std::string(info.param.name); });

// Every kind of CNPJ field units keep, under each sort order with published weights: both
// indexes are added (none of these values needs a rule the tables leave open), the checker
// verifies them in the driver's order and pxlib reads everything back.
std::vector<RoundTrip> everyKindUnderEveryPublishedOrder() {
    static const char* const kinds[] = {"OneFormat", "DigitsOnly", "CpfOnly", "FormatsMixed", "CpfAndCnpj", "Blanks", "LeadingSpace",
                                        "LowerCase", "Alphanumeric", "Accents", "Words", "MixedCase", "FewCompanies", "EveryKind"};
    const std::pair<SortOrder, const char*> orders[] = {{SortOrder::Ansiintl, "Ansiintl"}, {SortOrder::Ansii850, "Ansii850"}, {SortOrder::Intl, "Intl"}};
    static std::vector<std::string> names;
    names.reserve(std::size(kinds) * std::size(orders));
    std::vector<RoundTrip> out;
    for (const auto& [order, orderName] : orders) {
        for (std::size_t k = 0; k < std::size(kinds); ++k) {
            names.push_back(std::string(kinds[k]) + orderName);
            MovementOptions o;
            o.seed = static_cast<std::uint32_t>(100 + k);
            o.sortOrder = order;
            o.cnpjKind = static_cast<fixtures::CnpjKind>(k + 1);
            out.push_back({names.back().c_str(), 3'000, o});
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(PublishedSortOrders, EngineRoundTrip, ::testing::ValuesIn(everyKindUnderEveryPublishedOrder()),
                         [](const auto& info) { return std::string(info.param.name); });

// A family indexed in byte order (DBWINUS0) and then relabelled ANSIINTL: accented capitals
// (Á = 0xC1) are out of ANSIINTL's order, where Á weighs as an A, and the checker says so
// rather than leaving the pair unverified.
TEST(EngineRoundTripSortOrder, ByteOrderUnderAnsiintlIsReported) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(21);
    o.records = 2'000;
    o.sortOrder = SortOrder::Dbwinus0;
    o.cnpjKind = fixtures::CnpjKind::Accents;
    fixtures::writeMovementTable(path, o);
    ASSERT_NO_THROW(runUpdate(path));
    ASSERT_EQ(checkTable(path, engineOptions()).exitCode(), 0);
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        auto bytes = testing::readBytes(e.path().string());
        bytes[0x29] = 0x62;
        const std::string from = "DBWINUS0";
        auto at = std::search(bytes.begin(), bytes.begin() + std::min<std::ptrdiff_t>(0x800, static_cast<std::ptrdiff_t>(bytes.size())), from.begin(), from.end());
        if (at != bytes.begin() + std::min<std::ptrdiff_t>(0x800, static_cast<std::ptrdiff_t>(bytes.size()))) std::copy_n("ANSIINTL", 8, at);
        testing::writeBytes(e.path().string(), bytes);
    }
    const Report r = checkTable(path, engineOptions());
    EXPECT_NE(r.exitCode(), 0) << r.text();
    EXPECT_NE(r.text().find("out of case-insensitive ANSIINTL order"), std::string::npos) << r.text();
}

// Lookups through the engine's trees find what a scan finds, and read few blocks.
TEST(EngineRoundTripLookup, SeekMatchesScan) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(11, [](MovementOptions& m) { m.mixedCase = true; m.sortOrder = SortOrder::Dbwinus0; });
    o.records = 20'000;
    const auto written = fixtures::writeMovementTable(path, o);
    ASSERT_NO_THROW(runUpdate(path));
    TableLookup t(path);
    for (std::size_t i : {std::size_t{0}, written.size() / 2, written.size() - 1}) {
        const MovementRecord& m = written[i];
        std::vector<std::uint8_t> code(4);
        const std::uint32_t v = static_cast<std::uint32_t>(m.controle) ^ 0x80000000u;
        for (int k = 0; k < 4; ++k) code[k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
        const auto found = t.byPrimaryKey(code);
        ASSERT_TRUE(found.has_value()) << m.controle;
        EXPECT_EQ(*found, t.scan(1, code, false).at(0));

        std::vector<std::uint8_t> cnpj(fixtures::kCnpjSize, 0);
        std::string folded = m.cnpj;
        std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) { return std::tolower(c); });
        std::copy(folded.begin(), folded.end(), cnpj.begin());
        auto seek = t.bySecondary(findFile(dir, ".XG0"), cnpj, true);
        auto scan = t.scan(2, cnpj, true);
        std::sort(seek.begin(), seek.end());
        std::sort(scan.begin(), scan.end());
        EXPECT_FALSE(scan.empty());
        EXPECT_EQ(seek, scan) << m.cnpj;
    }
}

// Values a real table holds besides the plain ones: negative control codes, blank CNPJs, CNPJs
// that differ only in case. Under both sort orders the engine's indexes must verify.
class EngineUnusualValues : public ::testing::TestWithParam<SortOrder> {};

TEST_P(EngineUnusualValues, Verify) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(15);
    o.records = 3'000;
    o.sortOrder = GetParam();
    auto records = fixtures::movementRecords(o);
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i % 2) records[i].controle = -records[i].controle;
        if (i % 7 == 0) records[i].cnpj.clear();
    }
    fixtures::writeMovementTable(path, records, o);
    ASSERT_NO_THROW(runUpdate(path));
    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path, findFile(dir, ".PX")).records, records));
}

INSTANTIATE_TEST_SUITE_P(SortOrders, EngineUnusualValues, ::testing::Values(SortOrder::Ansiintl, SortOrder::Dbwinus0),
                         [](const auto& info) { return std::string(info.param == SortOrder::Ansiintl ? "Ansiintl" : "Dbwinus0"); });

// A table edited for years: blocks part-filled, out of physical order, spare blocks at the end
// or in the free list. The checker accepts the aged table as it is, and the engine's result.
struct Aging {
    const char* name;
    std::size_t thin, spare;
    bool freeList;
};

class EngineAgedTable : public ::testing::TestWithParam<Aging> {};

TEST_P(EngineAgedTable, Verifies) {
    const Aging& a = GetParam();
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(16);
    o.records = 2'500;
    const auto kept = fixtures::ageTable(path, fixtures::writeMovementTable(path, o), 99, a.thin, a.spare, a.freeList);
    const Report aged = checkTable(path);
    ASSERT_EQ(aged.exitCode(), 0) << aged.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path).records, kept));

    ASSERT_NO_THROW(runUpdate(path));
    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path, findFile(dir, ".PX")).records, kept));
}

INSTANTIATE_TEST_SUITE_P(Movement, EngineAgedTable,
                         ::testing::Values(Aging{"Shuffled", 0, 0, false}, Aging{"ThinnedShuffled", 3, 0, false},
                                           Aging{"SpareBlocks", 5, 4, false}, Aging{"FreeList", 2, 6, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Large blocks, as some of the original engine's tables have: with 16 KB blocks a leaf entry of
// the .YG0 covers 682 records, so a full index block would count more than a Short holds.
struct LargeBlocks {
    int kib;
    std::size_t records;
};

class EngineLargeBlocks : public ::testing::TestWithParam<LargeBlocks> {};

TEST_P(EngineLargeBlocks, Verify) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(17);
    o.records = GetParam().records;
    const auto written = fixtures::writeMovementTable(path, o);
    fixtures::reblockTable(path, GetParam().kib);
    ASSERT_EQ(checkTable(path).exitCode(), 0);
    ASSERT_NO_THROW(runUpdate(path));
    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path).records, written));
}

// 60,000 records in 16 KB blocks make 88 .XG0 blocks: more than one .YG0 block can count.
INSTANTIATE_TEST_SUITE_P(Movement, EngineLargeBlocks,
                         ::testing::Values(LargeBlocks{4, 15'000}, LargeBlocks{16, 60'000}, LargeBlocks{32, 15'000}),
                         [](const auto& info) { return std::to_string(info.param.kib) + "KB"; });

// A second run over an updated table (the update does not look for existing indexes): whatever
// the engine answers, the family still verifies and holds every record.
TEST(EngineRoundTripAgain, SecondRunLeavesAValidFamily) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(14);
    o.records = 4'000;
    const auto written = fixtures::writeMovementTable(path, o);
    runUpdate(path);
    try {
        runUpdate(path);
    } catch (const EDatabaseError& e) {
        EXPECT_FALSE(e.Message().empty());
    }
    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_EQ(r.indexes.size(), 2u) << r.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path, findFile(dir, ".PX")).records, written));
}

// Refusals leave the table as it was, and the checker still accepts what is there.
TEST(EngineRefusal, DuplicateControlCodesLeaveTheTableUnchanged) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(12);
    o.records = 3'000;
    o.duplicateKeys = 2;
    fixtures::writeMovementTable(path, o);
    const auto before = testing::readBytes(path);
    TTable t;
    t.TableName = path;
    EXPECT_THROW(t.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique}), EDBEngineError);
    EXPECT_EQ(testing::readBytes(path), before);
    EXPECT_TRUE(findFile(dir, ".PX").empty());
    const Report r = checkTable(path);
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST(EngineRefusal, MissingCnpjKeepsThePrimaryIndex) {
    TempDir dir;
    const std::string path = dir.file("movimento.db");
    MovementOptions o = with(13);
    o.records = 2'000;
    o.withCnpj = false;
    const auto written = fixtures::writeMovementTable(path, o);
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    EXPECT_THROW(t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {TIndexOption::ixCaseInsensitive}), EDatabaseError);
    const Report r = checkTable(path, engineOptions());
    EXPECT_EQ(r.exitCode(), 0) << r.text();
    EXPECT_EQ(r.indexes.size(), 1u) << r.text();
    EXPECT_TRUE(sameRecords(fixtures::readMovementTable(path, findFile(dir, ".PX")).records, written));
}

}  // namespace
}  // namespace atua::check
