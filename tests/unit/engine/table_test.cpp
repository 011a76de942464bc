// The table component: opening and its checks, and the rules of adding an index.
#include <gtest/gtest.h>

#include <functional>

#include "engine/os/file_system.h"
#include "engine/paradox/bytes.h"
#include "engine/table.h"
#include "movement_fixture.h"
#include "test_support.h"

namespace atua::test {
namespace {

using namespace atua::paradox;
constexpr TIndexOptions kPrimary{TIndexOption::ixPrimary, TIndexOption::ixUnique};
constexpr TIndexOptions kCaseInsensitive{TIndexOption::ixCaseInsensitive};

// Runs `f`, which must raise exactly class E with a message containing `text`.
template <class E>
void expectRaises(const std::function<void()>& f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no exception; expected one saying: " << text;
    } catch (const EDBEngineError& e) {
        if (!std::is_same_v<E, EDBEngineError>) ADD_FAILURE() << "engine refusal where a component failure was expected: " << e.Message();
        EXPECT_NE(e.Message().find(text), std::string::npos) << e.Message();
    } catch (const EDatabaseError& e) {
        if (!std::is_same_v<E, EDatabaseError>) ADD_FAILURE() << "component failure where an engine refusal was expected: " << e.Message();
        EXPECT_NE(e.Message().find(text), std::string::npos) << e.Message();
    }
}

void patch(const std::string& path, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    Bytes b = readFile(path);
    std::size_t i = at;
    for (auto v : bytes) b[i++] = v;
    writeFile(path, b);
}

// ---------------------------------------------------------------------------------------------
// Opening.

struct OpenCase {
    const char* name;
    std::function<std::string(const TempDir&)> make;  // returns the path to open
    const char* message;
};

std::string movementIn(const TempDir& d, int count = 20) {
    std::string p = d.file("movimento.db");
    writeMovementTable(p, count);
    return p;
}

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenRefusal : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenRefusal, GivesItsOwnMessageAndChangesNothing) {
    TempDir dir;
    std::string path = GetParam().make(dir);
    auto before = snapshot(dir.path());
    TTable t;
    t.TableName = path;
    expectRaises<EDBEngineError>([&] { t.Open(); }, GetParam().message);
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(snapshot(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenRefusal,
    ::testing::Values(
        OpenCase{"Missing", [](const TempDir& d) { return d.file("movimento.db"); }, "does not exist"},
        OpenCase{"Folder", [](const TempDir& d) { fs::create_directory(d.path() / "movimento.db"); return d.file("movimento.db"); }, "is a folder"},
        OpenCase{"ZeroLength", [](const TempDir& d) { writeFile(d.path() / "movimento.db", {}); return d.file("movimento.db"); }, "empty file (0 bytes)"},
        OpenCase{"Foreign", [](const TempDir& d) {
                     Bytes text(3000, 'x');
                     writeFile(d.path() / "movimento.db", text);
                     return d.file("movimento.db");
                 }, "is not a Paradox table"},
        OpenCase{"RecordSizeWrong", [](const TempDir& d) { auto p = movementIn(d); patch(p, 0x00, {75, 0}); return p; },
                 "differs from the sum of its field sizes"},
        OpenCase{"UnknownFieldType", [](const TempDir& d) { auto p = movementIn(d); patch(p, 0x78, {0x33}); return p; }, "unknown type 0x33"},
        OpenCase{"ChainOutsideFile", [](const TempDir& d) { auto p = movementIn(d); patch(p, 0x0E, {0x40, 0}); return p; },
                 "block chain starts or ends outside the file"},
        OpenCase{"BlockLinksBroken", [](const TempDir& d) { auto p = movementIn(d, 100); patch(p, 0x800, {0x03, 0}); return p; },
                 "does not link back"},
        OpenCase{"NamesNotTerminated", [](const TempDir& d) {
                     auto p = movementIn(d);
                     Bytes b = readFile(p);
                     std::fill(b.begin() + 0x78 + 10 + 4 + 20 + 261, b.begin() + 0x800, 'n');
                     writeFile(p, b);
                     return p;
                 }, "not terminated inside the header"},
        OpenCase{"Encrypted", [](const TempDir& d) { auto p = movementIn(d); patch(p, 0x5C, {0x9a, 0xe0, 0x25, 0x0a}); return p; },
                 "is encrypted"},
        OpenCase{"BlockSizeCode", [](const TempDir& d) { auto p = movementIn(d); patch(p, 0x05, {0x40}); return p; }, "block size code 64"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Table, OpenReadsTheFieldsAndIsIdempotent) {
    TempDir dir;
    std::string path = movementIn(dir, 250);
    TTable t;
    t.TableName = path;
    t.Open();
    ASSERT_TRUE(t.Active());
    ASSERT_EQ(t.FieldDefs.Count(), 5);
    EXPECT_EQ(t.FieldDefs.Items()[0].Name, "mov_cd_controle");
    EXPECT_EQ(t.FieldDefs.Items()[0].DataType, TFieldType::ftInteger);
    EXPECT_EQ(t.FieldDefs.Items()[1].DataType, TFieldType::ftString);
    EXPECT_EQ(t.FieldDefs.Items()[1].Size, 18);
    EXPECT_EQ(t.FieldDefs.Find("CAD_CD_CNPJ"), &t.FieldDefs.Items()[1]);
    EXPECT_EQ(t.RecordCount(), 250);
    t.Open();  // already active: nothing happens
    t.Refresh();
    EXPECT_TRUE(t.Active());
    t.Close();
    t.Close();
    EXPECT_FALSE(t.Active());
    expectRaises<EDatabaseError>([&] { t.Refresh(); }, "it is not open");
}

TEST(Table, TableTypeFollowsTheExtension) {
    TempDir dir;
    writeMovementTable(dir.file("MOV.DB"), 3);
    TTable upper;
    upper.TableName = dir.file("MOV.DB");
    EXPECT_NO_THROW(upper.Open());

    TTable noExt;  // ".db" is added to a name without extension
    writeMovementTable(dir.file("mov2.db"), 3);
    noExt.TableName = dir.file("mov2");
    EXPECT_NO_THROW(noExt.Open());

    fs::copy_file(dir.file("MOV.DB"), dir.file("mov.dbf"));
    TTable other;
    other.TableName = dir.file("mov.dbf");
    expectRaises<EDatabaseError>([&] { other.Open(); }, "not a Paradox table (.db)");
    other.TableType = TTableType::ttParadox;
    EXPECT_NO_THROW(other.Open());

    TTable viaDatabase;
    viaDatabase.DatabaseName = dir.path().string();
    viaDatabase.TableName = "MOV.DB";
    EXPECT_NO_THROW(viaDatabase.Open());
}

// ---------------------------------------------------------------------------------------------
// Adding indexes.

TEST(AddIndex, UnknownFieldFailsInTheComponentBeforeTheEngine) {
    TempDir dir;
    std::string path = movementIn(dir);
    auto before = snapshot(dir.path());
    TTable t;
    t.TableName = path;
    expectRaises<EDatabaseError>([&] { t.AddIndex("", "mov_cd_nada", kPrimary); }, "Field 'mov_cd_nada' not found");
    expectRaises<EDatabaseError>([&] { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj; outro", kCaseInsensitive); }, "Field 'outro' not found");
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(AddIndex, MovementUpdateBuildsBothIndexes) {
    TempDir dir;
    std::string path = movementIn(dir, 3000);
    TTable t;
    t.TableName = path;
    t.Open();
    t.Close();
    t.IndexDefs.Clear();
    // Field names are found without regard to case.
    t.AddIndex("", "MOV_CD_CONTROLE", kPrimary);
    EXPECT_FALSE(t.IndexDefs.Updated());
    t.AddIndex("CNPJ_IDX", " cad_cd_cnpj ", kCaseInsensitive);
    EXPECT_FALSE(t.Active());

    // Files follow the case of the table's extension.
    EXPECT_EQ(names(snapshot(dir.path())), (std::vector<std::string>{"movimento.db", "movimento.px", "movimento.xg0", "movimento.yg0"}));
    DataFile db = readDataFile(path);
    EXPECT_EQ(db.header.fileType, FileType::KeyedTable);
    EXPECT_EQ(db.header.keyFields, 1);
    ASSERT_EQ(db.records.size(), 3000u);
    for (std::size_t i = 0; i < db.records.size(); ++i)
        ASSERT_EQ(Bytes(db.records[i].begin(), db.records[i].begin() + 4), long32(static_cast<int>(i + 1))) << "record " << i;
    // Full blocks, chained in order.
    for (std::size_t i = 0; i < db.chain.size(); ++i) EXPECT_EQ(db.chain[i], i + 1);
    expectIndexMatches(dir.file("movimento.px"), db);

    DataFile x = readDataFile(dir.file("movimento.xg0"));
    EXPECT_EQ(x.header.fileType, FileType::XgMaintained);
    EXPECT_EQ(x.header.indexName, "CNPJ_IDX");
    EXPECT_EQ(x.header.fields.size(), 3u);
    EXPECT_EQ(x.header.fields[2].name, "Blk Num");
    ASSERT_EQ(x.records.size(), 3000u);
    for (std::size_t i = 0; i < x.records.size(); ++i) {
        // Blk Num is the table block that holds the record with this key.
        int blk = shortField(x.records[i], 18 + 4);
        Bytes pk(x.records[i].begin() + 18, x.records[i].begin() + 22);
        std::size_t row = 0;
        while (row < db.records.size() && !std::equal(pk.begin(), pk.end(), db.records[row].begin())) ++row;
        ASSERT_LT(row, db.records.size());
        EXPECT_EQ(blk, db.blockOf[row]);
        if (i > 0) {  // digits only: byte order is the folded order
            EXPECT_LT(Bytes(x.records[i - 1].begin(), x.records[i - 1].begin() + 22), Bytes(x.records[i].begin(), x.records[i].begin() + 22));
        }
    }
    expectIndexMatches(dir.file("movimento.yg0"), x);

    // The update's final check; the open reads the index definitions back from the files.
    t.Open();
    ASSERT_EQ(t.IndexDefs.Count(), 2);
    EXPECT_TRUE(t.IndexDefs.Updated());
    EXPECT_EQ(t.IndexDefs.Items()[0].Fields, "mov_cd_controle");
    EXPECT_EQ(t.IndexDefs.Items()[0].Options, kPrimary);
    EXPECT_EQ(t.IndexDefs.Items()[1].Name, "CNPJ_IDX");
    EXPECT_EQ(t.IndexDefs.Items()[1].Fields, "cad_cd_cnpj");
    EXPECT_EQ(t.IndexDefs.Items()[1].Options, kCaseInsensitive);
    t.Refresh();
    t.Close();
}

TEST(AddIndex, AddingTheSameIndexesAgainRebuildsThem) {
    TempDir dir;
    std::string path = movementIn(dir, 500);
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", kPrimary);
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    auto first = snapshot(dir.path());
    // A second run of the whole update: both additions succeed.
    t.AddIndex("", "mov_cd_controle", kPrimary);
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    auto second = snapshot(dir.path());
    ASSERT_EQ(names(second), names(first));
    // The secondary index was rebuilt along with the primary and still fits the table.
    expectIndexMatches(dir.file("movimento.yg0"), readDataFile(dir.file("movimento.xg0")));
    expectIndexMatches(dir.file("movimento.px"), readDataFile(path));
    // A keyed table in key order keeps its blocks and its stamp, so the rebuilt indexes come out
    // as they were: the second run leaves every file as the first left it.
    EXPECT_EQ(second, first);
    // A partial earlier run (primary only) finished by the next run gives the very same files:
    // what is written depends on nothing but the table.
    TempDir dir2;
    std::string path2 = movementIn(dir2, 500);
    TTable t2;
    t2.TableName = path2;
    t2.AddIndex("", "mov_cd_controle", kPrimary);
    t2.AddIndex("", "mov_cd_controle", kPrimary);
    t2.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    EXPECT_EQ(snapshot(dir2.path()), second);
}

// Keys compare through the code page's upper case, then by the primary key.
TEST(AddIndex, CaseInsensitiveOrderFoldsThroughTheCodePage) {
    TempDir dir;
    std::string path = dir.file("movimento.db");
    std::vector<Bytes> recs;
    const char* values[] = {"b", "A", "\xE1" "x", "a", "B", "\xC1" "a", "ab", "", "Ab"};
    int id = 20;
    for (const char* v : values) recs.push_back(movementRecord({id--, v}));
    writeUnkeyedTable(path, movementTableDef(), recs);
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", kPrimary);
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    DataFile x = readDataFile(dir.file("movimento.xg0"));
    std::vector<std::pair<std::string, int>> got;
    for (const auto& r : x.records) {
        std::string value(reinterpret_cast<const char*>(r.data()), std::find(r.begin(), r.begin() + 18, 0) - r.begin());
        int id = ((r[18] ^ 0x80) << 24) | (r[19] << 16) | (r[20] << 8) | r[21];
        got.emplace_back(value, id);
    }
    std::vector<std::pair<std::string, int>> want = {{"", 13}, {"a", 17}, {"A", 19}, {"Ab", 12}, {"ab", 14},
                                                     {"B", 16}, {"b", 20}, {"\xC1" "a", 15}, {"\xE1" "x", 18}};
    EXPECT_EQ(got, want);
    // The flag that records case-insensitivity.
    EXPECT_EQ(x.header.raw[off::IndexFlags] & 0x01, 0x01);
}

// ---------------------------------------------------------------------------------------------
// Refusals: each leaves every file of the folder as it was.

struct Refusal {
    const char* name;
    // Brings the folder to the starting state; what it returns (an open handle) is held meanwhile.
    std::function<std::shared_ptr<void>(TTable&, const TempDir&)> setup;
    std::function<void(TTable&)> act;
    const char* message;
};

void primary(TTable& t) { t.AddIndex("", "mov_cd_controle", kPrimary); }
std::shared_ptr<void> nothing() { return nullptr; }

// A movement table under the sort order named, with these CNPJ values, given its primary index.
std::shared_ptr<void> keyedUnder(TTable& t, const char* sortOrder, std::uint8_t sortByte, int codePage,
                                 const std::vector<std::string>& cnpjs) {
    TableDef s = movementTableDef();
    s.sortOrder = sortOrder;
    s.sortByte = sortByte;
    s.codePage = codePage;
    std::vector<Bytes> records;
    for (std::size_t i = 0; i < cnpjs.size(); ++i) records.push_back(movementRecord({static_cast<std::int32_t>(i + 1), cnpjs[i]}));
    writeUnkeyedTable(t.TableName, s, records);
    primary(t);
    return nothing();
}

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class AddIndexRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(AddIndexRefusal, LeavesEveryFileAsItWas) {
    TempDir dir;
    TTable t;
    t.TableName = dir.file("movimento.db");
    writeMovementTable(t.TableName, 300);
    auto held = GetParam().setup(t, dir);
    auto before = snapshot(dir.path());
    expectRaises<EDBEngineError>([&] { GetParam().act(t); }, GetParam().message);
    EXPECT_EQ(snapshot(dir.path()), before);
    EXPECT_FALSE(t.Active());
}

std::vector<Bytes> withDuplicate() {
    auto r = movements(300);
    r[250] = movementRecord({5, "x"});
    r[40] = movementRecord({7, "y"});
    r[41] = movementRecord({7, "z"});
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddIndexRefusal,
    ::testing::Values(
        Refusal{"DuplicateKeys",
                [](TTable& t, const TempDir&) { writeUnkeyedTable(t.TableName, movementTableDef(), withDuplicate()); return nothing(); },
                primary, "Key violation in table"},
        Refusal{"DuplicateKeysNamesTheFirstValue",
                [](TTable& t, const TempDir&) { writeUnkeyedTable(t.TableName, movementTableDef(), withDuplicate()); return nothing(); },
                primary, "the value 5 of mov_cd_controle occurs more than once"},
        Refusal{"PrimaryNotOnLeadingFields", [](TTable&, const TempDir&) { return nothing(); },
                [](TTable& t) { t.AddIndex("", "cad_cd_cnpj", kPrimary); }, "must be made of the table's first fields"},
        Refusal{"PrimaryCaseInsensitive", [](TTable&, const TempDir&) { return nothing(); },
                [](TTable& t) { t.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixCaseInsensitive}); },
                "always case-sensitive"},
        Refusal{"MemoCannotBeAKey",
                [](TTable& t, const TempDir&) {
                    TableDef s;
                    s.fields = {{ft::Memo, 20, "texto"}, {ft::Long, 4, "n"}};
                    writeUnkeyedTable(t.TableName, s, {Bytes(24, 0)});
                    return nothing();
                },
                [](TTable& t) { t.AddIndex("", "texto", kPrimary); }, "of type memo and cannot be part of an index"},
        Refusal{"SecondaryOnUnkeyedTable", [](TTable&, const TempDir&) { return nothing(); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); }, "has no primary index"},
        Refusal{"DifferentPrimaryKey", [](TTable& t, const TempDir&) { primary(t); return nothing(); },
                [](TTable& t) { t.AddIndex("", "mov_cd_controle;cad_cd_cnpj", kPrimary); }, "already has a different primary index"},
        Refusal{"DifferentIndexUnderTheSameName",
                [](TTable& t, const TempDir&) { primary(t); t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); return nothing(); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "mov_ds_obs", kCaseInsensitive); }, "already has a different index named 'CNPJ_IDX'"},
        Refusal{"SameNameDifferentOptions",
                [](TTable& t, const TempDir&) { primary(t); t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); return nothing(); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {}); }, "already has a different index named"},
        Refusal{"Descending", [](TTable& t, const TempDir&) { primary(t); return nothing(); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {TIndexOption::ixDescending}); }, "Descending indexes are not supported"},
        Refusal{"UniqueSecondaryWithDuplicates", [](TTable& t, const TempDir&) { primary(t); return nothing(); },
                [](TTable& t) { t.AddIndex("CNPJ_U", "cad_cd_cnpj", {TIndexOption::ixUnique}); }, "Key violation"},
        Refusal{"UnknownCollationWithUnsafeValues",
                [](TTable& t, const TempDir&) { return keyedUnder(t, "nordan40", 0x4E, 1252, {"12.345", "12-345", "ab"}); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); },
                "uses the sort order 'nordan40', whose weights this program does not have, so it does not know how it orders the values '12-345' and '12.345'"},
        Refusal{"PublishedCollationOpenRule",
                [](TTable& t, const TempDir&) { return keyedUnder(t, "ANSIINTL", 0x62, 1252, {"isento ", "12.345.678/0001-90", "Isento"}); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); },
                "uses the sort order 'ANSIINTL', whose published tables do not settle the order of the values 'Isento' and 'isento ' of field "
                "cad_cd_cnpj (they differ only in trailing spaces)"},
        Refusal{"PublishedCollationOpenRuleCodePage437",
                [](TTable& t, const TempDir&) { return keyedUnder(t, "intl", 0xB7, 437, {"Concei\x87\xC6o", "Concei\x87\xC6o  "}); },
                [](TTable& t) { t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive); },
                "uses the sort order 'intl', whose published tables do not settle the order of the values 'Concei\xE7?o' and "
                "'Concei\xE7?o  ' of field cad_cd_cnpj (they differ only in trailing spaces)"},
        Refusal{"BusyTable",
                [](TTable& t, const TempDir&) {
                    auto product = std::make_shared<TTable>();  // the running product, holding the table open
                    product->TableName = t.TableName;
                    product->Open();
                    return std::shared_ptr<void>(product);
                },
                primary, "is busy: another program has it open"},
        Refusal{"BusyIndexFile",
                [](TTable& t, const TempDir& d) {
                    primary(t);
                    return std::shared_ptr<void>(os::realFileSystem().open(d.file("movimento.px"), os::Access::Read, os::Share::Shared));
                },
                primary, "its index file movimento.px is in use"},
        Refusal{"HeldLockFile",
                [](TTable&, const TempDir& d) {
                    writeFile(d.path() / "PDOXUSRS.LCK", Bytes(64, 1));
                    return std::shared_ptr<void>(os::realFileSystem().open(d.file("PDOXUSRS.LCK"), os::Access::Read, os::Share::Shared));
                },
                primary, "lock file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddIndex, StaleLockFilesAreIgnored) {
    TempDir dir;
    std::string path = movementIn(dir, 50);
    writeFile(dir.path() / "PDOXUSRS.LCK", Bytes(64, 1));
    writeFile(dir.path() / "PARADOX.LCK", Bytes(32, 2));
    TTable t;
    t.TableName = path;
    EXPECT_NO_THROW(t.AddIndex("", "mov_cd_controle", kPrimary));
    EXPECT_EQ(readFile(dir.path() / "PDOXUSRS.LCK"), Bytes(64, 1));
}

