// Regenerating the original engine's own files: the records of a reference family, written to
// an unkeyed table in shuffled order, get the same indexes added by our engine; the result must
// match the original engine's files apart from header bytes that hold memory addresses, times,
// the creation-time file name and the family stamps (which vary between the original files).
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <set>

#include "engine/os/file_system.h"
#include "engine/paradox/blocks.h"
#include "engine/paradox/table_file.h"
#include "engine/table.h"
#include "test_support.h"
#include "tests/unit/prerequisite.h"

namespace atua::test {
namespace {

using namespace atua::paradox;

struct Secondary {
    std::string name, fields;
    TIndexOptions options;
    std::string ext;  // e.g. "XG0", whose Y partner is compared as well
};

struct Family {
    std::string sample;  // file stem in the samples folder
    std::string table;   // table name in the scratch folder
    std::string primaryFields;
    std::vector<Secondary> secondaries;
};

// The reference file of that name, whatever the case of its extension ("" when absent).
std::string samplePath(const std::string& name) {
    if (!fs::is_directory(ATUA_SAMPLES_DIR)) return {};
    for (const auto& e : fs::directory_iterator(ATUA_SAMPLES_DIR)) {
        std::string n = e.path().filename().string();
        if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            }))
            return e.path().string();
    }
    return {};
}

// Header bytes that hold memory addresses, the update time, the name the file had when it was
// created, and the stamps/counters the original files do not agree on among themselves.
std::set<std::size_t> volatileOffsets(const Bytes& file) {
    std::set<std::size_t> v;
    auto range = [&](std::size_t from, std::size_t n) {
        for (std::size_t i = from; i < from + n; ++i) v.insert(i);
    };
    TableHeader h = parseTableHeader(file, file.size());
    range(off::Counter12, 2);
    range(off::Workspace, 4);
    range(off::Ptr1A, 4);
    range(0x30, 8);  // table-name and field-info pointers
    bool indexFile = h.fileType == FileType::PrimaryIndex || h.fileType == FileType::YIndex || h.fileType == FileType::YgIndex;
    std::size_t n = h.fields.size();
    if (indexFile) {
        range(off::Stamp2C, 2);
        range(off::AutoInc, 4);
        range(0x58 + 2 * n, 4 + static_cast<std::size_t>(h.nameSlot()));
    } else {
        if (h.fileType != FileType::KeyedTable) {
            range(off::ChangeCount1, 2);  // 0x2E: the table's value in 10 of the 11 reference .X files
            range(off::Stamp2F, 1);
            range(off::AutoInc, 4);
            range(0x70, 2);
        }
        range(off::UpdateTime, 4);
        range(0x78 + 2 * n, 4 + 4 * n + static_cast<std::size_t>(h.nameSlot()));
    }
    return v;
}

