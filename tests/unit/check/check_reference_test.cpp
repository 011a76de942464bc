// The checker against the files the original engine wrote: it accepts every reference family,
// and it rejects copies damaged in one place each.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "engine/check/checker.h"
#include "engine/check/index_seek.h"
#include "tests/unit/check/check_test_util.h"
#include "tests/unit/prerequisite.h"

namespace atua::check {
namespace {

using testing::TempDir;

const std::string kSamples = ATUA_SAMPLES_DIR;

bool samplesPresent() { return std::filesystem::is_directory(kSamples); }

#define REQUIRE_SAMPLES() REQUIRE_PREREQUISITE(samplesPresent(), "reference files not found at " << kSamples)

struct ReferenceCase {
    const char* table;
    int exitCode;
    std::size_t indexes;  // primary and secondary indexes reported
    int primaryLevels;
};

class ReferenceFamily : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(ReferenceFamily, IsAccepted) {
    REQUIRE_SAMPLES();
    const ReferenceCase& c = GetParam();
    const Report r = checkTable(kSamples + "/" + c.table);
    EXPECT_EQ(r.exitCode(), c.exitCode) << r.text();
    EXPECT_EQ(r.indexes.size(), c.indexes) << r.text();
    if (!r.indexes.empty()) {
        EXPECT_EQ(r.indexes[0].levels, c.primaryLevels) << r.text();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ReferenceFamily,
    ::testing::Values(ReferenceCase{"db_AREACODES.DB", 0, 2, 1},   // .XG0/.YG0, 16 KB blocks, DBWINUS0
                      ReferenceCase{"db_CUSTOMER.DB", 0, 2, 1},    // .X06/.Y06, autoincrement key
                      ReferenceCase{"areas_ZIPCODES.DB", 0, 1, 2}, // two-level .PX, short last block
                      ReferenceCase{"joins_fk4.db", 0, 2, 1},      // composite named index
                      ReferenceCase{"joins_C.DB", 0, 3, 1},        // two single-field indexes
                      ReferenceCase{"joins_multiple.db", 0, 3, 0}, // empty keyed table
                      ReferenceCase{"joins_indexed.db", 0, 1, 0},  // unkeyed, descending .XG0
                      ReferenceCase{"joins_case.db", 0, 1, 0},     // unkeyed, out-of-date .X01
                      ReferenceCase{"fields_long.db", 0, 1, 1},
                      ReferenceCase{"db_ORDERS.DB", 0, 1, 1},
                      ReferenceCase{"db_CONTACTS.DB", 0, 0, 0},
                      ReferenceCase{"fields_date7.db", 0, 0, 0},
                      ReferenceCase{"fields_bcd.db", 0, 0, 0},
                      ReferenceCase{"encrypt_encrypted.db", 3, 0, 0}),
    [](const auto& info) {
        std::string n = info.param.table;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(ReferenceFamily, ReportsWhatEachFileIs) {
    REQUIRE_SAMPLES();
    const Report r = checkTable(kSamples + "/db_AREACODES.DB");
    ASSERT_EQ(r.files.size(), 4u) << r.text();
    EXPECT_EQ(r.files[0].name, "db_AREACODES.DB");
    EXPECT_NE(r.files[0].description.find("keyed table, 370 records in 4 blocks of 16 KB, sort order DBWINUS0"), std::string::npos);
    EXPECT_EQ(r.files[2].name, "db_AREACODES.XG0");
    EXPECT_NE(r.files[2].description.find("\"ste\" on State"), std::string::npos);
    ASSERT_EQ(r.indexes.size(), 2u);
    EXPECT_EQ(r.indexes[1].name, "ste");
    EXPECT_EQ(r.indexes[1].order, IndexOrder::Bytes);
    EXPECT_EQ(r.indexes[1].entries, 370u);
    EXPECT_NE(r.text().find("all checks hold"), std::string::npos);
}

// The original engine's ANSII850 index is in that sort order's order under the published
// weights, every neighbouring pair decided.
TEST(ReferenceFamily, Ansii850IndexFollowsThePublishedWeights) {
    REQUIRE_SAMPLES();
    const Report r = checkTable(kSamples + "/db_CUSTOMER.DB");
    ASSERT_EQ(r.indexes.size(), 2u) << r.text();
    EXPECT_EQ(r.indexes[1].order, IndexOrder::Bytes) << r.text();
    ASSERT_GE(r.files.size(), 3u);
    EXPECT_NE(r.files[2].description.find("ANSII850 order"), std::string::npos) << r.text();
    EXPECT_EQ(r.text().find("not verified"), std::string::npos) << r.text();
}

// Lookups through the original engine's trees find what a full scan finds.
TEST(ReferenceLookup, SeeksAgreeWithScans) {
    REQUIRE_SAMPLES();
    TableLookup t(kSamples + "/db_AREACODES.DB");
    const auto all = t.scan(1, std::vector<std::uint8_t>(5, 0), false);  // no blank codes
    EXPECT_TRUE(all.empty());
    for (const char* code : {"201", "212", "907", "999"}) {
        std::vector<std::uint8_t> key(5, 0);
        std::copy_n(code, 3, key.begin());
        const auto scanned = t.scan(1, key, false);
        const auto found = t.byPrimaryKey(key);
        ASSERT_EQ(found.has_value(), !scanned.empty()) << code;
        if (found) {
            EXPECT_EQ(*found, scanned.front()) << code;
        }
    }
    std::size_t total = 0;
    for (const char* state : {"NY", "CA", "ca", "AK", "ZZ"}) {
        std::vector<std::uint8_t> value(3, 0);
        std::copy_n(state, 2, value.begin());
        auto seek = t.bySecondary(kSamples + "/db_AREACODES.XG0", value, false);
        auto scan = t.scan(2, value, false);
        std::sort(seek.begin(), seek.end());
        std::sort(scan.begin(), scan.end());
        EXPECT_EQ(seek, scan) << state;
        total += scan.size();
    }
    EXPECT_GT(total, 10u);  // the states chosen do occur
    EXPECT_LT(t.blocksRead(), 200u);
}

// ---- damaged copies ----

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kHead = 0x800;

std::size_t block(std::size_t n, std::size_t blockSize) { return kHead + (n - 1) * blockSize; }
// AREACODES: table records of 165 bytes in 16 KB blocks; .PX entries of 11 bytes in 2 KB blocks;
// .XG0 records of 10 bytes (State A3, AC A5, Blk Num) in one 16 KB block; .YG0 entries of 14.
std::size_t dbRecord(std::size_t n, std::size_t i) { return block(n, 0x4000) + 6 + i * 165; }
std::size_t pxEntry(std::size_t blk, std::size_t i) { return block(blk, 0x800) + 6 + i * 11; }
std::size_t xgRecord(std::size_t i) { return block(1, 0x4000) + 6 + i * 10; }

void setU16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint16_t getU16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }
void swapRange(Bytes& b, std::size_t x, std::size_t y, std::size_t n) { std::swap_ranges(b.begin() + x, b.begin() + x + n, b.begin() + y); }

struct Damage {
    const char* name;
    const char* family;  // stem of the reference family
    const char* table;   // file given to the checker
    const char* target;  // file damaged; nullptr with remove
    std::function<void(Bytes&)> edit;  // empty: the target file is removed
    const char* expected;  // part of a problem's text
};

class DamagedCopy : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedCopy, IsRejected) {
    REQUIRE_SAMPLES();
    const Damage& d = GetParam();
    TempDir dir;
    testing::copyFamily(kSamples, d.family, dir.path());
    const Report before = checkTable(dir.file(d.table));
    ASSERT_EQ(before.exitCode(), 0) << before.text();