TEST(AddIndex, UnknownCollationAcceptsValuesOrderedAlikeEverywhere) {
    TempDir dir;
    TableDef s = movementTableDef();
    s.sortOrder = "nordan40";
    s.sortByte = 0x4E;
    std::string path = dir.file("movimento.db");
    writeUnkeyedTable(path, s, movements(400));
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", kPrimary);
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    expectIndexMatches(dir.file("movimento.yg0"), readDataFile(dir.file("movimento.xg0")));
}

TEST(AddIndex, EmptyTableAndAutoIncrementKey) {
    TempDir dir;
    std::string path = dir.file("movimento.db");
    writeUnkeyedTable(path, movementTableDef(ft::AutoInc), {});
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", kPrimary);
    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0);
    t.Close();
    EXPECT_EQ(readFile(dir.path() / "movimento.px").size(), 0x800u);
}

}  // namespace
}  // namespace atua::test

namespace atua::test {
namespace {

// A table the product has worked on: its blocks are no longer in file order. The secondary index
// points at the blocks where the records really are, and a new primary addition repacks them.
TEST(AddIndex, BlocksOutOfFileOrder) {
    TempDir dir;
    std::string path = movementIn(dir, 300);
    TTable t;
    t.TableName = path;
    t.AddIndex("", "mov_cd_controle", kPrimary);
    // Reverse the physical order of the blocks, keeping the chain (and so the key order).
    Bytes b = readFile(path);
    TableHeader h = parseTableHeader(b, b.size());
    int n = h.fileBlocks;
    ASSERT_GT(n, 3);
    auto at = [&](int blk) { return static_cast<std::size_t>(h.headerSize) + static_cast<std::size_t>(blk - 1) * static_cast<std::size_t>(h.blockSize); };
    auto moved = [&](int blk) { return blk == 0 ? 0 : n + 1 - blk; };
    Bytes out(b.begin(), b.begin() + h.headerSize);
    out.resize(b.size());
    for (int blk = 1; blk <= n; ++blk) {
        std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at(blk)), h.blockSize, out.begin() + static_cast<std::ptrdiff_t>(at(moved(blk))));
        put16(std::span(out).subspan(at(moved(blk))), 0, static_cast<std::uint32_t>(moved(le16(b, at(blk)))));
        put16(std::span(out).subspan(at(moved(blk))), 2, static_cast<std::uint32_t>(moved(le16(b, at(blk) + 2))));
    }
    put16(out, off::FirstBlock, static_cast<std::uint32_t>(moved(h.firstBlock)));
    put16(out, off::LastBlock, static_cast<std::uint32_t>(moved(h.lastBlock)));
    writeFile(path, out);

