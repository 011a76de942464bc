#include "tests/fuzz/targets.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

#include "engine/check/checker.h"
#include "engine/paradox/add_index.h"
#include "engine/paths.h"
#include "tests/faults/harness.h"

namespace atua::fuzz {
namespace {

using faults::Bytes;
using faults::DiskImage;
using faults::FaultFileSystem;
using faults::kDir;
using faults::kTable;

const std::string kFamilyPrefix = std::string(kDir) + "/movimento.";

// Small enough that a few dozen records already spill sort runs.
paradox::EngineLimits smallLimits() {
    paradox::EngineLimits l;
    l.sortBudgetBytes = 4096;
    return l;
}

std::string namesTable(const std::string& message) {
    if (message.find(kFamilyPrefix) == std::string::npos) return "the message does not name the table: " + message;
    return {};
}

std::vector<Bytes> recordsOrEmpty(const DiskImage& img, bool& readable) {
    readable = false;
    auto it = img.files.find(kTable);
    if (it == img.files.end()) return {};
    try {
        auto r = faults::recordsOf(it->second);
        readable = true;
        return r;
    } catch (const std::exception&) {
        return {};
    }
}

// One addition through the engine; a refusal must leave every file as it was, a success must
// keep every record and leave a table that opens again.
std::string tryAddition(FaultFileSystem& fs, const paradox::IndexRequest& req, const paradox::EngineLimits& limits) {
    DiskImage before = fs.current();
    try {
        paradox::addIndex(fs, kTable, req, limits);
    } catch (const Exception& e) {
        if (fs.current() != before) return "a refused addition changed files: " + e.Message();
        return namesTable(e.Message());
    }
    std::string err = faults::openAndClose(fs);
    if (!err.empty()) return "the engine wrote a table it cannot open again: " + err;
    bool readBefore = false, readAfter = false;
    auto a = recordsOrEmpty(before, readBefore);
    auto b = recordsOrEmpty(fs.current(), readAfter);
    if (readBefore && !readAfter) return "after the addition the table's records cannot be read";
    if (readBefore && a != b) return "the addition changed the table's records";
    return {};
}

paradox::IndexRequest primaryOn(int field) {
    paradox::IndexRequest r;
    r.fields = {field};
    r.options = {TIndexOption::ixPrimary, TIndexOption::ixUnique};
    return r;
}

paradox::IndexRequest secondaryOn(int field, const std::string& name, bool caseInsensitive) {
    paradox::IndexRequest r;
    r.name = name;
    r.fields = {field};
    if (caseInsensitive) r.options = {TIndexOption::ixCaseInsensitive};
    return r;
}

// The additions the targets make on a table's first two fields: the primary index, the
// case-insensitive CNPJ_IDX and a case-sensitive unnamed secondary.
enum class Additions { All, PrimaryOnly, NamedOnly, UnnamedOnly };

// Opens, refreshes and closes the table, then makes the chosen additions.
std::string exerciseTable(FaultFileSystem& fs, const paradox::EngineLimits& limits, Additions which = Additions::All) {
    TTable t(fs);
    t.TableName = kTable;
    DiskImage before = fs.current();
    int fields = 0;
    try {
        t.Open();
        t.Refresh();
        (void)t.RecordCount();
        fields = t.FieldDefs.Count();
        t.Close();
    } catch (const Exception& e) {
        if (fs.current() != before) return "a failed open changed files: " + e.Message();
        return namesTable(e.Message());
    }
    if (fields < 1) return "an open table without fields";
    auto wanted = [which](Additions a) { return which == Additions::All || which == a; };
    int second = fields >= 2 ? 2 : 1;
    std::string p;
    if (wanted(Additions::PrimaryOnly) && !(p = tryAddition(fs, primaryOn(1), limits)).empty()) return p;
    if (wanted(Additions::NamedOnly) && !(p = tryAddition(fs, secondaryOn(second, "CNPJ_IDX", true), limits)).empty())
        return p;
    if (wanted(Additions::UnnamedOnly)) return tryAddition(fs, secondaryOn(second, "", false), limits);
    return p;
}

template <typename F>
std::string guarded(F&& f) {
    try {
        return f();
    } catch (const Exception& e) {
        return "an engine failure escaped where it should have been reported: " + e.Message();
    } catch (const std::exception& e) {
        return std::string("a failure that is not the engine's own escaped: ") + e.what();
    }
}

// A keyed movement table with a .PX, a case-insensitive .XG0/.YG0 and a case-sensitive
// .X02/.Y02, built once.
const DiskImage& keyedFamily() {
    static const DiskImage family = [] {
        fixtures::MovementOptions o;
        o.records = 40;
        o.seed = 3;
        o.mixedCase = true;
        o.sortOrder = fixtures::SortOrder::Dbwinus0;
        FaultFileSystem fs(faults::movementImage(o));
        paradox::addIndex(fs, kTable, primaryOn(1));
        paradox::addIndex(fs, kTable, secondaryOn(2, "CNPJ_IDX", true));
        paradox::addIndex(fs, kTable, secondaryOn(2, "", false));
        return fs.current();
    }();
    return family;
}

const char* const kMembers[] = {"movimento.px", "movimento.xg0", "movimento.yg0", "movimento.x02", "movimento.y02"};

void writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::uint32_t crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

std::map<std::string, std::vector<std::uint8_t>> baseFamily() { return keyedFamily().in(kDir); }
std::vector<std::string> familyMembers() { return {std::begin(kMembers), std::end(kMembers)}; }

std::string openTable(const std::uint8_t* data, std::size_t size) {
    return guarded([&] {
        DiskImage img;
        img.folders = {kDir};
        img.files[kTable] = Bytes(data, data + size);
        FaultFileSystem fs(img);
        fs.setTracing(false);
        return exerciseTable(fs, smallLimits());
    });
}

std::string indexFile(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    return guarded([&] {
        DiskImage img = keyedFamily();
        std::string member = std::string(kDir) + "/" + kMembers[data[0] % std::size(kMembers)];
        img.files[member] = Bytes(data + 1, data + size);

        // The checker reads every file of the family from a real folder; only the member that
        // changed since the last input is written again.
        static const faults::ScratchDir scratch;
        static std::string lastMember;
        if (lastMember.empty()) faults::writeFolder(scratch.path(), keyedFamily().in(kDir));
        else if (lastMember != member) writeFile(scratch.file(paths::baseName(lastMember)), keyedFamily().files.at(lastMember));
        writeFile(scratch.file(paths::baseName(member)), img.files.at(member));
        lastMember = member;
        check::Options options;
        options.caseInsensitive = {"CNPJ_IDX"};
        try {
            check::Report report = check::checkTable(scratch.file("movimento.db"), options);
            (void)report.text();
            (void)report.exitCode();
        } catch (const std::exception& e) {
            return std::string("the checker threw instead of reporting: ") + e.what();
        }

        // One addition an input (the first byte's quotient picks it), with the records held in
        // memory: the sort's spilling is the table target's concern.
        static constexpr Additions kOne[] = {Additions::PrimaryOnly, Additions::NamedOnly, Additions::UnnamedOnly};
        FaultFileSystem fs(img);
        fs.setTracing(false);
        return exerciseTable(fs, paradox::EngineLimits{}, kOne[data[0] / std::size(kMembers) % std::size(kOne)]);
    });
}

std::string recovery(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    return guarded([&] {
        DiskImage img = keyedFamily();
        std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        if (data[0] % 2 == 0) {
            std::string body = "ATUAJNL1\n" + text;
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", crc32(body));
            text = body + "END " + crc + "\n";
        }
        img.files[std::string(kTable) + ".atuajnl"] = Bytes(text.begin(), text.end());
        img.files[std::string(kTable) + ".atuatmp"] = img.files.at(kTable);
        img.files[std::string(kDir) + "/movimento.px.atuatmp"] = img.files.at(std::string(kDir) + "/movimento.px");
        // Neighbours that recovery must never touch: another table of the folder, its own
        // temporary file, and files in a sub-folder and in another folder.
        const std::vector<std::string> others = {std::string(kDir) + "/other.db", std::string(kDir) + "/other.db.atuatmp",
                                                 std::string(kDir) + "/movimento2.db", std::string(kDir) + "/sub/x.db",
                                                 "/u/y.db"};
        img.folders.insert(std::string(kDir) + "/sub");
        img.folders.insert("/u");
        for (const auto& o : others) img.files[o] = Bytes{'k', 'e', 'e', 'p'};

        FaultFileSystem fs(img);
        fs.setTracing(false);
        std::string message;
        {
            TTable t(fs);
            t.TableName = kTable;
            try {
                t.Open();
                t.Close();
            } catch (const Exception& e) {
                message = e.Message();
            }
        }
        for (const auto& path : fs.changedPaths())
            if (path.rfind(kFamilyPrefix, 0) != 0)
                return "recovery touched " + path + ", which is not a file of the table";
        if (!message.empty()) return namesTable(message);
        return std::string();
    });
}

}  // namespace atua::fuzz
