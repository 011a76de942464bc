#include "engine/paradox/journal.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "engine/exceptions.h"
#include "engine/paradox/table_file.h"
#include "engine/paths.h"

namespace atua::paradox {
namespace {

constexpr std::string_view kMagic = "ATUAJNL1\n";

std::uint32_t crc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string hex32(std::uint32_t v) {
    static const char* d = "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = d[v & 15];
    return s;
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && paths::equalsNoCase(s.substr(s.size() - suffix.size()), suffix);
}
bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && paths::equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string journalPath(const std::string& tablePath) { return tablePath + std::string(kJournalSuffix); }

std::string serialize(const std::vector<std::pair<std::string, std::string>>& renames) {
    std::string body(kMagic);
    for (const auto& [temp, final] : renames) body += temp + "\t" + final + "\n";
    return body + "END " + hex32(crc32(body)) + "\n";
}

// The renames of an intact journal; nullopt when it is damaged or cut short.
std::optional<std::vector<std::pair<std::string, std::string>>> parse(const std::string& text) {
    std::size_t endAt = text.rfind("END ");
    if (text.compare(0, kMagic.size(), kMagic) != 0 || endAt == std::string::npos) return std::nullopt;
    std::string body = text.substr(0, endAt);
    if (text.substr(endAt) != "END " + hex32(crc32(body)) + "\n") return std::nullopt;
    std::vector<std::pair<std::string, std::string>> renames;
    std::size_t at = kMagic.size();
    while (at < body.size()) {
        std::size_t nl = body.find('\n', at);
        std::string line = body.substr(at, nl - at);
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos || nl == std::string::npos) return std::nullopt;
        renames.emplace_back(line.substr(0, tab), line.substr(tab + 1));
        at = nl + 1;
    }
    return renames;
}

void writeWhole(os::FileSystem& fs, const std::string& path, std::string_view text) {
    auto f = fs.open(path, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
    f->writeAt(0, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    f->sync();
}

std::string readWhole(os::FileSystem& fs, const std::string& path) {
    auto f = fs.open(path, os::Access::Read, os::Share::Shared);
    std::uint64_t size = f->size();
    if (size > (1u << 20)) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    f->readAt(0, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    return text;
}

// The kinds of file a switch replaces, in the order of rule 4 (b-e).
enum class Kind { Y, PrimaryIndex, Table, X };

Kind kindOf(const std::string& name) {
    std::string ext = paths::extension(name);
    if (ext.size() >= 2 && (ext[1] == 'Y' || ext[1] == 'y')) return Kind::Y;
    if (paths::equalsNoCase(ext, ".px")) return Kind::PrimaryIndex;
    if (ext.size() >= 2 && (ext[1] == 'X' || ext[1] == 'x')) return Kind::X;
    return Kind::Table;
}

// Rules 4 and 5, also used by recovery.
void finishSwitch(os::FileSystem& fs, const std::string& dir, const std::string& journal,
                  const std::vector<std::pair<std::string, std::string>>& renames) {
    // Rule 4a: an old .X whose replacement is still to come goes first (again, when redone).
    for (const auto& [temp, final] : renames)
        if (kindOf(final) == Kind::X && fs.exists(paths::join(dir, temp))) fs.remove(paths::join(dir, final));
    for (const auto& [temp, final] : renames) {
        std::string from = paths::join(dir, temp);
        if (fs.exists(from)) fs.rename(from, paths::join(dir, final));
    }
    fs.syncDirectory(dir);
    fs.remove(journal);
    fs.syncDirectory(dir);
}

}  // namespace

std::string scratchPath(const std::string& tablePath, const std::string& tag) {
    return tablePath + "." + tag + std::string(kTempSuffix);
}

FileSwitch::FileSwitch(os::FileSystem& fs, std::string tablePath)
    : fs_(fs), tablePath_(std::move(tablePath)), dir_(paths::dirName(tablePath_)) {}

FileSwitch::~FileSwitch() {
    if (committed_) return;
    for (const auto& e : entries_) {
        try {
            fs_.remove(e.temp);
        } catch (...) {
            // Swept by the next recovery.
        }
    }
    try {
        fs_.remove(journalPath(tablePath_) + std::string(kTempSuffix));
    } catch (...) {
    }
}

std::string FileSwitch::stage(const std::string& finalPath) {
    std::string temp = finalPath + std::string(kTempSuffix);
    entries_.push_back({temp, finalPath});
    return temp;
}

void FileSwitch::commit() {
    std::vector<std::pair<std::string, std::string>> renames;
    for (const auto& e : entries_) renames.emplace_back(paths::baseName(e.temp), paths::baseName(e.final));
    std::stable_sort(renames.begin(), renames.end(),
                     [](const auto& a, const auto& b) { return kindOf(a.second) < kindOf(b.second); });
    std::string journal = journalPath(tablePath_);
    std::string journalTemp = journal + std::string(kTempSuffix);
    writeWhole(fs_, journalTemp, serialize(renames));
    fs_.rename(journalTemp, journal);
    fs_.syncDirectory(dir_);
    committed_ = true;  // from here on the new files are the truth
    try {
        finishSwitch(fs_, dir_, journal, renames);
    } catch (const os::OsError& e) {
        throw EDBEngineError("The new index files of table " + tablePath_ +
                             " could not all be put in place (" + e.what() +
                             "); the change is completed the next time the table is opened");
    }
}

void recoverTable(os::FileSystem& fs, const std::string& tablePath) {
    std::string dir = paths::dirName(tablePath);
    std::string base = paths::baseName(tablePath);
    std::string prefix = paths::stem(tablePath) + ".";
    std::string journalName = base + std::string(kJournalSuffix);
    std::vector<std::string> temps;
    bool journal = false;
    try {
        for (const auto& name : fs.list(dir)) {
            if (paths::equalsNoCase(name, journalName)) journal = true;
            else if (startsWithNoCase(name, prefix) && endsWithNoCase(name, kTempSuffix)) temps.push_back(name);
        }
    } catch (const os::OsError&) {
        return;  // an unreadable folder: the open itself reports what is wrong
    }
    if (!journal && temps.empty()) return;
    try {
        // Recovery needs the table to itself; while someone else has it, leftovers stay put.
        try {
            fs.open(tablePath, os::Access::Read, os::Share::Exclusive);
        } catch (const os::OsError& e) {
            if (e.kind() == os::OsError::Kind::Busy) {
                if (journal)
                    throw EDBEngineError(busyMessage(tablePath) + "; an interrupted index update must be finished first");
                return;
            }
            if (e.kind() != os::OsError::Kind::NotFound) throw;
        }
        if (journal) {
            std::string jpath = paths::join(dir, journalName);
            auto renames = parse(readWhole(fs, jpath));
            // Only the table's own files, each replaced by its own temporary; a journal naming
            // anything else was not written by this engine and is treated as damaged.
            bool own = renames.has_value();
            if (own)
                for (const auto& [temp, final] : *renames)
                    own = own && final.find_first_of("/\\") == std::string::npos && startsWithNoCase(final, prefix) &&
                          temp == final + std::string(kTempSuffix);
            if (own) finishSwitch(fs, dir, jpath, *renames);
            else fs.remove(jpath);
        }
        for (const auto& name : temps) fs.remove(paths::join(dir, name));
        fs.syncDirectory(dir);
    } catch (const os::OsError& e) {
        throw EDBEngineError("An interrupted index update of table " + tablePath + " could not be finished: " + e.what());
    }
}

}  // namespace atua::paradox