    const std::string target = dir.file(d.target);
    if (d.edit) {
        Bytes b = testing::readBytes(target);
        d.edit(b);
        testing::writeBytes(target, b);
    } else {
        std::filesystem::remove(target);
    }
    const Report r = checkTable(dir.file(d.table));
    EXPECT_EQ(r.exitCode(), 1) << r.text();
    EXPECT_NE(r.text().find(d.expected), std::string::npos) << "expected \"" << d.expected << "\" in:\n" << r.text();
}

const Damage kDamages[] = {
    {"ChainLoop", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { setU16(b, block(3, 0x4000), 1); }, "the chain loops"},
    {"PreviousPointer", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { setU16(b, block(2, 0x4000) + 2, 3); }, "names block 3 as previous"},
    {"HeaderRecordCount", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { b[0x06] += 1; }, "the header counts 371"},
    {"BlockRecordCount", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { setU16(b, block(4, 0x4000) + 4, static_cast<std::uint16_t>(getU16(b, block(4, 0x4000) + 4) - 165)); },
     "the blocks hold 369 records"},
    {"RecordsSwapped", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { swapRange(b, dbRecord(2, 10), dbRecord(2, 11), 165); }, "out of key order"},
    {"DuplicateKey", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { std::copy_n(b.begin() + dbRecord(2, 10), 5, b.begin() + dbRecord(2, 11)); }, "occurs more than once"},
    {"TruncatedTable", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { b.resize(block(3, 0x4000)); }, "outside the file"},
    {"LeafCount", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[pxEntry(1, 1) + 8] += 1; }, "records, data block 2 holds 99"},
    {"LeafChildRepeated", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { std::copy_n(b.begin() + pxEntry(1, 0) + 5, 2, b.begin() + pxEntry(1, 1) + 5); }, "another entry points to as well"},
    {"LeafKey", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[pxEntry(1, 2) + 2] ^= 0x01; }, "differs from the first record of data block 3"},
    {"ThirdValue", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[pxEntry(1, 0) + 10] ^= 0x01; }, "third value"},
    {"PrimaryIndexType", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[0x04] = 4; }, "not a primary index"},
    {"PrimaryIndexBlockSize", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[0x05] = 3; }, "ends inside block"},
    {"PrimaryIndexVersion", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX",
     [](Bytes& b) { b[0x39] = 0x0B; }, "differs from the table's"},
    {"RebuildFlag", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { b[0x14] = 1; }, "needing a rebuild"},
    {"HeaderBlockCount", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.DB",
     [](Bytes& b) { b[0x0C] -= 1; }, "the header counts 3 blocks but the file holds 4"},
    {"PrimaryIndexMissing", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.PX", {}, "without its primary index"},
    {"SecondaryValue", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { b[xgRecord(200)] = 'z'; }, "matches no table record"},
    {"SecondaryBlockHint", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { b[xgRecord(7) + 9] ^= 0x07; }, "Blk Num of"},
    {"SecondaryOrder", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { swapRange(b, xgRecord(100), xgRecord(101), 10); }, "records out of"},
    {"SecondaryCount", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { b[0x06] -= 1; }, "the header counts 369"},
    {"SecondaryStamp", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.XG0",
     [](Bytes& b) { b[0x2F] ^= 0x01; }, "stamp 0x2F"},
    {"SecondaryTreeKey", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.YG0",
     [](Bytes& b) { b[block(1, 0x800) + 6] ^= 0x01; }, "differs from the first record of data block 1"},
    {"SecondaryTreeMissing", "db_AREACODES", "db_AREACODES.DB", "db_AREACODES.YG0", {}, "is missing"},
    {"RootCount", "areas_ZIPCODES", "areas_ZIPCODES.DB", "areas_ZIPCODES.PX",
     [](Bytes& b) { b[pxEntry(3, 1) + 8] += 1; }, "its subtree holds"},
    {"RootKey", "areas_ZIPCODES", "areas_ZIPCODES.DB", "areas_ZIPCODES.PX",
     [](Bytes& b) { b[pxEntry(3, 2) + 4] ^= 0x01; }, "differs from the first key of block"},
    {"CountBeyondShort", "areas_ZIPCODES", "areas_ZIPCODES.DB", "areas_ZIPCODES.PX",
     [](Bytes& b) { b[pxEntry(3, 0) + 7] = 0; b[pxEntry(3, 0) + 8] = 0; }, "beyond a Short"},
    {"InnerLeafChild", "areas_ZIPCODES", "areas_ZIPCODES.DB", "areas_ZIPCODES.PX",
     [](Bytes& b) { swapRange(b, pxEntry(1, 5) + 5, pxEntry(1, 6) + 5, 2); }, "differs from the first record of data block"},
    {"CityValue", "db_CUSTOMER", "db_CUSTOMER.DB", "db_CUSTOMER.X06",
     [](Bytes& b) { b[block(1, 0x800) + 6 + 3 * 21 + 1] ^= 0x20; }, "has no index record"},
};

