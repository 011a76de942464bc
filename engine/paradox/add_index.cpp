#include "engine/paradox/add_index.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "engine/exceptions.h"
#include "engine/paradox/blocks.h"
#include "engine/paradox/bytes.h"
#include "engine/paradox/collation.h"
#include "engine/paradox/external_sort.h"
#include "engine/paradox/index_files.h"
#include "engine/paradox/journal.h"
#include "engine/paradox/record_order.h"
#include "engine/paradox/table_file.h"
#include "engine/paths.h"

namespace atua::paradox {
namespace {

// Lock files the product's database engine keeps open in a folder whose tables are in use.
constexpr std::string_view kLockFiles[] = {"PDOXUSRS.LCK", "PARADOX.LCK"};

[[noreturn]] void refuse(const std::string& message) { throw EDBEngineError(message); }

std::string upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}
std::string lower(std::string s) {
    for (auto& c : s) c = paths::asciiLower(c);
    return s;
}
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// The files beside a table: its .PX, its secondary-index pairs and the engine's lock files.

struct SecondaryFiles {
    std::string x, y;  // paths; empty when that half is missing
    bool named = true; // .XGn (named) or .Xnn (single field, named after it)
    int slot = 0;      // n of .XGn, field number of .Xnn
};

struct Family {
    std::string tablePath, dir, stem;
    bool lowerCase = false;  // new files follow the case of the table's extension
    std::string px;
    std::vector<SecondaryFiles> secondaries;
    std::vector<std::string> lockFiles;

    std::string path(const std::string& ext) const {
        return paths::join(dir, stem + "." + (lowerCase ? lower(ext) : ext));
    }
    std::vector<std::string> members() const {
        std::vector<std::string> all;
        if (!px.empty()) all.push_back(px);
        for (const auto& s : secondaries) {
            if (!s.x.empty()) all.push_back(s.x);
            if (!s.y.empty()) all.push_back(s.y);
        }
        return all;
    }
};

Family scanFamily(os::FileSystem& fs, const std::string& tablePath) {
    Family f;
    f.tablePath = tablePath;
    f.dir = paths::dirName(tablePath);
    f.stem = paths::stem(tablePath);
    std::string ext = paths::extension(tablePath);
    f.lowerCase = ext.size() > 1 && ext[1] >= 'a' && ext[1] <= 'z';
    std::map<std::pair<bool, int>, SecondaryFiles> pairs;
    std::vector<std::string> names;
    try {
        names = fs.list(f.dir);
    } catch (const os::OsError& e) {
        raiseOsError(e, tablePath);
    }
    for (const auto& name : names) {
        for (auto lock : kLockFiles)
            if (paths::equalsNoCase(name, lock)) f.lockFiles.push_back(paths::join(f.dir, name));
        if (!paths::equalsNoCase(paths::stem(name), f.stem)) continue;
        std::string e = upper(paths::extension(name));
        if (e == ".PX") {
            f.px = paths::join(f.dir, name);
            continue;
        }
        if (e.size() != 4 || (e[1] != 'X' && e[1] != 'Y')) continue;
        bool named = e[2] == 'G';
        int slot = named ? hexDigit(e[3]) : (hexDigit(e[2]) < 0 || hexDigit(e[3]) < 0 ? -1 : hexDigit(e[2]) * 16 + hexDigit(e[3]));
        if (slot < 0 || (named && slot > 9)) continue;
        SecondaryFiles& s = pairs[{named, slot}];
        s.named = named;
        s.slot = slot;
        (e[1] == 'X' ? s.x : s.y) = paths::join(f.dir, name);
    }
    for (auto& [key, s] : pairs) f.secondaries.push_back(s);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Exclusive access for the whole addition.

// The table and every file of its family, open exclusively until the switch. Whatever is read
// from them goes through these handles (on Windows nobody, not even we, can open them again).
struct Held {
    std::unique_ptr<os::File> db;
    std::map<std::string, std::unique_ptr<os::File>> others;
    os::File* member(const std::string& path) const {
        auto it = others.find(path);
        return it == others.end() ? nullptr : it->second.get();
    }
    void release() {
        db.reset();
        others.clear();
    }
};

Held acquire(os::FileSystem& fs, const Family& family) {
    Held held;
    const std::string& path = family.tablePath;
    try {
        if (fs.isDirectory(path)) refuse(path + " is a folder, not a Paradox table");
        held.db = fs.open(path, os::Access::ReadWrite, os::Share::Exclusive);
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
    for (const auto& member : family.members()) {
        try {
            held.others[member] = fs.open(member, os::Access::Read, os::Share::Exclusive);
        } catch (const os::OsError& e) {
            std::string file = paths::baseName(member);
            switch (e.kind()) {
                case os::OsError::Kind::Busy: refuse(busyMessage(path) + " (its index file " + file + " is in use)");
                case os::OsError::Kind::DiskFull:
                    refuse("The disk holding table " + path + " is full (opening its index file " + file + "); nothing was changed");
                case os::OsError::Kind::AccessDenied:
                    refuse("Access to the index file " + file + " of table " + path + " was denied by the system; nothing was changed");
                default:
                    refuse("The index file " + file + " of table " + path + " cannot be opened (" + e.what() + "); nothing was changed");
            }
        }
    }
    for (const auto& lock : family.lockFiles)
        if (fs.heldByAnotherProcess(lock))
            refuse(busyMessage(path) + " (the database engine's lock file " + lock + " is in use)");
    return held;
}

// ---------------------------------------------------------------------------------------------
// Keys.

std::string typeName(std::uint8_t type) {
    switch (type) {
        case ft::Alpha: return "alpha";
        case ft::Date: return "date";
        case ft::Short: return "short";
        case ft::Long: return "long integer";
        case ft::Money: return "money";
        case ft::Number: return "number";
        case ft::Logical: return "logical";
        case ft::Memo: return "memo";
        case ft::Blob: return "binary";
        case ft::FmtMemo: return "formatted memo";
        case ft::Ole: return "OLE";
        case ft::Graphic: return "graphic";
        case ft::Time: return "time";
        case ft::Timestamp: return "timestamp";
        case ft::AutoInc: return "autoincrement";
        case ft::Bcd: return "BCD";
        case ft::Bytes: return "bytes";
        default: return "unknown";
    }
}

bool canBeKey(std::uint8_t type) { return !isBlobType(type) && type != ft::Bytes; }

std::string formatValue(const Field& f, std::span<const std::uint8_t> v, int codePage = 1252) {
    if (std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; })) return "(blank)";
    auto bigEndianSigned = [&](std::size_t n) {
        std::uint64_t u = 0;
        for (std::size_t i = 0; i < n; ++i) u = (u << 8) | v[i];
        u ^= 1ull << (8 * n - 1);
        std::int64_t s = static_cast<std::int64_t>(u << (64 - 8 * n)) >> (64 - 8 * n);
        return s;
    };
    switch (f.type) {
        case ft::Alpha: return "'" + sortorder::toWindows1252(v, static_cast<std::uint16_t>(codePage)) + "'";
        case ft::Short: case ft::Long: case ft::AutoInc: case ft::Time:
            return std::to_string(bigEndianSigned(v.size()));
        case ft::Date: {
            // Days counted from 1 January of year 1 (= day 1); civil-from-days on the 1970 epoch.
            std::int64_t z = bigEndianSigned(4) - 1 - 719162 + 719468;
            std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
            std::int64_t doe = z - era * 146097;
            std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
            std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
            std::int64_t mp = (5 * doy + 2) / 153;
            std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
            std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
            std::int64_t y = yoe + era * 400 + (m <= 2);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", static_cast<int>(d), static_cast<int>(m), static_cast<int>(y));
            return buf;
        }
        case ft::Money: case ft::Number: case ft::Timestamp: {
            std::uint8_t b[8];
            bool positive = v[0] & 0x80;
            for (int i = 0; i < 8; ++i) b[i] = positive ? v[static_cast<std::size_t>(i)] : static_cast<std::uint8_t>(~v[static_cast<std::size_t>(i)]);
            if (positive) b[0] &= 0x7F;
            std::uint64_t bits = 0;
            for (int i = 0; i < 8; ++i) bits = (bits << 8) | b[i];
            double d;
            std::memcpy(&d, &bits, 8);
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.15g", d);
            return buf;
        }
        case ft::Logical: return v[0] == 0x81 ? "True" : "False";
        default: {
            std::string s = "0x";
            static const char* digits = "0123456789ABCDEF";
            for (auto c : v) {
                s += digits[c >> 4];
                s += digits[c & 15];
            }
            return s;
        }
    }
}

// One field of a sort key: where it comes from in a table record, where its stored bytes go in
// an index record, and where its sort bytes go in the sort key. Text is folded when
// case-insensitive; under a sort order with published weights its sort bytes are the driver's
// sort key of the value (wider than the value), otherwise the (folded) bytes themselves.
struct KeyPart {
    Field field;
    int sourceOffset = 0;
    int storedOffset = 0;
    int keyOffset = 0;
    int keyWidth = 0;
    bool text = false;
    bool caseInsensitive = false;
    bool weighed = false;
};

struct SortKey {
    explicit SortKey(const Collation& c) : collation(&c) {}
    const Collation* collation;
    std::vector<KeyPart> parts;
    int size = 0;        // bytes of the sort key
    int storedSize = 0;  // bytes of the key fields as stored