// Differences between our file and the original, outside the volatile header bytes; the used
// part of each block is compared (the rest of a block is free space).
std::vector<std::string> differences(const Bytes& ours, const Bytes& theirs) {
    std::vector<std::string> out;
    TableHeader h = parseTableHeader(theirs, theirs.size());
    // The original engine sometimes leaves the last block short after its used part (level-4
    // ZIPCODES); we always write whole blocks. Only the unused tail differs.
    std::size_t whole = static_cast<std::size_t>(h.headerSize) + static_cast<std::size_t>(h.fileBlocks) * static_cast<std::size_t>(h.blockSize);
    bool shortLastBlock = theirs.size() < whole && ours.size() == whole;
    if (ours.size() != theirs.size() && !shortLastBlock)
        out.push_back("size " + std::to_string(ours.size()) + " vs " + std::to_string(theirs.size()));
    auto skip = volatileOffsets(theirs);
    std::string volatileSeen;
    for (std::size_t i = 0; i < static_cast<std::size_t>(h.headerSize) && i < ours.size(); ++i)
        if (ours[i] != theirs[i]) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "header 0x%02zx: %02x vs %02x", i, ours[i], theirs[i]);
            if (!skip.count(i)) out.push_back(buf);
            else if (i < 0x78 && volatileSeen.size() < 400) volatileSeen += std::string(buf + 7) + "; ";
        }
    if (!volatileSeen.empty()) std::cout << "  volatile bytes that differ: " << volatileSeen << "\n";
    std::size_t entry = static_cast<std::size_t>(h.recordSize);
    for (int b = 0; b < h.fileBlocks; ++b) {
        std::size_t at = static_cast<std::size_t>(h.headerSize) + static_cast<std::size_t>(b) * static_cast<std::size_t>(h.blockSize);
        if (at + 6 > ours.size()) break;
        int last = static_cast<std::int16_t>(le16(theirs, at + 4));
        std::size_t used = 6 + static_cast<std::size_t>(last + static_cast<int>(entry));
        if (at + used > theirs.size() || at + used > ours.size()) {
            out.push_back("block " + std::to_string(b + 1) + " is cut short");
            break;
        }
        if (!std::equal(ours.begin() + static_cast<std::ptrdiff_t>(at), ours.begin() + static_cast<std::ptrdiff_t>(at + used),
                        theirs.begin() + static_cast<std::ptrdiff_t>(at)))
            out.push_back("block " + std::to_string(b + 1) + " differs");
    }
    return out;
}

// The sample's records, shuffled, in an unkeyed table with the sample's own header.
void writeShuffledUnkeyed(const std::string& sampleDb, const std::string& target) {
    Bytes original = readFile(sampleDb);
    TableHeader h = parseTableHeader(original, original.size());
    auto file = os::realFileSystem().open(sampleDb, os::Access::Read, os::Share::Shared);
    std::vector<Bytes> records;
    forEachRecord(*file, h, walkChain(*file, h, sampleDb),
                  [&](std::span<const std::uint8_t> r, std::uint16_t) { records.emplace_back(r.begin(), r.end()); });
    std::mt19937 rng(20240611);
    std::shuffle(records.begin(), records.end(), rng);

    // Blocks filled one short of capacity, so the rebuild has to repack them.
    int perBlock = std::max(1, h.recordsPerBlock() - 1);
    int blocks = static_cast<int>((records.size() + static_cast<std::size_t>(perBlock) - 1) / static_cast<std::size_t>(perBlock));
    Bytes out = h.raw;
    out[off::FileType] = 2;
    put16(out, off::KeyFields, 0);
    put32(out, off::Workspace, 0);
    out[off::ChangeCount1] = static_cast<std::uint8_t>(out[off::ChangeCount1] - 1);  // the addition moves it on
    put16(out, off::UsedBlocks, static_cast<std::uint32_t>(blocks));
    put16(out, off::FileBlocks, static_cast<std::uint32_t>(blocks));
    put16(out, off::LastBlock, static_cast<std::uint32_t>(blocks));
    put16(out, off::MaxBlocks, static_cast<std::uint32_t>(blocks));
    for (int b = 0; b < blocks; ++b) {
        Bytes block(static_cast<std::size_t>(h.blockSize), 0);
        std::size_t from = static_cast<std::size_t>(b * perBlock);
        std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(perBlock), records.size() - from);
        put16(block, 0, b + 1 < blocks ? static_cast<std::uint32_t>(b + 2) : 0u);
        put16(block, 2, static_cast<std::uint32_t>(b));
        put16(block, 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((static_cast<int>(count) - 1) * h.recordSize)));
        for (std::size_t r = 0; r < count; ++r)
            std::copy(records[from + r].begin(), records[from + r].end(), block.begin() + 6 + static_cast<std::ptrdiff_t>(r) * h.recordSize);
        out.insert(out.end(), block.begin(), block.end());
    }
    writeFile(target, out);
}

void PrintTo(const Family& f, std::ostream* os) { *os << f.sample; }

