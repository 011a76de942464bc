// Bounded-memory sorting and B-trees of any depth.
#include <gtest/gtest.h>

#include <random>

#include "engine/os/file_system.h"
#include "engine/paradox/add_index.h"
#include "engine/paradox/blocks.h"
#include "engine/paradox/external_sort.h"
#include "engine/paradox/record_order.h"
#include "engine/table.h"
#include "movement_fixture.h"
#include "test_support.h"

namespace atua::test {
namespace {

using namespace atua::paradox;

// The header's record count only sizes the first buffer: a table holding more records than it
// says (or fewer) is still sorted whole, in memory or through runs.
struct SorterCase {
    const char* name;
    std::size_t budget;
    std::uint64_t expectedRecords;
    bool spills;
};

class ExternalSortCase : public ::testing::TestWithParam<SorterCase> {};

TEST_P(ExternalSortCase, KeepsEveryRecordInKeyOrderAndEqualKeysInInputOrder) {
    const SorterCase& c = GetParam();
    TempDir dir;
    std::mt19937 rng(7);
    constexpr std::size_t kRecord = 12, kKey = 4;
    std::vector<Bytes> input;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        Bytes r(kRecord);
        std::uint32_t key = rng() % 3000;  // many equal keys
        for (int b = 0; b < 4; ++b) r[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(key >> (24 - 8 * b));
        for (int b = 0; b < 4; ++b) r[4 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (24 - 8 * b));
        input.push_back(r);
    }
    {
        ExternalSorter sorter(os::realFileSystem(), dir.file("t.sort"), ".tmp", kRecord, kKey, c.budget, c.expectedRecords);
        for (const auto& r : input) sorter.add(r);
        sorter.finish();
        if (c.spills) EXPECT_GT(sorter.runCount(), 10u);
        else EXPECT_EQ(sorter.runCount(), 0u) << "nothing should have gone to run files";
        std::vector<Bytes> out;
        for (auto r = sorter.next(); !r.empty(); r = sorter.next()) out.emplace_back(r.begin(), r.end());
        std::vector<Bytes> expected = input;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Bytes& a, const Bytes& b) { return std::memcmp(a.data(), b.data(), kKey) < 0; });
        EXPECT_EQ(out, expected);
    }
    EXPECT_TRUE(snapshot(dir.path()).empty()) << "sort runs left behind";
}