    // The sort key is more than the stored bytes: records are sorted with it in front.
    bool transformed() const { return size != storedSize; }
    bool anyWeighed() const {
        return std::any_of(parts.begin(), parts.end(), [](const KeyPart& p) { return p.weighed; });
    }

    void add(const Field& f, bool caseInsensitive) {
        KeyPart p;
        p.field = f;
        p.sourceOffset = f.offset;
        p.storedOffset = storedSize;
        p.keyOffset = size;
        p.text = isTextType(f.type);
        p.caseInsensitive = caseInsensitive && p.text;
        p.weighed = p.text && collation->weighed() != nullptr;
        p.keyWidth = p.weighed ? static_cast<int>(sortorder::SortOrder::keyWidth(static_cast<std::size_t>(f.size))) : f.size;
        parts.push_back(p);
        size += p.keyWidth;
        storedSize += f.size;
    }
    // The sort key of a table record.
    void make(std::span<const std::uint8_t> record, std::uint8_t* out) const { build(record.data(), false, out); }
    // The sort key of an index record (the key fields as stored, in order); `skipWeighed`: the
    // weighed parts' bytes are left as they are (the caller has them).
    void makeFromStored(const std::uint8_t* stored, std::uint8_t* out, bool skipWeighed = false) const {
        build(stored, true, out, skipWeighed);
    }
    std::span<const std::uint8_t> value(const KeyPart& p, const std::uint8_t* rec, bool stored) const {
        return {rec + (stored ? p.storedOffset : p.sourceOffset), static_cast<std::size_t>(p.field.size)};
    }
    const KeyPart& partAt(int pos) const {
        for (const auto& p : parts)
            if (pos < p.keyOffset + p.keyWidth) return p;
        return parts.back();
    }

private:
    void build(const std::uint8_t* rec, bool stored, std::uint8_t* out, bool skipWeighed = false) const {
        for (const auto& p : parts) {
            auto v = value(p, rec, stored);
            if (p.weighed && skipWeighed) continue;
            if (p.weighed) {
                collation->weighed()->sortKey(v, p.caseInsensitive, out + p.keyOffset);
                continue;
            }
            std::memcpy(out + p.keyOffset, v.data(), v.size());
            if (p.caseInsensitive) collation->foldInPlace({out + p.keyOffset, v.size()});
        }
    }
};

// Checks two adjacent keys in sorted order under the table's collation; `width` limits the
// comparison to the leading bytes. Returns the first differing position or -1 when equal.
int firstDifference(const std::uint8_t* a, const std::uint8_t* b, int width) {
    for (int i = 0; i < width; ++i)
        if (a[i] != b[i]) return i;
    return -1;
}

// Two adjacent records in sorted order: their sort keys and the records their values are read
// from (table records, or index records when `stored`). Refuses when their order is not certain
// under the table's sort order.
void checkOrderKnown(const SortKey& key, const Collation& c, const std::uint8_t* prevKey, const std::uint8_t* curKey,
                     const std::uint8_t* prevRec, const std::uint8_t* curRec, bool stored, const std::string& path) {
    auto values = [&](const KeyPart& p) {
        return formatValue(p.field, key.value(p, prevRec, stored), c.codePage()) + " and " +
               formatValue(p.field, key.value(p, curRec, stored), c.codePage()) + " of field " + p.field.name;
    };
    if (c.weighed()) {
        // Part by part up to the one that decides: a weighed part whose order rests on a rule the
        // published tables leave open stops the addition.
        for (const auto& p : key.parts) {
            const int order = std::memcmp(prevKey + p.keyOffset, curKey + p.keyOffset, static_cast<std::size_t>(p.keyWidth));
            const bool differ = order != 0;
            if (p.weighed) {
                std::string why = c.weighed()->openRule(key.value(p, prevRec, stored), key.value(p, curRec, stored), p.caseInsensitive, order);
                if (!why.empty())
                    refuse("Table " + path + " uses the sort order '" + c.name() + "', whose published tables do not settle the order of the values " +
                           values(p) + " (" + why + "); an index written in the wrong order would not work, so none was added");
            }
            if (differ) return;
        }
        return;
    }
    int diff = firstDifference(prevKey, curKey, key.size);
    if (diff < 0) return;
    const KeyPart& p = key.partAt(diff);
    if (!p.text || c.pairIsSafe(prevKey[diff], curKey[diff], p.caseInsensitive)) return;
    refuse("Table " + path + " uses the sort order '" + c.name() + "', whose weights this program does not have, so it does not know how it orders the values " +
           values(p) + "; an index written in the wrong order would not work, so none was added");
}

std::string joinNames(const std::vector<Field>& fields) {
    std::string s;
    for (const auto& f : fields) s += (s.empty() ? "" : ", ") + f.name;
    return s;
}

[[noreturn]] void keyViolation(const std::string& path, const std::vector<Field>& fields, const std::vector<std::span<const std::uint8_t>>& values) {
    std::string v;
    for (std::size_t i = 0; i < fields.size(); ++i) v += (i ? ", " : "") + formatValue(fields[i], values[i]);
    if (fields.size() == 1) refuse("Key violation in table " + path + ": the value " + v + " of " + fields[0].name + " occurs more than once");
    refuse("Key violation in table " + path + ": the key (" + v + ") of fields " + joinNames(fields) + " occurs more than once");
}

// ---------------------------------------------------------------------------------------------
// Secondary indexes: what an existing one is, and building one.

struct SecondaryDef {
    std::string name;
    std::vector<int> fields;  // DB field numbers
    bool caseInsensitive = false, maintained = true, unique = false, descending = false;
    bool sameAs(const SecondaryDef& o) const {
        return paths::equalsNoCase(name, o.name) && fields == o.fields && caseInsensitive == o.caseInsensitive &&
               maintained == o.maintained && unique == o.unique && descending == o.descending;
    }
};

// Reads what an existing .X file defines; nullopt (with the reason) when it is not one this
// program can rebuild.
std::optional<SecondaryDef> readSecondaryDef(const Held& held, const SecondaryFiles& files, const TableHeader& db,
                                             std::string& why) {
    if (files.x.empty() || files.y.empty()) {
        why = "the index files " + (files.x.empty() ? files.y : files.x) + " have no partner";
        return std::nullopt;
    }
    TableHeader x;
    try {
        os::File* f = held.member(files.x);
        if (!f) {
            why = files.x + " is not open";
            return std::nullopt;
        }
        x = readHeader(*f, f->size(), files.x);
    } catch (const EDBEngineError& e) {
        why = e.Message();
        return std::nullopt;
    } catch (const os::OsError& e) {
        why = e.what();
        return std::nullopt;
    }
    SecondaryDef d;
    auto t = x.fileType;
    if (t != FileType::XMaintained && t != FileType::XNonMaintained && t != FileType::XgMaintained && t != FileType::XgNonMaintained) {
        why = files.x + " is not a secondary index file";
        return std::nullopt;
    }
    int n = static_cast<int>(x.fields.size());
    int m = n - db.keyFields - 1;
    if (!db.keyed() || m < 1 || x.keyFields != n - 1 || static_cast<int>(x.fieldNumbers.size()) != n ||
        x.fields.back().type != ft::Short) {
        why = files.x + " does not have the layout of an index of a keyed table";
        return std::nullopt;
    }
    for (int i = 0; i < m; ++i) {
        int no = x.fieldNumbers[static_cast<std::size_t>(i)] & 0x7FFF;
        if (no < 1 || no > static_cast<int>(db.fields.size())) {
            why = files.x + " refers to a field the table does not have";
            return std::nullopt;
        }
        if (x.fieldNumbers[static_cast<std::size_t>(i)] & 0x8000) d.descending = true;
        d.fields.push_back(no);
    }
    std::uint8_t flags = x.raw[off::IndexFlags];
    d.maintained = t == FileType::XMaintained || t == FileType::XgMaintained;
    d.caseInsensitive = files.named && (flags & kIndexFlagCaseInsensitive);
    d.unique = flags & kIndexFlagUnique;
    d.descending = d.descending || (flags & kIndexFlagDescending);
    d.name = files.named ? x.indexName : db.fields[static_cast<std::size_t>(d.fields[0] - 1)].name;
    return d;
}

class SecondaryBuilder {
public:
    SecondaryBuilder(const std::string& tablePath, const TableHeader& db, const SecondaryDef& def,
                     bool named, std::string xPath, std::string yPath, std::size_t budget)
        : db_(db), def_(def), named_(named), xPath_(std::move(xPath)), yPath_(std::move(yPath)), tablePath_(tablePath),
          collation_(Collation::forTable(db)), key_(collation_) {
        layout_.type = named ? (def.maintained ? FileType::XgMaintained : FileType::XgNonMaintained)
                             : (def.maintained ? FileType::XMaintained : FileType::XNonMaintained);
        for (int no : def.fields) {
            const Field& f = db.fields[static_cast<std::size_t>(no - 1)];
            key_.add(f, def.caseInsensitive);
            indexFields_.push_back(f);
            layout_.fields.push_back(f);
            layout_.fieldNumbers.push_back(static_cast<std::int16_t>(no));
        }
        layout_.indexFieldCount = static_cast<int>(def.fields.size());
        indexKeySize_ = key_.size;
        for (int i = 0; i < db.keyFields; ++i) {
            key_.add(db.fields[static_cast<std::size_t>(i)], false);
            layout_.fields.push_back(db.fields[static_cast<std::size_t>(i)]);
        }
        Field blk;
        blk.type = ft::Short;
        blk.sizeByte = 2;
        blk.size = 2;
        blk.name = "Blk Num";
        layout_.fields.push_back(blk);
        int offset = 0;
        for (auto& f : layout_.fields) {
            f.offset = offset;
            offset += f.size;
        }
        for (std::size_t i = def.fields.size(); i < layout_.fields.size(); ++i)
            layout_.fieldNumbers.push_back(static_cast<std::int16_t>(i + 1));
        xRecordSize_ = offset;
        layout_.indexName = named ? def.name : std::string();
        layout_.flags = static_cast<std::uint8_t>((def.caseInsensitive && named ? kIndexFlagCaseInsensitive : 0) |
                                                  (def.unique ? kIndexFlagUnique : 0));
        sortRecord_.resize(static_cast<std::size_t>(key_.size + xRecordSize_));
        scratch_ = scratchPath(tablePath, "sort" + paths::baseName(xPath_) + "-");
        budget_ = budget;
    }