    t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", kCaseInsensitive);
    DataFile db = readDataFile(path);
    EXPECT_EQ(db.chain.front(), n);
    DataFile x = readDataFile(dir.file("movimento.xg0"));
    ASSERT_EQ(x.records.size(), db.records.size());
    for (const auto& r : x.records) {
        std::size_t row = 0;
        while (row < db.records.size() && !std::equal(r.begin() + 18, r.begin() + 22, db.records[row].begin())) ++row;
        ASSERT_LT(row, db.records.size());
        EXPECT_EQ(shortField(r, 22), db.blockOf[row]);
    }
    expectIndexMatches(dir.file("movimento.yg0"), x);

    // The primary addition again: the table is keyed and in key order, so its blocks stay where
    // they are and the .PX (stale since the blocks moved) and the secondary are rebuilt over them.
    const Bytes keyed = readFile(path);
    t.AddIndex("", "mov_cd_controle", kPrimary);
    EXPECT_EQ(readFile(path), keyed);
    db = readDataFile(path);
    EXPECT_EQ(db.chain.front(), n);
    expectIndexMatches(dir.file("movimento.px"), db);
    x = readDataFile(dir.file("movimento.xg0"));
    for (const auto& r : x.records) {
        int id = ((r[18] ^ 0x80) << 24) | (r[19] << 16) | (r[20] << 8) | r[21];
        EXPECT_EQ(shortField(r, 22), db.blockOf[static_cast<std::size_t>(id - 1)]);
    }
    expectIndexMatches(dir.file("movimento.yg0"), x);
}

}  // namespace
}  // namespace atua::test
