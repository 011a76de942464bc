// Hostile and broken inputs, one small fixture each, driven through the update as the user runs
// it: what the user sees (through the step that meets the fault), no crash, and every file
// byte-identical afterwards (or, for a leftover of an interrupted run, that run finished and the
// update completed on top of it).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "engine/check/checker.h"
#include "engine/os/file_system.h"
#include "engine/paradox/bytes.h"
#include "tests/faults/harness.h"
#include "update/atualiza_movimento.h"

namespace atua::faults {
namespace {

using paradox::put16;
using paradox::put32;

// The update's share of a form on a real table component, recording the boxes it shows.
class RecordingForm final : public update::MovementUpdate {
public:
    explicit RecordingForm(TTable& table) : component_(table) {}
    std::vector<std::string> shown;
    using MovementUpdate::AtualizaMovimento;

private:
    int Confirm(std::string_view) override { return app::mrYes; }
    void ShowMessage(std::string_view text) override { shown.push_back(std::string(text)); }
    void Terminate() override { shown.push_back("(terminate)"); }
    update::MovementTable& Table() override { return component_; }

    update::TableComponent component_;
};

// What the user saw: the update's own boxes, then the error report's text if a failure escaped.
std::vector<std::string> runUpdate(os::FileSystem& fs, const std::string& path) {
    TTable table(fs);
    table.TableName = path;
    RecordingForm form(table);
    try {
        form.AtualizaMovimento();
    } catch (const Exception& e) {
        form.shown.push_back("error report: " + e.Message());
    }
    return form.shown;
}

// The engine's own message for opening the table directly (what every other caller gets).
std::string openMessage(os::FileSystem& fs, const std::string& path) {
    TTable table(fs);
    table.TableName = path;
    try {
        table.Open();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(opened)";
}

fixtures::MovementOptions smallTable() {
    fixtures::MovementOptions o;
    o.records = 40;  // two data blocks
    o.seed = 9;
    return o;
}

Bytes movementBytes(const fixtures::MovementOptions& o = smallTable()) {
    return movementImage(o).files.at(kTable);
}

std::size_t find(const Bytes& b, std::string_view s) {
    auto it = std::search(b.begin(), b.end(), s.begin(), s.end());
    if (it == b.end()) throw std::runtime_error("fixture has no " + std::string(s));
    return static_cast<std::size_t>(it - b.begin());
}

unsigned headerSize(const Bytes& b) { return paradox::le16(b, 2); }
unsigned blockSize(const Bytes& b) { return b[5] * 1024u; }
// Where the last record of the table's last block ends in the file.
std::size_t endOfLastRecord(const Bytes& b) {
    const std::size_t block = headerSize(b) + (paradox::le16(b, 0x10) - 1u) * blockSize(b);
    return block + 6 + static_cast<std::int16_t>(paradox::le16(b, block + 4)) + paradox::le16(b, 0);
}

enum class Fs { Real, Memory };

struct BadInput {
    const char* name;
    Fs fs;
    // Prepares the folder (real: a scratch folder's path; memory: the FaultFileSystem).
    std::function<void(const std::string& dir, FaultFileSystem* mem)> prepare;
    // What the user sees; "{}" stands for the table's path.
    std::vector<std::string> shown;
    // The engine's message for a direct open ("" when the open succeeds).
    std::string openSays;
    bool completes = false;  // a leftover of an interrupted run: the update finishes it
};

void put(const std::string& dir, FaultFileSystem* mem, const std::string& name, const Bytes& bytes) {
    if (mem) {
        auto f = mem->open(std::string(kDir) + "/" + name, os::Access::ReadWrite, os::Share::Shared, os::Create::CreateOrTruncate);
        f->writeAt(0, bytes);
        return;
    }
    writeFolder(dir, {});  // never: callers write all files at once below
}

void writeTable(const std::string& dir, const Bytes& bytes) {
    std::FILE* f = std::fopen((dir + "/movimento.db").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::function<void(const std::string&, FaultFileSystem*)> table(std::function<void(Bytes&)> patch) {
    return [patch](const std::string& dir, FaultFileSystem*) {
        Bytes b = movementBytes();
        patch(b);
        writeTable(dir, b);
    };
}

std::string expand(std::string s, const std::string& path) {
    for (std::size_t at; (at = s.find("{}")) != std::string::npos;) s.replace(at, 2, path);
    return s;
}

const std::string kNotInstalled = update::UpdateTexts::NotInstalled();
const std::string kSuccess = update::UpdateTexts::Success();

std::vector<BadInput> cases() {
    return {
        {"ZeroLengthFile", Fs::Real, table([](Bytes& b) { b.clear(); }), {kNotInstalled},
         "Table {} is an empty file (0 bytes), not a Paradox table"},
        {"TruncatedHeader", Fs::Real, table([](Bytes& b) { b.resize(1000); }), {kNotInstalled},
         "Table {} is damaged: the file ends inside its header (1000 of 2048 bytes)"},
        {"HeaderSizeNotAMultipleOf2048", Fs::Real, table([](Bytes& b) { put16(b, 2, 0x0A00); }), {kNotInstalled},
         "{} is not a Paradox table: its header size (2560) is not that of a Paradox table"},
        {"RecordSizeDoesNotMatchTheFields", Fs::Real, table([](Bytes& b) { put16(b, 0, paradox::le16(b, 0) + 1); }),
         {kNotInstalled}, "Table {} is damaged: its record size 75 differs from the sum of its field sizes (74)"},
        {"UnknownFieldType", Fs::Real, table([](Bytes& b) { b[0x78 + 2 * 2] = 0x07; }), {kNotInstalled},
         "Table {} is damaged: field 3 has an unknown type 0x07 or an invalid size 4"},
        {"NoFields", Fs::Real, table([](Bytes& b) { put16(b, 0x21, 0); }), {kNotInstalled}, "{} is not a Paradox table: its field count 0 is invalid"},
        {"FieldNameWithoutTerminator", Fs::Real,
         table([](Bytes& b) {
             for (std::size_t i = find(b, "mov_cd_controle"); i < headerSize(b); ++i) b[i] = 'x';
         }),
         {kNotInstalled}, "Table {} is damaged: the name of a field is not terminated inside the header"},
        {"BlockSizeCodeOutOfRange", Fs::Real, table([](Bytes& b) { b[5] = 33; }), {kNotInstalled}, "{} is not a Paradox table: its block size code 33 is invalid"},
        {"BlockChainLoops", Fs::Real, table([](Bytes& b) { put16(b, headerSize(b) + blockSize(b), 1); }), {kNotInstalled},
         "Table {} is damaged: its block chain loops at block 1"},
        {"BlockChainPointsPastTheEnd", Fs::Real, table([](Bytes& b) { put16(b, headerSize(b), 99); }), {kNotInstalled},
         "Table {} is damaged: its block chain leaves the file at block 99"},
        {"LastBlockCutShortBeforeItsRecordsEnd", Fs::Real, table([](Bytes& b) { b.resize(endOfLastRecord(b) - 1); }),
         {kNotInstalled}, "Table {} is damaged: block 2 is cut short: the file ends before its records do"},
        {"MoreRecordsThanTheBlocksHold", Fs::Real, table([](Bytes& b) { put32(b, 6, paradox::le32(b, 6) + 5); }),
         {kNotInstalled}, "Table {} is damaged: its blocks hold 40 records, the header says 45"},
        {"EncryptedTable", Fs::Real, table([](Bytes& b) { put32(b, 0x5C, 0x1234ABCDu); }), {kNotInstalled},
         "Table {} is encrypted (protected by a password) and cannot be opened"},
        {"IndexFileWhereATableIsExpected", Fs::Real,
         [](const std::string& dir, FaultFileSystem*) {
             auto done = cleanRun(movementImage(smallTable()), Addition::Primary);
             writeTable(dir, done->current().files.at(std::string(kDir) + "/movimento.px"));
         },
         {kNotInstalled}, "{} is a Paradox index file, not a table"},
        {"ReadOnlyFile", Fs::Memory, [](const std::string&, FaultFileSystem* mem) { mem->setReadOnly(kTable); },
         {kNotInstalled}, "Access to table {} was denied by the system"},
        {"FolderAtThePath", Fs::Real,
         [](const std::string& dir, FaultFileSystem*) { std::filesystem::create_directory(dir + "/movimento.db"); },
         {kNotInstalled}, "{} is a folder, not a Paradox table"},
        {"KeyFieldIsNotTheFirstField", Fs::Real,
         table([](Bytes& b) {
             std::size_t at = find(b, "mov_cd_controle");
             const char names[] = "cad_cd_cnpj\0mov_cd_controle";  // the two first names swapped
             std::memcpy(b.data() + at, names, sizeof names);
         }),
         {"error report: The primary index of table {} must be made of the table's first fields, in order; field "
          "mov_cd_controle is field number 2"},
         ""},
        {"BlobKey", Fs::Real,
         table([](Bytes& b) {
             // Field 1 becomes a 14-byte binary BLOB, field 2 gives up the 10 bytes it takes.
             b[0x78] = 0x0D;
             b[0x79] = 14;
             b[0x7B] = 8;
         }),
         {"error report: Field mov_cd_controle of table {} is of type binary and cannot be part of an index"}, ""},
        {"DuplicateKeys", Fs::Real,
         [](const std::string& dir, FaultFileSystem*) {
             auto o = smallTable();
             o.duplicateKeys = 2;
             writeTable(dir, movementBytes(o));
         },
         {"error report: Key violation in table {}: the value 1048 of mov_cd_controle occurs more than once"}, ""},
        {"DiskFillsDuringTheRewrite", Fs::Memory,
         [](const std::string&, FaultFileSystem* mem) { mem->failAt({Op::Write, 2, os::OsError::Kind::DiskFull, true}); },
         {"error report: The disk is full: the new index files of table {} could not be written; nothing was changed"}, ""},
    };
}

class BadInputCase : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputCase, TheUserSeesTheRightMessageAndNoFileChanges) {
    const BadInput& c = GetParam();
    ScratchDir scratch;
    std::unique_ptr<FaultFileSystem> mem;
    std::string dir = c.fs == Fs::Real ? scratch.path().string() : kDir;
    std::string path = dir + "/movimento.db";
    if (c.fs == Fs::Memory) {
        mem = std::make_unique<FaultFileSystem>(movementImage(smallTable()));
        mem->setTracing(false);
    }
    c.prepare(dir, mem.get());
    os::FileSystem& fs = mem ? static_cast<os::FileSystem&>(*mem) : os::realFileSystem();
    auto snapshot = [&] { return mem ? mem->current().in(kDir) : readFolder(scratch.path()); };
    Folder before = snapshot();

    std::vector<std::string> expected;
    for (const auto& s : c.shown) expected.push_back(expand(s, path));
    EXPECT_EQ(runUpdate(fs, path), expected);
    EXPECT_EQ(openMessage(fs, path), c.openSays.empty() ? "(opened)" : expand(c.openSays, path));
    EXPECT_TRUE(snapshot() == before) << "a file changed";
}

INSTANTIATE_TEST_SUITE_P(EveryCase, BadInputCase, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A process that holds the table open the way the running product would, until told to stop.
class Holder {
public:
    Holder(const std::string& path, os::Share share) {
        int ready[2], stop[2];
        if (::pipe(ready) != 0 || ::pipe(stop) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(stop[1]);
            auto f = os::realFileSystem().open(path, os::Access::ReadWrite, share, os::Create::OpenExisting);
            char c = 1;
            if (::write(ready[1], &c, 1) != 1) ::_exit(1);
            (void)::read(stop[0], &c, 1);  // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(stop[0]);
        stop_ = stop[1];
        char c = 0;
        if (::read(ready[0], &c, 1) != 1) throw std::runtime_error("the holding process did not start");
        ::close(ready[0]);
    }
    ~Holder() {
        ::close(stop_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int stop_ = -1;
};

TEST(BadInputHeld, ATableTheProductHoldsOpenIsRefusedAtTheAdditionAndNothingChanges) {
    ScratchDir scratch;
    std::string path = scratch.file("movimento.db");
    writeTable(scratch.path().string(), movementBytes());
    Folder before = readFolder(scratch.path());
    {
        // Opened shared, as the product opens it: the check open succeeds, the addition needs
        // the table to itself and is refused.
        Holder product(path, os::Share::Shared);
        EXPECT_EQ(runUpdate(os::realFileSystem(), path),
                  std::vector<std::string>{"error report: Table " + path + " is busy: another program has it open"});
        EXPECT_TRUE(readFolder(scratch.path()) == before);
    }
    {
        // Held exclusively: already the first open is refused.
        Holder product(path, os::Share::Exclusive);
        EXPECT_EQ(runUpdate(os::realFileSystem(), path), std::vector<std::string>{kNotInstalled});
        EXPECT_EQ(openMessage(os::realFileSystem(), path), "Table " + path + " is busy: another program has it open");
        EXPECT_TRUE(readFolder(scratch.path()) == before);
    }
}

// The disk a power loss left in the middle of the primary addition, at the first call where a
// journal is on it (committed) or where temporary files are but no journal (not committed).
DiskImage interrupted(bool committed) {
    DiskImage start = movementImage(smallTable());
    std::uint64_t total = cleanRun(start, Addition::Primary)->calls();
    for (std::uint64_t call = 1; call <= total; ++call) {
        FaultFileSystem fs(start);
        fs.setTracing(false);
        fs.powerLossAt(call, 5);
        TTable t(fs);
        t.TableName = kTable;
        try {
            addIndex(t, Addition::Primary);
        } catch (const PowerLoss&) {
        }
        const DiskImage& disk = fs.diskAfterCrash();
        bool journal = disk.files.count(std::string(kTable) + ".atuajnl") > 0;
        bool temps = disk.files.count(std::string(kTable) + ".atuatmp") > 0;
        if (committed ? journal && temps : temps && !journal) return disk;
    }
    throw std::runtime_error("no such crash point");
}

TEST(BadInputLeftovers, AnInterruptedRunIsFinishedOrUndoneAndTheUpdateCompletes) {
    Folder original = movementImage(smallTable()).in(kDir);
    for (bool committed : {true, false}) {
        ScratchDir scratch;
        writeFolder(scratch.path(), interrupted(committed).in(kDir));
        std::string path = scratch.file("movimento.db");
        EXPECT_EQ(runUpdate(os::realFileSystem(), path), (std::vector<std::string>{kSuccess, "(terminate)"}))
            << (committed ? "committed" : "not committed");
        Verdict v = judge(original, readFolder(scratch.path()), Addition::Secondary);
        EXPECT_EQ(v.outcome, Outcome::Complete) << v.why;
    }
}

}  // namespace
}  // namespace atua::faults