    // One record of the table as the index sorts it: its sort key, then its .X record.
    std::span<const std::uint8_t> sortRecord(std::span<const std::uint8_t> record, std::uint16_t block) {
        key_.make(record, sortRecord_.data());
        makeX(record, block, sortRecord_.data() + key_.size);
        return sortRecord_;
    }
    // The .X record of a table record: the key's fields as stored, then the block number.
    void makeX(std::span<const std::uint8_t> record, std::uint16_t block, std::uint8_t* x) const {
        for (const auto& p : key_.parts)
            std::memcpy(x + p.storedOffset, record.data() + p.sourceOffset, static_cast<std::size_t>(p.field.size));
        putShortField({x, static_cast<std::size_t>(xRecordSize_)}, static_cast<std::size_t>(key_.storedSize), static_cast<std::int16_t>(block));
    }

    // While the table is being rewritten: one record, in the block that now holds it.
    void add(os::FileSystem& fs, std::span<const std::uint8_t> record, std::uint16_t block) {
        if (!sorter_)
            sorter_.emplace(fs, scratch_, std::string(kTempSuffix), sortRecord_.size(), static_cast<std::size_t>(key_.size), budget_,
                            db_.numRecords);
        sorter_->add(sortRecord(record, block));
    }
    // Writes the index of what add() was given.
    void writeAdded(os::FileSystem& fs, FileSwitch& sw, const FamilyStamps& stamps, std::uint64_t total) {
        write(fs, sw, stamps, total, [&](const RecordVisitor& emit) {
            if (!sorter_) return;
            sorter_->finish();
            for (auto rec = sorter_->next(); !rec.empty(); rec = sorter_->next()) emit(rec);
        });
    }
    // Writes the index of the table as it is on disk.
    void writeFromTable(os::FileSystem& fs, FileSwitch& sw, const FamilyStamps& stamps, os::File& table,
                        const std::vector<std::uint16_t>& chain) {
        RecordSource source = [&](const RecordVisitor& visit) {
            forEachRecord(table, db_, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t blk) { visit(sortRecord(rec, blk)); });
        };
        SortShape shape{db_.numRecords, sortRecord_.size(), static_cast<std::size_t>(key_.size)};
        // When the .X records, two slots and a byte per record fit the budget, the table is read once
        // and the .X records are sorted where they are, on their stored key bytes (folded where
        // case-insensitive). Under a sort order with published weights that is right only while
        // every value of a weighed field is its own sort key (digits, punctuation, spaces: CNPJ and
        // CPF however written); the first other value sends the addition to the general way.
        const std::size_t xs = static_cast<std::size_t>(xRecordSize_);
        if (db_.numRecords < 0xFFFFFFFFu && fitsBudget(db_.numRecords, xs + 2 * sizeof(std::uint32_t) + 1, budget_)) {
            std::vector<std::uint8_t> held(static_cast<std::size_t>(db_.numRecords) * xs);
            bool plain = true;
            {
                std::size_t at = 0;
                const sortorder::SortOrder* weights = collation_.weighed();
                forEachRecord(table, db_, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t blk) {
                    std::uint8_t* x = held.data() + at;
                    makeX(rec, blk, x);
                    if (weights && plain)
                        for (const auto& p : key_.parts)
                            if (p.weighed && !weights->plain(key_.value(p, x, true))) plain = false;
                    at += xs;
                });
            }
            if (!plain && writeByValueGroups(fs, sw, stamps, held)) return;
            if (plain) {
                write(fs, sw, stamps, db_.numRecords, [&](const RecordVisitor& emit) {
                    const std::vector<const std::uint8_t*> maps = storedByteMaps(false);
                    std::vector<std::uint32_t> order;
                    sortHeldRecords(held, xs, maps, order);
                    const std::size_t ks = static_cast<std::size_t>(key_.size);
                    constexpr std::size_t kAhead = 16;  // the records come from all over the buffer
                    for (std::size_t i = 0; i < order.size(); ++i) {
                        if (i + kAhead < order.size()) __builtin_prefetch(held.data() + static_cast<std::size_t>(order[i + kAhead]) * xs);
                        const std::uint8_t* x = held.data() + static_cast<std::size_t>(order[i]) * xs;
                        if (key_.transformed()) {
                            key_.makeFromStored(x, sortRecord_.data());
                        } else {
                            for (std::size_t k = 0; k < ks; ++k) sortRecord_[k] = maps[k][x[k]];
                        }
                        std::memcpy(sortRecord_.data() + ks, x, xs);
                        emit(sortRecord_);
                    }
                });
                return;
            }
        }
        write(fs, sw, stamps, db_.numRecords, [&](const RecordVisitor& emit) {
            sortRecords(fs, source, shape, budget_, scratch_, std::string(kTempSuffix), emit);
        });
    }