class Regenerate : public ::testing::TestWithParam<Family> {};

TEST_P(Regenerate, MatchesTheOriginalEnginesFiles) {
    const Family& f = GetParam();
    REQUIRE_PREREQUISITE(!samplePath(f.sample + ".DB").empty(), "reference files not found in " << ATUA_SAMPLES_DIR);
    TempDir dir;
    std::string table = dir.file(f.table + ".DB");
    writeShuffledUnkeyed(samplePath(f.sample + ".DB"), table);

    TTable t;
    t.TableName = table;
    t.AddIndex("", f.primaryFields, {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    for (const auto& s : f.secondaries) t.AddIndex(s.name, s.fields, s.options);

    std::vector<std::string> exts = {"DB", "PX"};
    for (const auto& s : f.secondaries) {
        exts.push_back(s.ext);
        exts.push_back("Y" + s.ext.substr(1));
    }
    for (const auto& ext : exts) {
        SCOPED_TRACE(f.table + "." + ext);
        Bytes ours = readFile(dir.file(f.table + "." + ext));
        Bytes theirs = readFile(samplePath(f.sample + "." + ext));
        ASSERT_FALSE(ours.empty()) << "not written";
        auto diffs = differences(ours, theirs);
        EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);
    }
    // Only the family's files are in the folder afterwards.
    std::vector<std::string> expected;
    for (const auto& ext : exts) expected.push_back(f.table + "." + ext);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(snapshot(dir.path())), expected);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceFamilies, Regenerate,
    ::testing::Values(
        Family{"db_AREACODES", "AREACODES", "AC", {{"ste", "State", {TIndexOption::ixCaseInsensitive}, "XG0"}}},
        Family{"db_CUSTOMER", "CUSTOMER", "CustNo", {{"City", "City", {}, "X06"}}},
        Family{"areas_ZIPCODES", "ZIPCODES", "Zip", {}},
        Family{"db_ORDERS", "ORDERS", "Order No", {}},
        Family{"joins_fk4", "FK4", "ID", {{"reference", "FK1;FK", {}, "XG0"}}},
        Family{"joins_C", "C", "C", {{"", "A", {}, "X02"}, {"B", "B", {}, "X03"}}},
        Family{"joins_multiple", "MULTIPLE", "ID", {{"FK", "FK", {}, "X02"}, {"FK2", "FK2", {}, "X04"}}}),
    [](const auto& info) { return info.param.table; });

}  // namespace
}  // namespace atua::test

namespace atua::test {
namespace {

// Every table the original engine wrote opens, with its fields; the encrypted one is refused.
TEST(ReferenceTables, OpenWithTheirFieldsOrAreRefusedWhenEncrypted) {
    REQUIRE_PREREQUISITE(fs::is_directory(ATUA_SAMPLES_DIR), "reference files not found in " << ATUA_SAMPLES_DIR);
    int opened = 0, tables = 0;
    for (const auto& e : fs::directory_iterator(ATUA_SAMPLES_DIR)) {
        std::string ext = e.path().extension().string();
        if (ext != ".DB" && ext != ".db") continue;
        ++tables;
        SCOPED_TRACE(e.path().filename().string());
        TTable t;
        t.TableName = e.path().string();
        if (e.path().filename().string().find("encrypt") != std::string::npos) {
            try {
                t.Open();
                ADD_FAILURE() << "an encrypted table opened";
            } catch (const EDBEngineError& err) {
                EXPECT_NE(err.Message().find("is encrypted"), std::string::npos) << err.Message();
            }
            continue;
        }
        t.ReadOnly = true;  // the reference folder is read-only
        t.Open();
        EXPECT_GT(t.FieldDefs.Count(), 0);
        EXPECT_GE(t.RecordCount(), 0);
        t.Close();
        ++opened;
    }
    EXPECT_EQ(opened, tables - 1);
    EXPECT_GE(tables, 14);
}

}  // namespace
}  // namespace atua::test