INSTANTIATE_TEST_SUITE_P(Budgets, ExternalSortCase,
                         ::testing::Values(SorterCase{"SpillsBeyondItsBudget", 16 * 1024, UINT64_MAX, true},
                                           SorterCase{"SpillsWhenTheHeaderUndercounts", 16 * 1024, 10, true},
                                           SorterCase{"GrowsInMemoryWhenTheHeaderUndercounts", 4u << 20, 10, false},
                                           SorterCase{"HeldWhenTheHeaderOvercounts", 4u << 20, 1u << 30, false},
                                           SorterCase{"HeldWhenTheHeaderSaysNone", 4u << 20, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// What the sort entries of all records cost is worked out in 64 bits: a record count whose
// entries come to just past 4 GiB must not look like a few bytes to a 32-bit build (and have it
// reserve entries for every record). Whatever the cost of one entry, from 8 to 64 bytes, such a
// count takes a way that fits the budget and still sorts what the source yields.
TEST(SortRecords, EntryCostsPastFourGiBAreNotTakenForFewBytes) {
    TempDir dir;
    for (std::size_t keySize : {4u, 12u, 20u}) {
        const std::size_t recordSize = keySize + 4;
        std::vector<Bytes> input;
        for (std::uint8_t k : {3, 1, 2}) {
            Bytes r(recordSize, 0);
            r[keySize - 1] = k;
            input.push_back(r);
        }
        RecordSource source = [&](const RecordVisitor& visit) {
            for (const auto& r : input) visit(r);
        };
        for (std::uint64_t cost = 8; cost <= 64; ++cost) {
            const std::uint64_t count = ((std::uint64_t{1} << 32) + cost - 1) / cost;
            SCOPED_TRACE("key of " + std::to_string(keySize) + " bytes, " + std::to_string(count) + " records");
            std::vector<Bytes> out;
            EXPECT_NO_THROW(sortRecords(os::realFileSystem(), source, {count, recordSize, keySize}, 64 * 1024,
                                        dir.file("t.sort"), ".tmp",
                                        [&](std::span<const std::uint8_t> r) { out.emplace_back(r.begin(), r.end()); }));
            ASSERT_EQ(out.size(), 3u);
            for (std::uint8_t k = 1; k <= 3; ++k) EXPECT_EQ(out[k - 1][keySize - 1], k);
        }
    }
    EXPECT_TRUE(snapshot(dir.path()).empty()) << "sort runs left behind";
    // The same test decides whether a secondary index's records are held and sorted in memory.
    const std::uint64_t fourGiB = std::uint64_t{1} << 32;
    EXPECT_FALSE(fitsBudget(fourGiB / 16, 16, 40u << 20));
    EXPECT_FALSE(fitsBudget(fourGiB / 33 + 1, 33, 40u << 20));
    EXPECT_FALSE(fitsBudget(0xFFFFFFFFu, 13, 40u << 20));
    EXPECT_TRUE(fitsBudget(1000, 33, 33000));
    EXPECT_FALSE(fitsBudget(1001, 33, 33000));
}

// Whichever way the records get sorted (sort runs in files, an in-memory sort gathered in several
// passes or in one), the files written are the same.
TEST(ExternalSort, AnIndexBuiltWithATinyBudgetIsTheSame) {
    // 8 KB and 60 000: sort files with many or few runs; 100 000: sorted in memory and gathered
    // in several passes; 64 MiB: gathered in one.
    TempDir small, middle, upper, large;
    for (const auto* d : {&small, &middle, &upper, &large}) writeMovementTable(d->file("movimento.db"), 2500);
    for (const auto* d : {&small, &middle, &upper, &large}) {
        EngineLimits limits;
        limits.sortBudgetBytes = d == &small ? 8 * 1024 : d == &middle ? 60000 : d == &upper ? 100000 : 64u << 20;
        IndexRequest primary{"", {1}, {TIndexOption::ixPrimary, TIndexOption::ixUnique}, {}};
        IndexRequest cnpj{"CNPJ_IDX", {2}, {TIndexOption::ixCaseInsensitive}, {}};
        addIndex(os::realFileSystem(), d->file("movimento.db"), primary, limits);
        addIndex(os::realFileSystem(), d->file("movimento.db"), cnpj, limits);
        addIndex(os::realFileSystem(), d->file("movimento.db"), primary, limits);  // rebuild both at once
    }
    EXPECT_EQ(snapshot(small.path()), snapshot(large.path()));
    EXPECT_EQ(snapshot(middle.path()), snapshot(large.path()));
    EXPECT_EQ(snapshot(upper.path()), snapshot(large.path()));
}

// Long keys make index blocks hold few entries, so a small table needs a deep tree.
TEST(IndexTree, TablesGetAsManyLevelsAsTheyNeed) {
    TempDir dir;
    TableDef shape;
    shape.fields = {{ft::Alpha, 255, "chave"}, {ft::Long, 4, "n"}};
    std::vector<Bytes> recs;
    for (int i = 0; i < 2000; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "k%07d", (i * 7919) % 2000);
        recs.push_back(concat({alpha(key, 255), long32(i)}));
    }
    std::string path = dir.file("deep.db");
    writeUnkeyedTable(path, shape, recs);
    TTable t;
    t.TableName = path;
    t.AddIndex("", "chave", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    t.AddIndex("por_n", "n", {TIndexOption::ixCaseInsensitive});
    int levels = 0;
    walkIndex(dir.file("deep.px"), &levels);
    EXPECT_GE(levels, 4);
    expectIndexMatches(dir.file("deep.px"), readDataFile(path));
    expectIndexMatches(dir.file("deep.yg0"), readDataFile(dir.file("deep.xg0")));
    t.Open();
    EXPECT_EQ(t.RecordCount(), 2000);
}

// An entry's record count is a 16-bit Short: no block below the root may cover more than 32767.
TEST(IndexTree, NoSubtreeExceedsTheSixteenBitCount) {
    IndexTreeBuilder b(4, 2048);
    for (int i = 0; i < 300; ++i) b.addLeaf(long32(i), static_cast<std::uint16_t>(i + 1), 510);
    auto tree = b.build();
    ASSERT_GE(tree.levels, 2);
    for (int blk = 1; blk <= tree.numBlocks; ++blk) {
        std::span<const std::uint8_t> block(tree.blocks.data() + static_cast<std::size_t>(blk - 1) * 2048, 2048);
        int n = static_cast<std::int16_t>(le16(block, 4)) / 10 + 1;
        int total = 0;
        for (int e = 0; e < n; ++e) {
            int count = shortField(block, 6 + static_cast<std::size_t>(e) * 10 + 6);
            EXPECT_GT(count, 0);
            total += count;
        }
        if (blk != tree.root) {
            EXPECT_LE(total, 32767) << "block " << blk;
        }
    }
    EXPECT_EQ(tree.entries, 300u + static_cast<std::uint32_t>(tree.numBlocks) - 1u);
}

// The order of blocks an appending B-tree produces, as in the original engine's two-level file.
TEST(IndexTree, BlocksAreNumberedAsTheOriginalEngineNumbersThem) {
    IndexTreeBuilder b(5, 2048);  // 185 entries fit a block, 184 are used
    for (int i = 0; i < 686; ++i) b.addLeaf(alpha(std::to_string(10000 + i), 5), static_cast<std::uint16_t>(i + 1), 63);
    auto tree = b.build();
    EXPECT_EQ(tree.levels, 2);
    EXPECT_EQ(tree.root, 3);
    EXPECT_EQ(tree.numBlocks, 5);
    std::vector<int> chain;
    for (int blk = tree.firstBlock; blk != 0; blk = le16(std::span<const std::uint8_t>(tree.blocks.data() + static_cast<std::size_t>(blk - 1) * 2048, 6), 0))
        chain.push_back(blk);
    EXPECT_EQ(chain, (std::vector<int>{1, 3, 2, 4, 5}));
}

}  // namespace
}  // namespace atua::test