private:
    // Per stored key byte, the map its byte goes through when held records are sorted on their
    // stored bytes: case folding for case-insensitive parts (weighed ones only when `foldWeighed`:
    // their own order comes from their sort keys), else the byte itself.
    std::vector<const std::uint8_t*> storedByteMaps(bool foldWeighed) {
        for (int i = 0; i < 256; ++i) {
            same_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
            folded_[static_cast<std::size_t>(i)] = collation_.fold(static_cast<std::uint8_t>(i));
        }
        std::vector<const std::uint8_t*> maps;
        for (const auto& p : key_.parts)
            for (int k = 0; k < p.field.size; ++k)
                maps.push_back(p.caseInsensitive && (foldWeighed || !p.weighed) ? folded_.data() : same_.data());
        return maps;
    }

    // Held .X records whose first key field is weighed (and no other is): sorted on their stored
    // bytes (that field folded), records of one value fall together, in the order of the fields
    // after it; the values, each weighed once, are then put in sort-key order. False, having
    // written nothing, when the sort keys of the distinct values would not fit the budget.
    bool writeByValueGroups(os::FileSystem& fs, FileSwitch& sw, const FamilyStamps& stamps, const std::vector<std::uint8_t>& held) {
        const KeyPart& first = key_.parts.front();
        if (!first.weighed || std::any_of(key_.parts.begin() + 1, key_.parts.end(), [](const KeyPart& p) { return p.weighed; }))
            return false;
        const std::size_t xs = static_cast<std::size_t>(xRecordSize_), vs = static_cast<std::size_t>(first.field.size);
        const std::size_t kw = static_cast<std::size_t>(first.keyWidth);
        const std::vector<const std::uint8_t*> maps = storedByteMaps(true);
        std::vector<std::uint32_t> order;
        sortHeldRecords(held, xs, maps, order);
        auto rec = [&](std::size_t i) { return held.data() + static_cast<std::size_t>(order[i]) * xs; };
        auto sameValue = [&](const std::uint8_t* a, const std::uint8_t* b) {
            for (std::size_t k = 0; k < vs; ++k)
                if (maps[k][a[k]] != maps[k][b[k]]) return false;
            return true;
        };
        // Each distinct value's sort key, trailing zeros dropped (zero-padded keys compare as
        // these do with the shorter one first), in one arena.
        std::vector<std::uint32_t> starts, keyAt;
        std::vector<std::uint8_t> keys, one(kw);
        std::size_t used = held.size() + order.size() * sizeof(std::uint32_t);
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i > 0 && sameValue(rec(i - 1), rec(i))) continue;
            collation_.weighed()->sortKey({rec(i) + first.storedOffset, vs}, first.caseInsensitive, one.data());
            std::size_t n = kw;
            while (n > 0 && one[n - 1] == 0) --n;
            starts.push_back(static_cast<std::uint32_t>(i));
            keyAt.push_back(static_cast<std::uint32_t>(keys.size()));
            keys.insert(keys.end(), one.begin(), one.begin() + static_cast<std::ptrdiff_t>(n));
            used += n + 3 * sizeof(std::uint32_t);
            if (used > budget_) return false;
        }
        keyAt.push_back(static_cast<std::uint32_t>(keys.size()));
        std::vector<std::uint32_t> groups(starts.size());
        for (std::size_t g = 0; g < groups.size(); ++g) groups[g] = static_cast<std::uint32_t>(g);
        std::stable_sort(groups.begin(), groups.end(), [&](std::uint32_t a, std::uint32_t b) {
            return std::lexicographical_compare(keys.begin() + keyAt[a], keys.begin() + keyAt[a + 1], keys.begin() + keyAt[b],
                                                keys.begin() + keyAt[b + 1]);
        });
        write(fs, sw, stamps, db_.numRecords, [&](const RecordVisitor& emit) {
            const std::size_t ks = static_cast<std::size_t>(key_.size);
            std::uint8_t* weighed = sortRecord_.data() + first.keyOffset;
            for (std::uint32_t g : groups) {
                const std::size_t end = g + 1 < starts.size() ? starts[g + 1] : order.size();
                const std::size_t n = keyAt[g + 1] - keyAt[g];
                std::memcpy(weighed, keys.data() + keyAt[g], n);
                std::memset(weighed + n, 0, kw - n);
                for (std::size_t i = starts[g]; i < end; ++i) {
                    const std::uint8_t* x = rec(i);
                    key_.makeFromStored(x, sortRecord_.data(), true);
                    std::memcpy(sortRecord_.data() + ks, x, xs);
                    emit(sortRecord_);
                }
            }
        });
        return true;
    }

    // Writes the .X and .Y files to their staged temporary names from the sort records in order.
    void write(os::FileSystem& fs, FileSwitch& sw, const FamilyStamps& stamps, std::uint64_t total,
               const std::function<void(const RecordVisitor&)>& sorted) {
        std::string xTemp = sw.stage(xPath_);
        std::string yTemp = sw.stage(yPath_);
        auto xFile = fs.open(xTemp, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
        XTableLayout& L = layout_;
        std::vector<std::uint8_t> header = xFileHeader(db_, L, static_cast<std::uint32_t>(total), 0, paths::baseName(xPath_), stamps);
        DataBlockWriter writer(*xFile, header.size(), db_.blockSize, xRecordSize_, total);
        if (writer.blockCount() > kMaxBlocks) refuse("Table " + tablePath_ + " is too large for a secondary index");
        int keyWidth = key_.storedSize;  // index fields + primary key as stored: what the .Y entries hold
        int yCode = indexBlockCode(preferredIndexBlockCode(db_), keyWidth + 6);
        IndexTreeBuilder tree(keyWidth, yCode * 1024);
        std::vector<std::uint8_t> prev(sortRecord_.size());
        bool first = true;
        int currentBlock = 0;
        const std::size_t ks = static_cast<std::size_t>(key_.size);
        sorted([&](std::span<const std::uint8_t> rec) {
            if (!first) {
                int diff = firstDifference(prev.data(), rec.data(), key_.size);
                checkOrderKnown(key_, collation_, prev.data(), rec.data(), prev.data() + ks, rec.data() + ks, true, tablePath_);
                if (def_.unique && (diff < 0 || diff >= indexKeySize_)) {
                    std::vector<std::span<const std::uint8_t>> values;
                    const std::uint8_t* x = rec.data() + key_.size;
                    for (const auto& p : key_.parts)
                        if (p.keyOffset < indexKeySize_) values.push_back(key_.value(p, x, true));
                    keyViolation(tablePath_, indexFields_, values);
                }
            }
            std::memcpy(prev.data(), rec.data(), prev.size());
            first = false;
            std::span<const std::uint8_t> x = rec.subspan(static_cast<std::size_t>(key_.size));
            std::uint16_t blk = writer.add(x);
            if (blk != currentBlock) {
                currentBlock = blk;
                tree.addLeaf(x.first(static_cast<std::size_t>(keyWidth)), blk, writer.recordsIn(blk));
            }
        });
        writer.finish();
        header = xFileHeader(db_, L, static_cast<std::uint32_t>(total), writer.blockCount(), paths::baseName(xPath_), stamps);
        xFile->writeAt(0, header);
        xFile->sync();
        xFile.reset();

        std::vector<Field> yFields(L.fields.begin(), L.fields.end() - 1);
        writeIndexFile(fs, yTemp, db_, named_ ? FileType::YgIndex : FileType::YIndex, yFields, yCode, tree.build(),
                       paths::baseName(yPath_), stamps);
    }

public:
    static void writeIndexFile(os::FileSystem& fs, const std::string& temp, const TableHeader& db, FileType type,
                               const std::vector<Field>& keyFields, int code, const IndexTreeBuilder::Tree& tree,
                               const std::string& name, const FamilyStamps& stamps) {
        auto f = fs.open(temp, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
        std::vector<std::uint8_t> header = indexFileHeader(db, type, keyFields, code, tree, name, stamps);
        f->writeAt(0, header);
        if (!tree.blocks.empty()) f->writeAt(header.size(), tree.blocks);
        f->sync();
    }

private:
    const TableHeader& db_;
    SecondaryDef def_;
    bool named_;
    std::string xPath_, yPath_, tablePath_;
    Collation collation_;
    XTableLayout layout_;
    SortKey key_;
    std::vector<Field> indexFields_;
    int indexKeySize_ = 0;
    int xRecordSize_ = 0;
    std::vector<std::uint8_t> sortRecord_;
    std::string scratch_;
    std::size_t budget_ = 0;
    std::optional<ExternalSorter> sorter_;
    std::array<std::uint8_t, 256> same_{}, folded_{};
};

// ---------------------------------------------------------------------------------------------

std::string describeFields(const TableHeader& h, const std::vector<int>& numbers) {
    std::string s;
    for (int no : numbers) s += (s.empty() ? "" : ";") + h.fields[static_cast<std::size_t>(no - 1)].name;
    return s;
}

// Runs the part of an addition that writes the new files: a failure of the system or a damaged
// block found on the way becomes a refusal naming the table (the switch has not happened then,
// and the staged files are gone).
template <class Body>
void building(const std::string& path, Body body) {
    try {
        body();
    } catch (const os::OsError& e) {
        if (e.kind() == os::OsError::Kind::DiskFull)
            refuse("The disk is full: the new index files of table " + path + " could not be written; nothing was changed");
        refuse("The new index files of table " + path + " could not be written (" + e.what() + "); nothing was changed");
    } catch (const FormatError& e) {
        refuse("Table " + path + " is damaged: " + e.what() + "; nothing was changed");
    }
}

struct Prepared {
    Family family;
    Held held;
    TableHeader header;
    std::vector<std::uint16_t> chain;
};

Prepared prepare(os::FileSystem& fs, const std::string& path) {
    Prepared p;
    p.family = scanFamily(fs, path);
    p.held = acquire(fs, p.family);
    std::uint64_t size = 0;
    try {
        size = p.held.db->size();
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
    p.header = readHeader(*p.held.db, size, path);
    if (!p.header.keyed() && p.header.fileType != FileType::UnkeyedTable) refuse(path + " is a Paradox index file, not a table");
    p.chain = walkChain(*p.held.db, p.header, path);
    return p;
}

// True when every block of the chain holds records and the sort keys rise strictly from record to
// record along the chain.
bool inKeyOrderByBlock(os::File& db, const TableHeader& h, const std::vector<std::uint16_t>& chain, const SortKey& key) {
    const std::size_t width = static_cast<std::size_t>(key.size);
    std::vector<std::uint8_t> prev(width), cur(width);
    bool ordered = true, any = false;
    std::size_t blocks = 0;
    std::uint16_t last = 0;
    forEachRecord(db, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t blk) {
        key.make(rec, cur.data());
        if (any && std::memcmp(prev.data(), cur.data(), width) >= 0) ordered = false;
        prev.swap(cur);
        if (!any || blk != last) ++blocks;
        any = true;
        last = blk;
    });
    return ordered && blocks == chain.size();
}

void addPrimary(os::FileSystem& fs, const std::string& path, const IndexRequest& req, const EngineLimits& limits) {
    Prepared p = prepare(fs, path);
    const TableHeader& h = p.header;
    const auto& o = req.options;
    if (!req.name.empty()) refuse("A primary index has no name; the index '" + req.name + "' was not added to table " + path);
    if (o.contains(TIndexOption::ixCaseInsensitive)) refuse("A primary index is always case-sensitive; no index was added to table " + path);
    if (o.contains(TIndexOption::ixNonMaintained)) refuse("A primary index is always maintained; no index was added to table " + path);
    if (o.contains(TIndexOption::ixDescending) || !req.descFields.empty())
        refuse("A primary index is always ascending; no index was added to table " + path);
    std::vector<Field> keyFields;
    for (std::size_t i = 0; i < req.fields.size(); ++i) {
        const Field& f = h.fields[static_cast<std::size_t>(req.fields[i] - 1)];
        if (req.fields[i] != static_cast<int>(i) + 1)
            refuse("The primary index of table " + path + " must be made of the table's first fields, in order; field " + f.name +
                   " is field number " + std::to_string(req.fields[i]));
        if (!canBeKey(f.type)) refuse("Field " + f.name + " of table " + path + " is of type " + typeName(f.type) + " and cannot be part of an index");
        keyFields.push_back(f);
    }
    int n = static_cast<int>(keyFields.size());
    if (h.keyed() && h.keyFields != n) {
        std::vector<int> existing;
        for (int i = 1; i <= h.keyFields; ++i) existing.push_back(i);
        refuse("Table " + path + " already has a different primary index (on " + describeFields(h, existing) + "); it was not changed");
    }

    Collation collation = Collation::forTable(h);
    SortKey key(collation);
    for (const auto& f : keyFields) key.add(f, false);

    // A table keyed already whose records are in key order keeps its blocks and its stamp: only
    // its .PX and secondary indexes are rebuilt, so the old and new .PX describe the same blocks
    // and a reader finds the table agreeing with either (journal rule 4).
    bool keepBlocks = false;
    if (h.keyed()) building(path, [&] { keepBlocks = inKeyOrderByBlock(*p.held.db, h, p.chain, key); });

    // The new header: keyed on the first n fields, the change counter moved on when the blocks are
    // rewritten.
    TableHeader nh = h;
    nh.fileType = FileType::KeyedTable;
    nh.keyFields = n;
    if (!keepBlocks) nh.raw[off::ChangeCount1] = static_cast<std::uint8_t>(h.raw[off::ChangeCount1] + 1);
    FamilyStamps stamps = stampsOf(nh);

    // Secondary indexes beside the table must follow the new record order.
    std::vector<std::pair<SecondaryDef, SecondaryFiles>> secondaries;
    for (const auto& s : p.family.secondaries) {
        if (!h.keyed())
            refuse("Table " + path + " has secondary index files (" + paths::baseName(s.x.empty() ? s.y : s.x) +
                   ") made for a table without a primary index; remove them before adding the primary index");
        std::string why;
        auto def = readSecondaryDef(p.held, s, nh, why);
        if (!def || def->descending)
            refuse("The secondary index files of table " + path + " cannot be rebuilt for the new primary index (" +
                   (def ? "a descending index" : why) + "); nothing was changed");
        secondaries.emplace_back(*def, s);
    }

    // With a weighed key the records are sorted with their sort key in front.
    const bool transformed = key.transformed();
    const std::size_t keyBytes = static_cast<std::size_t>(key.size);
    const std::size_t recordBytes = static_cast<std::size_t>(h.recordSize);
    std::size_t share = secondaries.empty() ? limits.sortBudgetBytes : limits.sortBudgetBytes / 2;
    std::size_t secondaryShare = secondaries.empty() ? 0 : limits.sortBudgetBytes / 2 / secondaries.size();

    building(path, [&] {
        FileSwitch sw(fs, path);
        std::string pxPath = p.family.px.empty() ? p.family.path("PX") : p.family.px;
        std::string pxTemp = sw.stage(pxPath);
        std::vector<std::unique_ptr<SecondaryBuilder>> builders;
        for (const auto& [def, files] : secondaries)
            builders.push_back(std::make_unique<SecondaryBuilder>(path, nh, def, files.named, files.x, files.y, secondaryShare));
        int pxCode = indexBlockCode(preferredIndexBlockCode(h), key.storedSize + 6);
        IndexTreeBuilder tree(key.storedSize, pxCode * 1024);
        auto finishIndexes = [&] {
            SecondaryBuilder::writeIndexFile(fs, pxTemp, nh, FileType::PrimaryIndex, keyFields, pxCode, tree.build(),
                                             paths::baseName(pxPath), stamps);
            for (auto& b : builders) b->writeAdded(fs, sw, stamps, h.numRecords);
            builders.clear();
            p.held.release();
            sw.commit();
        };

        if (keepBlocks) {
            // One leaf per block of the chain, as it stands.
            const std::size_t keyBytesNow = static_cast<std::size_t>(key.size);
            std::vector<std::uint8_t> prevKey(keyBytesNow), curKey(keyBytesNow), prevRec(static_cast<std::size_t>(h.recordSize)), firstKey;
            int currentBlock = 0, inBlock = 0;
            forEachRecord(*p.held.db, h, p.chain, [&](std::span<const std::uint8_t> rec, std::uint16_t blk) {
                key.make(rec, curKey.data());
                if (currentBlock != 0 || inBlock != 0)
                    checkOrderKnown(key, collation, prevKey.data(), curKey.data(), prevRec.data(), rec.data(), false, path);
                prevKey.swap(curKey);
                std::memcpy(prevRec.data(), rec.data(), prevRec.size());
                if (blk != currentBlock) {
                    if (currentBlock != 0) tree.addLeaf(firstKey, static_cast<std::uint16_t>(currentBlock), inBlock);
                    currentBlock = blk;
                    firstKey.assign(rec.begin(), rec.begin() + key.storedSize);
                    inBlock = 0;
                }
                ++inBlock;
                for (auto& b : builders) b->add(fs, rec, blk);
            });
            if (currentBlock != 0) tree.addLeaf(firstKey, static_cast<std::uint16_t>(currentBlock), inBlock);
            finishIndexes();
            return;
        }

        std::string dbTemp = sw.stage(path);
        auto out = fs.open(dbTemp, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
        DataBlockWriter writer(*out, static_cast<std::uint64_t>(h.headerSize), h.blockSize, h.recordSize, h.numRecords);
        if (writer.blockCount() > kMaxBlocks) refuse("Table " + path + " is too large for a primary index");
        const std::size_t sortBytes = transformed ? keyBytes + recordBytes : recordBytes;
        std::vector<std::uint8_t> prev(sortBytes);
        bool first = true;
        int currentBlock = 0;
        auto emit = [&](std::span<const std::uint8_t> sorted) {
            std::span<const std::uint8_t> rec = transformed ? sorted.subspan(keyBytes) : sorted;
            const std::uint8_t* prevRec = transformed ? prev.data() + keyBytes : prev.data();
            if (!first) {
                int diff = firstDifference(prev.data(), sorted.data(), key.size);
                checkOrderKnown(key, collation, prev.data(), sorted.data(), prevRec, rec.data(), false, path);
                if (diff < 0) {
                    std::vector<std::span<const std::uint8_t>> values;
                    for (const auto& f : keyFields) values.push_back(rec.subspan(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.size)));
                    keyViolation(path, keyFields, values);
                }
            }
            std::memcpy(prev.data(), sorted.data(), sortBytes);
            first = false;
            std::uint16_t blk = writer.add(rec);
            if (blk != currentBlock) {
                currentBlock = blk;
                tree.addLeaf(rec.first(static_cast<std::size_t>(key.storedSize)), blk, writer.recordsIn(blk));
            }
            for (auto& b : builders) b->add(fs, rec, blk);
        };
        std::vector<std::uint8_t> withKey(transformed ? sortBytes : 0);
        RecordSource tableRecords = [&](const RecordVisitor& visit) {
            forEachRecord(*p.held.db, h, p.chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) {
                if (!transformed) return visit(rec);
                key.make(rec, withKey.data());
                std::memcpy(withKey.data() + keyBytes, rec.data(), recordBytes);
                visit(withKey);
            });
        };
        sortRecords(fs, tableRecords, {h.numRecords, sortBytes, keyBytes}, share, scratchPath(path, "sortdb-"), std::string(kTempSuffix), emit);
        writer.finish();

        int blocks = writer.blockCount();
        auto& raw = nh.raw;
        raw[off::FileType] = static_cast<std::uint8_t>(FileType::KeyedTable);
        put32(raw, off::NumRecords, h.numRecords);
        put16(raw, off::UsedBlocks, static_cast<std::uint32_t>(blocks));
        put16(raw, off::FileBlocks, static_cast<std::uint32_t>(blocks));
        put16(raw, off::FirstBlock, blocks ? 1u : 0u);
        put16(raw, off::LastBlock, static_cast<std::uint32_t>(blocks));
        if (le32(raw, off::Workspace) == 0) put32(raw, off::Workspace, kKeyedWorkspaceMarker);
        put16(raw, off::KeyFields, static_cast<std::uint32_t>(n));
        put16(raw, off::MaxBlocks, static_cast<std::uint32_t>(blocks));
        put16(raw, off::FirstFree, 0);
        out->writeAt(0, raw);
        out->sync();
        out.reset();
        finishIndexes();
    });
}