INSTANTIATE_TEST_SUITE_P(Samples, DamagedCopy, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// Random damage anywhere in the family: the checker reports, it never crashes or throws (the
// sanitizer build runs this too). Much of a file is free to change (RAM pointers and counters in
// the headers, the slack after the last record of a block), so only a good share of the damage
// must be found; the damage tests above say which.
TEST(RandomDamage, IsReportedWithoutCrashing) {
    REQUIRE_SAMPLES();
    std::mt19937 rng(7);
    std::size_t rejected = 0, runs = 0;
    const std::pair<const char*, const char*> families[] = {
        {"db_AREACODES", "db_AREACODES.DB"}, {"db_CUSTOMER", "db_CUSTOMER.DB"}, {"joins_fk4", "joins_fk4.db"}, {"joins_C", "joins_C.DB"}};
    for (const auto& [stem, tableName] : families) {
        TempDir dir;
        testing::copyFamily(kSamples, stem, dir.path());
        std::vector<std::filesystem::path> files;
        std::map<std::filesystem::path, Bytes> original;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            files.push_back(e.path());
            original[e.path()] = testing::readBytes(e.path().string());
        }
        std::sort(files.begin(), files.end());
        const std::string table = dir.file(tableName);
        for (int i = 0; i < 60; ++i, ++runs) {
            const auto& f = files[rng() % files.size()];
            Bytes b = original[f];
            // Headers and block headers are where damage hurts most: aim there half the time.
            for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) {
                const std::size_t at = rng() % 2 ? rng() % std::min<std::size_t>(b.size(), 0x60) : rng() % b.size();
                b[at] = static_cast<std::uint8_t>(b[at] ^ (1u << (rng() % 8)));
            }
            testing::writeBytes(f.string(), b);
            Report r;
            ASSERT_NO_THROW(r = checkTable(table)) << f;
            rejected += r.exitCode() != 0;
            testing::writeBytes(f.string(), original[f]);
        }
        EXPECT_EQ(checkTable(table).exitCode(), 0) << stem;
    }
    EXPECT_GT(rejected, runs / 3);
}

// ---- the command line ----

int runChecker(const std::string& args) {
    const int status = std::system((std::string(TARVO_CHECK_EXE) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CommandLine, ExitCodeTellsTheOutcome) {
    REQUIRE_SAMPLES();
    TempDir dir;
    testing::copyFamily(kSamples, "db_AREACODES", dir.path());
    testing::copyFamily(kSamples, "encrypt_encrypted", dir.path());
    EXPECT_EQ(runChecker(dir.file("db_AREACODES.DB")), 0);
    EXPECT_EQ(runChecker(dir.file("encrypt_encrypted.db")), 3);
    EXPECT_EQ(runChecker(dir.file("no_such_table.db")), 1);
    EXPECT_EQ(runChecker(""), 2);
    EXPECT_EQ(runChecker("--bogus " + dir.file("db_AREACODES.DB")), 2);

    Bytes b = testing::readBytes(dir.file("db_AREACODES.PX"));
    b[pxEntry(1, 1) + 8] += 1;
    testing::writeBytes(dir.file("db_AREACODES.PX"), b);
    EXPECT_EQ(runChecker(dir.file("db_AREACODES.DB")), 1);
}

}  // namespace
}  // namespace atua::check