void addSecondary(os::FileSystem& fs, const std::string& path, const IndexRequest& req, const EngineLimits& limits) {
    Prepared p = prepare(fs, path);
    const TableHeader& h = p.header;
    const auto& o = req.options;
    if (!h.keyed())
        refuse("Table " + path + " has no primary index; add the primary index before the secondary index" +
               (req.name.empty() ? std::string() : " '" + req.name + "'"));
    if (!h.hasExtension)
        refuse("Table " + path + " is of Paradox level 3, which has no named secondary indexes; the index '" + req.name +
               "' was not added");
    if (o.contains(TIndexOption::ixDescending) || !req.descFields.empty())
        refuse("Descending indexes are not supported; the index '" + req.name + "' was not added to table " + path);
    SecondaryDef def;
    def.fields = req.fields;
    def.caseInsensitive = o.contains(TIndexOption::ixCaseInsensitive);
    def.maintained = !o.contains(TIndexOption::ixNonMaintained);
    def.unique = o.contains(TIndexOption::ixUnique);
    std::vector<Field> fields;
    for (int no : req.fields) {
        const Field& f = h.fields[static_cast<std::size_t>(no - 1)];
        if (!canBeKey(f.type)) refuse("Field " + f.name + " of table " + path + " is of type " + typeName(f.type) + " and cannot be part of an index");
        fields.push_back(f);
    }
    if (std::find(req.fields.begin() + 1, req.fields.end(), req.fields[0]) != req.fields.end() ||
        std::adjacent_find(req.fields.begin(), req.fields.end()) != req.fields.end())
        refuse("A field appears twice in the index '" + req.name + "' of table " + path);
    // A case-sensitive index on one field, named after it (or unnamed), is an .Xnn index;
    // every other index is named and goes in an .XGn pair.
    bool named = !(req.fields.size() == 1 && !def.caseInsensitive && (req.name.empty() || paths::equalsNoCase(req.name, fields[0].name)));
    def.name = named ? req.name : fields[0].name;
    if (named && def.name.empty()) refuse("An index name is required for this index of table " + path);
    if (named && def.name.size() > 31) refuse("The index name '" + def.name + "' is too long (at most 31 characters)");
    if (named) {
        for (const auto& f : h.fields)
            if (paths::equalsNoCase(f.name, def.name))
                refuse("The index name '" + def.name + "' of table " + path + " is the name of a field; choose another name");
    }

    // The same name again: identical means rebuild in place, different means refuse.
    const SecondaryFiles* target = nullptr;
    for (const auto& s : p.family.secondaries) {
        if (s.named != named) continue;
        std::string why;
        auto existing = readSecondaryDef(p.held, s, h, why);
        std::string existingName = existing ? existing->name : std::string();
        bool sameSlot = !named && s.slot == req.fields[0];
        if (!sameSlot && !(existing && paths::equalsNoCase(existingName, def.name))) continue;
        if (!existing) refuse("The existing index files of table " + path + " for index '" + def.name + "' cannot be read (" + why + "); nothing was changed");
        if (!existing->sameAs(def))
            refuse("Table " + path + " already has a different index named '" + existing->name + "'; it was not changed");
        target = &s;
        break;
    }
    SecondaryFiles slot;
    if (target) {
        slot = *target;
    } else if (named) {
        int n = 0;
        while (n <= 9 && std::any_of(p.family.secondaries.begin(), p.family.secondaries.end(),
                                     [&](const SecondaryFiles& s) { return s.named && s.slot == n; }))
            ++n;
        if (n > 9) refuse("Table " + path + " already has ten named secondary indexes; no more can be added");
        slot.named = true;
        slot.slot = n;
        slot.x = p.family.path("XG" + std::to_string(n));
        slot.y = p.family.path("YG" + std::to_string(n));
    } else {
        static const char* digits = "0123456789ABCDEF";
        std::string nn{digits[(req.fields[0] >> 4) & 15], digits[req.fields[0] & 15]};
        slot.named = false;
        slot.slot = req.fields[0];
        slot.x = p.family.path("X" + nn);
        slot.y = p.family.path("Y" + nn);
    }
    // A pair found with one half missing gets the other half named after it ("XG0" <-> "YG0").
    auto partner = [&](const std::string& of, char letter) {
        std::string ext = upper(paths::extension(of)).substr(1);
        ext[0] = letter;
        return p.family.path(ext);
    };
    if (slot.x.empty()) slot.x = partner(slot.y, 'X');
    if (slot.y.empty()) slot.y = partner(slot.x, 'Y');

    building(path, [&] {
        FileSwitch sw(fs, path);
        SecondaryBuilder builder(path, h, def, named, slot.x, slot.y, limits.sortBudgetBytes);
        builder.writeFromTable(fs, sw, stampsOf(h), *p.held.db, p.chain);
        p.held.release();
        sw.commit();
    });
}

}  // namespace

void addIndex(os::FileSystem& fs, const std::string& path, const IndexRequest& request, const EngineLimits& limits) {
    recoverTable(fs, path);
    if (request.options.contains(TIndexOption::ixExpression))
        refuse("Expression indexes are not supported; no index was added to table " + path);
    if (request.options.contains(TIndexOption::ixPrimary)) addPrimary(fs, path, request, limits);
    else addSecondary(fs, path, request, limits);
}

void recoverInterruptedUpdate(os::FileSystem& fs, const std::string& path) { recoverTable(fs, path); }

std::vector<TIndexDef> listIndexes(os::FileSystem& fs, const std::string& path, const TableHeader& header) {
    std::vector<TIndexDef> defs;
    if (header.keyed()) {
        std::vector<int> key;
        for (int i = 1; i <= header.keyFields; ++i) key.push_back(i);
        defs.push_back({"", describeFields(header, key), {TIndexOption::ixPrimary, TIndexOption::ixUnique}, ""});
    }
    Family family = scanFamily(fs, path);
    for (const auto& s : family.secondaries) {
        if (s.x.empty() || s.y.empty()) continue;
        Held held;
        try {
            held.others[s.x] = fs.open(s.x, os::Access::Read, os::Share::Shared);
        } catch (const os::OsError&) {
            continue;
        }
        std::string why;
        auto def = readSecondaryDef(held, s, header, why);
        if (!def) continue;
        TIndexOptions options;
        std::uint8_t bits = 0;
        if (def->unique) bits |= 1u << static_cast<unsigned>(TIndexOption::ixUnique);
        if (def->descending) bits |= 1u << static_cast<unsigned>(TIndexOption::ixDescending);
        if (def->caseInsensitive) bits |= 1u << static_cast<unsigned>(TIndexOption::ixCaseInsensitive);
        if (!def->maintained) bits |= 1u << static_cast<unsigned>(TIndexOption::ixNonMaintained);
        defs.push_back({def->name, describeFields(header, def->fields), TIndexOptions::fromValue(bits), ""});
    }
    return defs;
}

}  // namespace atua::paradox
