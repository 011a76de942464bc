#include "engine/check/checker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "engine/check/keys.h"
#include "engine/check/paradox_file.h"

// What is checked where, and how firmly:
// - Problems are departures from the format that every reference file written by the original
//   engine obeys; notes are observations that do not make a table unusable.
// - Stamps: in the original engine's files only two ties hold in every family (an .X's 0x2C is
//   0xFF, and its 0x2F equals the .PX's 0x2C). The others (.PX 0x2C = table 0x2D, .X 0x2E =
//   table 0x2E, .Y 0x2C = .X 0x2D) hold in most families but not all; they are problems only
//   with Options::strictStamps, for files this program wrote itself.
// - Order of alpha keys: plain byte order for 'ascii' sort orders (DBWINUS0, ascii). For other
//   sort orders (ANSIINTL, ANSII850, intl, ...) the collation's weights are unknown: neighbouring
//   keys are compared only where their first difference is collation-neutral (two digits, or two
//   letters that differ after upper-casing); the remaining pairs are reported as not verified.
//   Byte order of the upper-cased key, which is what this program's engine writes for such
//   sort orders, always passes that test.

namespace atua::check {
namespace {

constexpr std::size_t kProblemLimit = 20;

// Findings of one file of the report; held by position, as the report grows meanwhile.
class Sink {
public:
    Sink(std::vector<FileResult>& files, std::size_t at) : files_(files), at_(at) {}
    void problem(std::string text) {
        FileResult& f = files_[at_];
        if (f.problems.size() < kProblemLimit)
            f.problems.push_back(std::move(text));
        else
            ++f.problemsLeftOut;
    }
    void note(std::string text) { files_[at_].notes.push_back(std::move(text)); }
    bool clean() const { return files_[at_].problems.empty() && files_[at_].problemsLeftOut == 0; }
    void describe(std::string text) { files_[at_].description = std::move(text); }

private:
    std::vector<FileResult>& files_;
    std::size_t at_;
};

std::size_t addFile(Report& r, std::string name, std::string description) {
    r.files.push_back({std::move(name), std::move(description), {}, {}, 0});
    return r.files.size() - 1;
}

std::string str(std::uint64_t v) { return std::to_string(v); }

std::string upperAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(upper1252(static_cast<std::uint8_t>(c)));
    return s;
}

struct Chain {
    std::vector<std::uint32_t> blocks;  // in chain order
    std::vector<std::uint32_t> counts;  // records of each
    std::unordered_map<std::uint32_t, std::size_t> position;
    std::uint64_t records = 0;
};

// Follows the next/prev chain from the header's first block and the free list.
Chain walkChain(ParadoxFile& f, Sink& s) {
    const Header& h = f.header();
    Chain c;
    const std::uint32_t physical = f.physicalBlocks();
    if (h.fileBlocks != physical)
        s.problem("the header counts " + str(h.fileBlocks) + " blocks but the file holds " + str(physical));
    // Only a table's last block has been seen cut short (by the original engine).
    if (h.kind() != FileKind::Table && physical > 0 && f.bytesInBlock(physical) < h.blockSize())
        s.problem("the file ends inside block " + str(physical));
    const std::uint32_t capacity = (h.blockSize() - 6) / h.recordSize;
    if (h.recordSize == 0 || capacity == 0) {
        s.problem("a block cannot hold one record of " + str(h.recordSize) + " bytes");
        return c;
    }

    std::vector<std::uint8_t> buf;
    std::uint32_t prev = 0;
    for (std::uint32_t n = h.firstBlock; n != 0;) {
        if (n > physical) {
            s.problem("the chain leads to block " + str(n) + ", outside the file (" + str(physical) + " blocks)");
            break;
        }
        if (c.position.count(n)) {
            s.problem("the chain loops: block " + str(n) + " comes round again");
            break;
        }
        f.block(n, buf);
        const BlockHead bh = blockHead(buf);
        if (bh.prev != prev)
            s.problem("block " + str(n) + " names block " + str(bh.prev) + " as previous, the chain came from " + str(prev));
        std::uint32_t count = 0;
        if (bh.lastOffset < -static_cast<int>(h.recordSize) || (bh.lastOffset + h.recordSize) % h.recordSize != 0) {
            s.problem("block " + str(n) + " has a last-record offset of " + std::to_string(bh.lastOffset) +
                      ", not a multiple of the record size " + str(h.recordSize));
        } else {
            count = static_cast<std::uint32_t>((bh.lastOffset + h.recordSize) / h.recordSize);
            if (count > capacity) {
                s.problem("block " + str(n) + " claims " + str(count) + " records, it holds at most " + str(capacity));
                count = 0;
            }
        }
        // The original engine may leave the last block short of its full size in the file.
        const std::uint32_t present = f.bytesInBlock(n);
        if (present < h.blockSize()) {
            if (6 + std::uint64_t{count} * h.recordSize > present)
                s.problem("block " + str(n) + " is cut short by the end of the file, its records do not fit");
            else
                s.note("block " + str(n) + " is only " + str(present) + " bytes long in the file; its records fit");
        }
        c.position[n] = c.blocks.size();
        c.blocks.push_back(n);
        c.counts.push_back(count);
        c.records += count;
        prev = n;
        n = bh.next;
    }
    if (h.firstBlock == 0 && h.records != 0) s.problem("the header counts records but names no first block");
    if (c.blocks.size() != h.blocksInUse)
        s.problem("the chain has " + str(c.blocks.size()) + " blocks, the header counts " + str(h.blocksInUse) + " in use");
    if (!c.blocks.empty() && c.blocks.back() != h.lastBlock)
        s.problem("the chain ends at block " + str(c.blocks.back()) + ", the header names " + str(h.lastBlock) + " as last");
    if (c.records != h.records)
        s.problem("the blocks hold " + str(c.records) + " records, the header counts " + str(h.records));

    std::unordered_set<std::uint32_t> free;
    for (std::uint32_t n = h.firstFree; n != 0;) {
        if (n > physical || free.count(n) || c.position.count(n)) {
            s.problem("the free-block list reaches block " + str(n) + (c.position.count(n) ? ", which is in use" : ", which is invalid or repeated"));
            break;
        }
        free.insert(n);
        f.block(n, buf);
        n = blockHead(buf).next;
    }
    const std::size_t unaccounted = physical - std::min<std::size_t>(physical, c.blocks.size() + free.size());
    if (unaccounted) s.note(str(unaccounted) + " blocks are neither in the chain nor in the free list");
    return c;
}

// Keys of the records of a data file, in chain order, with the block of each.
struct Records {
    std::vector<std::uint8_t> keys;  // keySize bytes each
    std::vector<std::uint32_t> block;
    std::vector<std::uint8_t> extra;  // extraSize bytes each (secondary values, Blk Num)
    std::size_t keySize = 0, extraSize = 0;
    std::vector<std::vector<std::uint8_t>> firstKey;  // per chain position; empty for empty blocks
    std::size_t size() const { return block.size(); }
    const std::uint8_t* key(std::size_t i) const { return keys.data() + i * keySize; }
    const std::uint8_t* more(std::size_t i) const { return extra.data() + i * extraSize; }
};

// Copies, for every record, the key (the leading keySize bytes) and the bytes that `pick`
// appends to `extra`.
template <class Pick>
Records readRecords(ParadoxFile& f, const Chain& c, std::size_t keySize, std::size_t extraSize, Pick pick) {
    Records r;
    r.keySize = keySize;
    r.extraSize = extraSize;
    r.keys.reserve(c.records * keySize);
    r.extra.reserve(c.records * extraSize);
    r.block.reserve(c.records);
    const std::size_t rs = f.header().recordSize;
    std::vector<std::uint8_t> buf;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
        f.block(c.blocks[i], buf);
        r.firstKey.emplace_back();
        if (c.counts[i] > 0) r.firstKey.back().assign(buf.begin() + 6, buf.begin() + 6 + keySize);
        for (std::uint32_t k = 0; k < c.counts[i]; ++k) {
            const std::uint8_t* rec = buf.data() + 6 + k * rs;
            r.keys.insert(r.keys.end(), rec, rec + keySize);
            pick(rec, r.extra);
            r.block.push_back(c.blocks[i]);
        }
    }
    return r;
}

struct OrderResult {
    std::size_t violations = 0;
    std::size_t unknown = 0;
    std::size_t first = 0;  // index of the later record of the first violation
};

OrderResult checkOrder(const Records& r, const KeyLayout& layout, const Ordering& o) {
    OrderResult res;
    for (std::size_t i = 1; i < r.size(); ++i) {
        Verdict v = compareKeys(r.key(i - 1), r.key(i), layout, o);
        if (v == Verdict::Unknown) {
            ++res.unknown;
        } else if (v != Verdict::Less) {
            if (res.violations++ == 0) res.first = i;
        }
    }
    return res;
}

struct TreeEntry {
    std::vector<std::uint8_t> key;
    std::uint32_t child = 0;
    std::int32_t count = 0;
};

struct Tree {
    std::unordered_map<std::uint32_t, std::vector<TreeEntry>> blocks;
    std::uint32_t root = 0;
    int levels = 0;
    bool usable = false;
};

// Data block holding `key`: at every level the last entry whose key is not greater.
std::uint32_t seekBlock(const Tree& t, const std::uint8_t* key, const KeyLayout& layout, const Ordering& o) {
    std::uint32_t n = t.root;
    for (int level = t.levels; level >= 1; --level) {
        auto it = t.blocks.find(n);
        if (it == t.blocks.end()) return 0;
        const TreeEntry* pick = nullptr;
        for (const TreeEntry& e : it->second) {
            if (compareKeys(e.key.data(), key, layout, o) == Verdict::Greater) break;
            pick = &e;
        }
        if (!pick) return 0;
        n = pick->child;
    }
    return n;
}

// Walks the tree of `tf` (a .PX over a table, a .Y over an .X) from its root, independently of
// the chain order of its blocks.
Tree checkTree(ParadoxFile& tf, Sink& s, const KeyLayout& layout, const Ordering& o, const Chain& data,
               const Records& recs, const std::vector<Field>& keyFields, std::size_t& unknownPairs) {
    const Header& h = tf.header();
    Tree t;
    t.root = h.root;
    t.levels = h.levels;
    if (h.recordSize != layout.size + 6) {
        s.problem("entries are " + str(h.recordSize) + " bytes, the key needs " + str(layout.size) + " + 6");
        return t;
    }
    Chain chain = walkChain(tf, s);
    std::vector<std::uint8_t> buf;
    std::size_t highBlocks = 0;
    for (std::size_t i = 0; i < chain.blocks.size(); ++i) {
        tf.block(chain.blocks[i], buf);
        auto& entries = t.blocks[chain.blocks[i]];
        for (std::uint32_t k = 0; k < chain.counts[i]; ++k) {
            const std::uint8_t* e = buf.data() + 6 + k * h.recordSize;
            TreeEntry te;
            te.key.assign(e, e + layout.size);
            te.child = pdxBlockNumber(e + layout.size);
            if (te.child > 32767) ++highBlocks;
            te.count = pdxShort(e + layout.size + 2);
            const std::int32_t zero = pdxShort(e + layout.size + 4);
            if (zero != 0) s.problem("block " + str(chain.blocks[i]) + " entry " + str(k + 1) + ": third value is " + std::to_string(zero) + ", not 0");
            entries.push_back(std::move(te));
        }
    }
    if (highBlocks)
        s.note(str(highBlocks) + " entries point to blocks above 32767, read as unsigned numbers (how the original engine reads those is not known)");

    if (h.levels == 0) {
        if (recs.size() > 0) s.problem("the index has no levels but the data holds " + str(recs.size()) + " records");
        if (chain.records != 0) s.problem("the index has no levels but holds " + str(chain.records) + " entries");
        t.usable = recs.size() == 0;
        return t;
    }
    if (!t.blocks.count(h.root)) {
        s.problem("the root block " + str(h.root) + " is not in the index's chain");
        return t;
    }

    std::unordered_set<std::uint32_t> visited;
    std::vector<std::uint32_t> leafOrder;
    std::unordered_set<std::uint32_t> referenced;
    const bool clean0 = s.clean();
    // Returns the subtree's record count; first key in `first`.
    auto visit = [&](auto&& self, std::uint32_t n, int level, const std::vector<std::uint8_t>** first) -> std::int64_t {
        visited.insert(n);
        const auto& entries = t.blocks[n];
        if (entries.empty()) {
            s.problem("index block " + str(n) + " (level " + std::to_string(level) + ") has no entries");
            return 0;
        }
        *first = &entries.front().key;
        std::int64_t total = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TreeEntry& e = entries[i];
            const std::string where = "index block " + str(n) + " entry " + str(i + 1) + " (level " + std::to_string(level) + ")";
            if (i > 0) {
                Verdict v = compareKeys(entries[i - 1].key.data(), e.key.data(), layout, o);
                if (v == Verdict::Unknown) ++unknownPairs;
                else if (v != Verdict::Less) s.problem(where + ": key " + showKey(e.key.data(), layout, keyFields) + " is not above the previous entry's");
            }
            if (e.count <= 0) s.problem(where + ": record count " + std::to_string(e.count) + (e.count < 0 ? " (above 32767, beyond a Short)" : ""));
            total += e.count;
            if (level > 1) {
                if (!t.blocks.count(e.child)) {
                    s.problem(where + " points to block " + str(e.child) + ", which is not in the index's chain");
                    continue;
                }
                if (visited.count(e.child)) {
                    s.problem(where + " points to block " + str(e.child) + ", reached before");
                    continue;
                }
                const std::vector<std::uint8_t>* childFirst = nullptr;
                const std::int64_t sum = self(self, e.child, level - 1, &childFirst);
                if (childFirst && *childFirst != e.key)
                    s.problem(where + ": key " + showKey(e.key.data(), layout, keyFields) + " differs from the first key of block " +
                              str(e.child) + ", " + showKey(childFirst->data(), layout, keyFields));
                if (sum != e.count)
                    s.problem(where + " counts " + std::to_string(e.count) + " records, its subtree holds " + std::to_string(sum));
            } else {
                auto pos = data.position.find(e.child);
                if (pos == data.position.end()) {
                    s.problem(where + " points to data block " + str(e.child) + ", which is not in the data chain");
                    continue;
                }
                if (!referenced.insert(e.child).second) {
                    s.problem(where + " points to data block " + str(e.child) + ", which another entry points to as well");
                    continue;
                }
                leafOrder.push_back(e.child);
                if (static_cast<std::uint32_t>(e.count) != data.counts[pos->second])
                    s.problem(where + " counts " + std::to_string(e.count) + " records, data block " + str(e.child) + " holds " +
                              str(data.counts[pos->second]));
                const auto& fk = recs.firstKey[pos->second];
                if (fk != e.key)
                    s.problem(where + ": key " + showKey(e.key.data(), layout, keyFields) + " differs from the first record of data block " +
                              str(e.child) + (fk.empty() ? " (empty)" : ", " + showKey(fk.data(), layout, keyFields)));
            }
        }
        return total;
    };
    const std::vector<std::uint8_t>* rootFirst = nullptr;
    const std::int64_t total = visit(visit, h.root, h.levels, &rootFirst);
    if (total != static_cast<std::int64_t>(recs.size()))
        s.problem("the tree counts " + std::to_string(total) + " records, the data holds " + str(recs.size()));
    for (std::uint32_t b : chain.blocks)
        if (!visited.count(b)) s.problem("index block " + str(b) + " is in the chain but not in the tree");
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < data.blocks.size(); ++i)
        if (data.counts[i] > 0) expected.push_back(data.blocks[i]);
    for (std::uint32_t b : expected)
        if (!referenced.count(b)) s.problem("the records of data block " + str(b) + " cannot be reached through the index");
    if (leafOrder.size() == expected.size() && leafOrder != expected)
        s.problem("the leaf entries list the data blocks in another order than their chain");
    if (data.blocks.size() != expected.size())
        s.note(str(data.blocks.size() - expected.size()) + " empty data blocks in the chain");
    t.usable = clean0 && s.clean();
    return t;
}

// Every record is found, by descending the tree, in the block that holds it.
void checkSeeks(const Tree& t, const Records& r, const KeyLayout& layout, const Ordering& o, Sink& s) {
    std::size_t missed = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        const std::uint32_t b = seekBlock(t, r.key(i), layout, o);
        if (b != r.block[i] && missed++ == 0)
            s.problem("looking up record " + str(i + 1) + " through the tree leads to block " + str(b) + ", it is in block " + str(r.block[i]));
    }
    if (missed > 1) s.problem(str(missed) + " records in all are not found where the tree leads");
}

std::string extensionOf(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : upperAscii(name.substr(dot + 1));
}
std::string stemOf(const std::string& name) {
    auto dot = name.rfind('.');
    return upperAscii(dot == std::string::npos ? name : name.substr(0, dot));
}
bool hexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::string describeSortOrder(const Header& h) {
    return h.sortOrder.empty() ? "sort byte " + str(h.sortByte) : h.sortOrder;
}

void checkHeaderLayout(const Header& h, Sink& s) {
    if (h.encrypted()) return;
    if (h.usedHeader != h.variableEnd)
        s.problem("the header's used length (0x51) is " + str(h.usedHeader) + ", its contents end at " + str(h.variableEnd));
    if (!h.extended) return;
    if (h.fieldNumbersPtr + 0x58u != h.fieldNumbersAt)
        s.problem("the field-number offset (0x66) does not point at the field numbers");
    if (h.sortOrderPtr + 0x58u != h.sortOrderAt)
        s.problem("the sort-order offset (0x6E) does not point at the sort order name");
    if ((h.fileType == 6 || h.fileType == 8) && h.indexNamePtr + 0x58u != h.indexNameAt)
        s.problem("the index-name offset (0x68) does not point at the index name");
    if (h.fileType != 6 && h.fileType != 8 && h.indexNamePtr != 0)
        s.problem("an index-name offset (0x68) in a file that carries no name");
}

// Fixed header bytes that every reference file of each kind carries.
void checkFixedHeader(const Header& h, const Header* table, Sink& s) {
    const FileKind k = h.kind();
    const bool tableLike = k == FileKind::Table || k == FileKind::SecondaryData;
    const std::uint8_t v = h.version;
    if (v < 3 || v > 0x0C) s.problem("unknown file version " + str(v));
    if (table && v != table->version) s.problem("file version " + str(v) + " differs from the table's " + str(table->version));
    if (h.modified1 || h.modified2) s.problem("the header marks the file as needing a rebuild (0x14/0x2A)");
    if (k != FileKind::SecondaryData && h.indexField != 0) s.problem("index field number (0x15) is " + str(h.indexField) + ", not 0");
    if (tableLike && (h.root != 0 || h.levels != 0)) s.problem("root block and levels (0x1E/0x20) are set in a file that has no tree");
    if (h.bytes3E != (tableLike ? 0x0F1F : 0)) s.problem("bytes 0x3E-0x3F are not those of its kind of file");
    if (h.byte56 != (tableLike ? 0x20 : 0)) s.problem("byte 0x56 is " + str(h.byte56) + ", not that of its kind of file");
    if (!tableLike && h.encryption1 != 0) s.problem("an index file marked as encrypted (0x25)");
    if (h.extended && (h.versionId58 != 0x0100 + v || h.versionId5A != 0x0100 + v))
        s.problem("the version words (0x58/0x5A) do not match the file version " + str(v));
    if (table && h.extended && table->extended && h.codePage != table->codePage)
        s.problem("code page " + str(h.codePage) + " differs from the table's " + str(table->codePage));
}

void stamp(bool strict, Sink& s, bool holds, const std::string& what) {
    if (holds) return;
    if (strict) s.problem(what);
    else s.note(what + " (the original engine's files do not always agree here either)");
}

struct Family {
    std::optional<std::string> px;
    std::map<std::string, std::string> x, y;  // suffix after X/Y ("06", "G0") -> file name
    std::vector<std::string> other;
};

Family findFamily(const std::string& folder, const std::string& tableName) {
    Family f;
    const std::string stem = stemOf(tableName);
    for (const std::string& name : folderEntries(folder)) {
        if (name == tableName || stemOf(name) != stem) continue;
        const std::string ext = extensionOf(name);
        if (ext == "PX") {
            f.px = name;
        } else if (ext.size() == 3 && (ext[0] == 'X' || ext[0] == 'Y') &&
                   ((ext[1] == 'G' && std::isalnum(static_cast<unsigned char>(ext[2]))) || (hexDigit(ext[1]) && hexDigit(ext[2])))) {
            (ext[0] == 'X' ? f.x : f.y)[ext.substr(1)] = name;
        }
    }
    return f;
}

struct TableState {
    std::string folder;
    ParadoxFile* db = nullptr;
    Chain chain;
    bool keyed = false;
    KeyLayout pk;
    Ordering order;
    std::vector<std::uint32_t> offsets;  // of each field in a record
    std::optional<Header> pxHeader;
};

void checkSecondary(Report& report, TableState& ts, const std::string& suffix, const std::string& xName,
                    const std::optional<std::string>& yName, const Options& options) {
    Sink s(report.files, addFile(report, xName, "secondary index"));
    const Header& dbh = ts.db->header();
    const bool grouped = suffix[0] == 'G';
    std::optional<ParadoxFile> xf;
    try {
        xf.emplace(joinPath(ts.folder, xName));
    } catch (const FormatError& e) {
        s.problem(e.what());
        return;
    }
    const Header& xh = xf->header();
    if (xh.kind() != FileKind::SecondaryData) {
        s.problem("file type " + str(xh.fileType) + " is not a secondary index");
        return;
    }
    if (grouped != (xh.fileType == 6 || xh.fileType == 8))
        s.problem("file type " + str(xh.fileType) + " does not match the extension ." + (grouped ? "XGn" : "Xnn"));
    const bool maintained = xh.fileType == 5 || xh.fileType == 8;
    if (maintained && !ts.keyed) s.problem("a maintained index on an unkeyed table");
    const int n = static_cast<int>(xh.fields.size());
    const int pkCount = ts.keyed ? dbh.keyFields : 0;
    const int m = ts.keyed ? n - pkCount - 1 : n - 3;
    if (m < 1) {
        s.problem("its " + str(n) + " fields leave no room for an indexed field");
        return;
    }
    if (xh.keyFields != (ts.keyed ? n - 1 : m + 2))
        s.problem("key field count (0x23) is " + std::to_string(xh.keyFields) + ", expected " + std::to_string(ts.keyed ? n - 1 : m + 2));
    int rs = 0;
    for (const Field& f : xh.fields) rs += f.stored;
    bool layoutOk = true;
    if (rs != xh.recordSize) {
        s.problem("record size " + str(xh.recordSize) + " is not the sum of its fields, " + std::to_string(rs));
        layoutOk = false;
    }
    if (xh.blockCode != dbh.blockCode) s.note("block size " + str(xh.blockSize()) + " differs from the table's " + str(dbh.blockSize()));
    std::vector<int> dbField(m);
    std::vector<std::string> fieldNames;
    for (int i = 0; i < m; ++i) {
        const int no = static_cast<std::uint16_t>(xh.fields[i].number) & 0x7FFF;
        dbField[i] = no;
        if (no < 1 || no > static_cast<int>(dbh.fields.size())) {
            s.problem("indexed field " + std::to_string(i + 1) + " names table field " + std::to_string(no) + ", which does not exist");
            layoutOk = false;
            continue;
        }
        const Field& df = dbh.fields[no - 1];
        fieldNames.push_back(df.name);
        if (df.type != xh.fields[i].type || df.size != xh.fields[i].size) {
            s.problem("indexed field " + std::to_string(i + 1) + " is " + typeName(xh.fields[i].type) + " of size " + str(xh.fields[i].size) +
                      ", table field " + df.name + " is " + typeName(df.type) + " of size " + str(df.size));
            layoutOk = false;
        }
        if (upperAscii(xh.fields[i].name) != upperAscii(df.name))
            s.note("indexed field " + std::to_string(i + 1) + " is named \"" + xh.fields[i].name + "\", the table field \"" + df.name + "\"");
    }
    for (int i = m; i < n; ++i)
        if (xh.fields[i].number != i + 1)
            s.problem("field number of field " + std::to_string(i + 1) + " is " + std::to_string(xh.fields[i].number) + ", expected its position");
    if (ts.keyed) {
        for (int i = 0; i < pkCount; ++i) {
            const Field& xf2 = xh.fields[m + i];
            const Field& df = dbh.fields[i];
            if (xf2.type != df.type || xf2.size != df.size) {
                s.problem("key field " + df.name + " is stored as " + typeName(xf2.type) + " of size " + str(xf2.size));
                layoutOk = false;
            }
        }
        const Field& last = xh.fields[n - 1];
        if (last.type != 0x03 || upperAscii(last.name) != "BLK NUM") {
            s.problem("the last field is not the short \"Blk Num\"");
            layoutOk = false;
        }
    }
    if (xh.indexField != (m > 0 ? dbField[0] : 0))
        s.problem("the index field number (0x15) is " + str(xh.indexField) + ", the first indexed field is " + std::to_string(dbField[0]));
    if (!grouped) {
        const int nn = std::stoi(suffix, nullptr, 16);
        if (m != 1) s.problem("an ." + std::string("X") + suffix + " index over " + std::to_string(m) + " fields");
        if (nn != dbField[0] && std::stoi(suffix, nullptr, 10) != dbField[0])
            s.problem("the extension names field " + suffix + ", the index is on field " + std::to_string(dbField[0]));
    } else if (xh.indexName.empty()) {
        s.problem("the index has no name");
    }
    if (xh.sortOrder != dbh.sortOrder || xh.sortByte != dbh.sortByte)
        s.problem("sort order " + describeSortOrder(xh) + " differs from the table's " + describeSortOrder(dbh));
    if (xh.stamp2C != 0xFF) stamp(true, s, false, "stamp 0x2C is " + str(xh.stamp2C) + ", not 255");
    if (ts.pxHeader)
        stamp(true, s, xh.stamp2F == ts.pxHeader->stamp2C,
              "stamp 0x2F is " + str(xh.stamp2F) + ", the .PX's 0x2C is " + str(ts.pxHeader->stamp2C));
    stamp(options.strictStamps, s, xh.stamp2E == dbh.stamp2E,
          "stamp 0x2E is " + str(xh.stamp2E) + ", the table's is " + str(dbh.stamp2E));
    checkHeaderLayout(xh, s);
    checkFixedHeader(xh, &dbh, s);
    // What the original engine's index files carry: the next field ID after the highest field
    // number, and in 0x55 bit 0x01 for a named index of a level 7 table, 0x10 when descending.
    {
        int highest = 0;
        for (const Field& f : xh.fields) highest = std::max(highest, static_cast<std::uint16_t>(f.number) & 0x7FFF);
        stamp(options.strictStamps, s, !xh.extended || xh.hiFieldId == highest + 1,
              "next field ID (0x64) is " + str(xh.hiFieldId) + ", the highest field number " + std::to_string(highest));
        const bool descending = (static_cast<std::uint16_t>(xh.fields[0].number) & 0x8000u) != 0;
        const std::uint8_t want = static_cast<std::uint8_t>((grouped && xh.version >= 0x0C ? 0x01 : 0x00) | (descending ? 0x10 : 0x00));
        stamp(options.strictStamps, s, xh.flags55 == want,
              "index flags (0x55) are " + str(xh.flags55) + ", expected " + str(want));
    }

    std::string indexLabel = grouped ? "\"" + xh.indexName + "\"" : "";
    std::string on;
    for (const auto& nm : fieldNames) on += (on.empty() ? "" : ";") + nm;
    IndexResult ir;
    ir.file = xName;
    ir.name = xh.indexName;
    ir.fields = fieldNames;

    if (!layoutOk) return;
    const Chain xc = walkChain(*xf, s);
    const KeyLayout xl = KeyLayout::leading(xh.fields, static_cast<std::size_t>(xh.keyFields));
    const std::uint32_t blkAt = [&] {
        std::uint32_t at = 0;
        for (int i = 0; i < n - 1; ++i) at += static_cast<std::uint32_t>(xh.fields[i].stored);
        return at;
    }();
    Records xr = readRecords(*xf, xc, xl.size, ts.keyed ? 2 : 0, [&](const std::uint8_t* rec, std::vector<std::uint8_t>& extra) {
        if (ts.keyed) extra.insert(extra.end(), rec + blkAt, rec + blkAt + 2);
    });

    // Order: byte order, else case-insensitive; an index named as case-insensitive must be that.
    const bool mustFold = std::any_of(options.caseInsensitive.begin(), options.caseInsensitive.end(),
                                      [&](const std::string& nm) { return upperAscii(nm) == upperAscii(xh.indexName); });
    Ordering chosen = ts.order;
    OrderResult best;
    bool found = false;
    for (bool fold : {false, true}) {
        if (mustFold && !fold) continue;
        Ordering o = ts.order;
        o.caseInsensitive = fold;
        OrderResult r = checkOrder(xr, xl, o);
        if (!found || r.violations == 0) {
            chosen = o;
            best = r;
        }
        found = true;
        if (r.violations == 0) break;
    }
    std::size_t unknown = best.unknown;
    if (best.violations) {
        s.problem(str(best.violations) + " records out of " + (chosen.weights ? std::string(chosen.caseInsensitive ? "case-insensitive " : "") + std::string(chosen.weights->name())
                                                                 : std::string(chosen.caseInsensitive ? "case-insensitive" : "byte")) +
                  " order, the first is record " +
                  str(best.first + 1) + ": " + showKey(xr.key(best.first), xl, xh.fields) + " after " + showKey(xr.key(best.first - 1), xl, xh.fields));
    }
    ir.order = chosen.caseInsensitive ? IndexOrder::CaseInsensitive : IndexOrder::Bytes;
    ir.entries = xr.size();

    // Every table record exactly once, with the right Blk Num.
    if (xr.size() != ts.chain.records) {
        const std::string text = "it holds " + str(xr.size()) + " records, the table " + str(ts.chain.records);
        // The engine brings a non-maintained index up to date when it is used.
        if (maintained) s.problem(text);
        else s.note(text + ": out of date, as a non-maintained index may be");
    }
    if (ts.keyed) {
        std::vector<std::uint8_t> want;
        std::vector<std::uint32_t> wantBlk;
        std::vector<std::uint8_t> buf;
        const std::size_t drs = dbh.recordSize;
        want.reserve(ts.chain.records * xl.size);
        for (std::size_t b = 0; b < ts.chain.blocks.size(); ++b) {
            ts.db->block(ts.chain.blocks[b], buf);
            for (std::uint32_t k = 0; k < ts.chain.counts[b]; ++k) {
                const std::uint8_t* rec = buf.data() + 6 + k * drs;
                for (int i = 0; i < m; ++i)
                    want.insert(want.end(), rec + ts.offsets[dbField[i] - 1], rec + ts.offsets[dbField[i] - 1] + xh.fields[i].stored);
                want.insert(want.end(), rec, rec + ts.pk.size);
                wantBlk.push_back(ts.chain.blocks[b]);
            }
        }
        const std::size_t ks = xl.size;
        // A damaged layout can make the records built from the table differ in size from the
        // index's keys, or leave no key bytes at all: then there is nothing to compare safely.
        if (ks == 0 || want.size() != wantBlk.size() * ks || xr.keys.size() < xr.size() * ks) {
            s.problem("its key layout does not match the table's fields; records not compared");
            return;
        }
        auto sortedIndex = [&](const std::vector<std::uint8_t>& keys, std::size_t count) {
            std::vector<std::uint32_t> idx(count);
            std::iota(idx.begin(), idx.end(), 0u);
            std::sort(idx.begin(), idx.end(), [&](std::uint32_t a, std::uint32_t b) {
                return std::memcmp(keys.data() + a * ks, keys.data() + b * ks, ks) < 0;
            });
            return idx;
        };
        const auto wi = sortedIndex(want, wantBlk.size());
        const auto hi = sortedIndex(xr.keys, xr.size());
        std::size_t a = 0, b = 0, missing = 0, extra = 0, hints = 0;
        while (a < wi.size() || b < hi.size()) {
            int c = a == wi.size() ? 1 : b == hi.size() ? -1 : std::memcmp(&want[wi[a] * ks], &xr.keys[hi[b] * ks], ks);
            if (c < 0) {
                if (missing++ < 3) s.problem("table record " + showKey(&want[wi[a] * ks], xl, xh.fields) + " has no index record");
                ++a;
            } else if (c > 0) {
                if (extra++ < 3) s.problem("index record " + showKey(&xr.keys[hi[b] * ks], xl, xh.fields) + " matches no table record");
                ++b;
            } else {
                const std::uint32_t blk = pdxBlockNumber(xr.more(hi[b]));
                if (blk != wantBlk[wi[a]] && hints++ < 3)
                    s.problem("Blk Num of " + showKey(&want[wi[a] * ks], xl, xh.fields) + " is " + str(blk) + ", the record is in block " +
                              str(wantBlk[wi[a]]));
                ++a;
                ++b;
            }
        }
        if (missing > 3) s.problem(str(missing) + " table records in all have no index record");
        if (extra > 3) s.problem(str(extra) + " index records in all match no table record");
        if (hints > 3) s.problem(str(hints) + " Blk Num values in all are wrong");
    } else {
        s.note("the record references (Tup No, Blk Num, Tup Offset) of an index on an unkeyed table are not cross-checked");
    }

    // The .Y tree over the .X blocks.
    std::string yDescription = "tree of " + xName;
    if (!yName) {
        s.problem("its tree, .Y" + suffix + ", is missing");
    } else {
        Sink ys(report.files, addFile(report, *yName, yDescription));
        try {
            ParadoxFile yf(joinPath(ts.folder, *yName));
            const Header& yh = yf.header();
            if (yh.fileType != (grouped ? 7 : 4)) ys.problem("file type " + str(yh.fileType) + " does not match the extension");
            else if (yh.fields.size() != static_cast<std::size_t>(xh.keyFields)) ys.problem("its entries have " + str(yh.fields.size()) + " key fields, the index " + std::to_string(xh.keyFields));
            else {
                for (std::size_t i = 0; i < yh.fields.size(); ++i)
                    if (yh.fields[i].type != xh.fields[i].type || yh.fields[i].size != xh.fields[i].size)
                        ys.problem("key field " + str(i + 1) + " differs from the index's");
                if (yh.sortByte != dbh.sortByte) ys.problem("sort byte " + str(yh.sortByte) + " differs from the table's " + str(dbh.sortByte));
                if (yh.keyFields != 0) ys.problem("key field count (0x23) is " + std::to_string(yh.keyFields) + ", not 0");
                stamp(options.strictStamps, ys, yh.stamp2C == xh.stamp2D,
                      "stamp 0x2C is " + str(yh.stamp2C) + ", the index's 0x2D is " + str(xh.stamp2D));
                checkHeaderLayout(yh, ys);
                checkFixedHeader(yh, &dbh, ys);
                if (ys.clean()) {
                    Tree t = checkTree(yf, ys, xl, chosen, xc, xr, xh.fields, unknown);
                    ir.levels = t.levels;
                    if (t.usable && unknown == 0 && best.violations == 0) checkSeeks(t, xr, xl, chosen, ys);
                    ys.describe(yDescription + ", " + std::to_string(t.levels) + " level" + (t.levels == 1 ? "" : "s") + ", " +
                                                       str(yh.records) + " entries");
                }
            }
        } catch (const FormatError& e) {
            ys.problem(e.what());
        }
    }
    if (unknown) {
        s.note("order not verified for sort order " + describeSortOrder(dbh) + " in " + str(unknown) +
               " neighbouring keys (" + (chosen.weights ? std::string("their order rests on a rule its published tables leave open")
                                                    : std::string("its collation is unknown; byte order of the upper-cased key was accepted")) + ")");
        ir.order = IndexOrder::NotVerified;
    }
    std::string orderText = ir.order == IndexOrder::CaseInsensitive ? "case-insensitive order"
                            : ir.order == IndexOrder::Bytes         ? "byte order"
                                                                    : "order not fully verified";
    if (chosen.weights && ir.order != IndexOrder::NotVerified)
        orderText = std::string(chosen.caseInsensitive ? "case-insensitive " : "") + std::string(chosen.weights->name()) + " order";
    s.describe(std::string(maintained ? "maintained" : "non-maintained") + " secondary index " +
               (indexLabel.empty() ? "" : indexLabel + " ") + "on " + on + ", " + str(xr.size()) + " records, " + orderText);
    report.indexes.push_back(ir);
}

}  // namespace

bool Report::ok() const { return !encrypted && problemCount() == 0; }

std::size_t Report::problemCount() const {
    std::size_t n = 0;
    for (const auto& f : files) n += f.problems.size() + f.problemsLeftOut;
    return n;
}

int Report::exitCode() const { return problemCount() ? 1 : encrypted ? 3 : 0; }

std::string Report::text() const {
    std::string out;
    for (const auto& f : files) {
        const std::size_t n = f.problems.size() + f.problemsLeftOut;
        out += f.name + ": " + f.description + ": " + (n == 0 ? "ok" : str(n) + (n == 1 ? " problem" : " problems")) + "\n";
        for (const auto& p : f.problems) out += "  problem: " + p + "\n";
        if (f.problemsLeftOut) out += "  ... and " + str(f.problemsLeftOut) + " more problems\n";
        for (const auto& nt : f.notes) out += "  note: " + nt + "\n";
    }
    if (problemCount()) out += table + ": " + str(problemCount()) + (problemCount() == 1 ? " problem" : " problems") + " found\n";
    else if (encrypted) out += table + ": encrypted, not verified\n";
    else out += table + ": all checks hold\n";
    return out;
}

namespace {
void checkFamily(Report& report, const std::string& path, const Options& options);
}  // namespace

Report checkTable(const std::string& path, const Options& options) {
    Report report;
    report.table = path;
    try {
        checkFamily(report, path, options);
    } catch (const std::exception& e) {
        // A file that cannot be read any further: what was found so far stands, plus this.
        if (report.files.empty()) addFile(report, path, "table");
        FileResult& last = report.files.back();
        last.problems.push_back(std::string("cannot be read any further: ") + e.what());
    }
    return report;
}

namespace {
void checkFamily(Report& report, const std::string& path, const Options& options) {
    report.table = path;
    const auto slash = path.find_last_of("/\\");
    TableState ts;
    ts.folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Sink s(report.files, addFile(report, name, "table"));

    std::optional<ParadoxFile> db;
    try {
        db.emplace(path);
    } catch (const FormatError& e) {
        s.problem(e.what());
        return;
    }
    ts.db = &*db;
    const Header& h = db->header();
    if (h.kind() != FileKind::Table) {
        s.problem("file type " + str(h.fileType) + " is not a table");
        return;
    }
    const Family family = findFamily(ts.folder, name);
    if (h.encrypted()) {
        report.encrypted = true;
        s.describe("encrypted table, not verified");
        s.note("encrypted tables cannot be read without their password");
        return;
    }
    ts.keyed = h.fileType == 0;
    int rs = 0;
    for (const Field& f : h.fields) {
        ts.offsets.push_back(static_cast<std::uint32_t>(rs));
        rs += f.stored;
    }
    if (rs != h.recordSize) s.problem("record size " + str(h.recordSize) + " is not the sum of its fields, " + std::to_string(rs));
    if (ts.keyed && (h.keyFields < 1 || h.keyFields > static_cast<int>(h.fields.size())))
        s.problem("a keyed table with " + std::to_string(h.keyFields) + " key fields");
    if (!ts.keyed && h.keyFields != 0) s.problem("an unkeyed table that declares " + std::to_string(h.keyFields) + " key fields");
    if (ts.keyed && h.keyWorkspace == 0) s.problem("a keyed table whose primary-index word (0x16) is zero");
    if (!ts.keyed && h.keyWorkspace != 0) s.note("an unkeyed table whose primary-index word (0x16) is not zero");
    checkHeaderLayout(h, s);
    checkFixedHeader(h, nullptr, s);
    ts.order = orderingFor(h.sortOrder, h.codePage);
    if (!s.clean()) return;

    ts.chain = walkChain(*db, s);
    const int pkFields = ts.keyed ? h.keyFields : 0;
    ts.pk = KeyLayout::leading(h.fields, static_cast<std::size_t>(pkFields));
    std::string kind = ts.keyed ? "keyed table" : "unkeyed table";
    s.describe(kind + ", " + str(ts.chain.records) + " records in " + str(ts.chain.blocks.size()) + " blocks of " +
                                  str(h.blockCode) + " KB, sort order " + describeSortOrder(h));

    if (ts.keyed && s.clean()) {
        Records recs = readRecords(*db, ts.chain, ts.pk.size, 0, [](const std::uint8_t*, std::vector<std::uint8_t>&) {});
        OrderResult o = checkOrder(recs, ts.pk, ts.order);
        if (o.violations)
            s.problem(str(o.violations) + " records out of key order or repeating a key, the first is record " + str(o.first + 1) + ": " +
                      showKey(recs.key(o.first), ts.pk, h.fields) + " after " + showKey(recs.key(o.first - 1), ts.pk, h.fields));
        // Uniqueness on its own, whatever the collation.
        {
            const std::size_t ks = ts.pk.size;
            std::vector<std::uint32_t> idx(recs.size());
            std::iota(idx.begin(), idx.end(), 0u);
            std::sort(idx.begin(), idx.end(), [&](std::uint32_t a, std::uint32_t b) { return std::memcmp(recs.key(a), recs.key(b), ks) < 0; });
            std::size_t dups = 0;
            for (std::size_t i = 1; i < idx.size(); ++i)
                if (std::memcmp(recs.key(idx[i - 1]), recs.key(idx[i]), ks) == 0 && dups++ == 0)
                    s.problem("primary key " + showKey(recs.key(idx[i]), ts.pk, h.fields) + " occurs more than once");
            if (dups > 1) s.problem(str(dups) + " repeated primary keys in all");
        }
        std::size_t unknown = o.unknown;

        if (!family.px) {
            s.problem("a keyed table without its primary index (.PX)");
        } else {
            Sink ps(report.files, addFile(report, *family.px, "primary index"));
            try {
                ParadoxFile px(joinPath(ts.folder, *family.px));
                const Header& ph = px.header();
                if (ph.fileType != 1) ps.problem("file type " + str(ph.fileType) + " is not a primary index");
                else if (ph.fields.size() != static_cast<std::size_t>(pkFields)) ps.problem("it has " + str(ph.fields.size()) + " key fields, the table " + std::to_string(pkFields));
                else {
                    for (int i = 0; i < pkFields; ++i)
                        if (ph.fields[i].type != h.fields[i].type || ph.fields[i].size != h.fields[i].size)
                            ps.problem("key field " + std::to_string(i + 1) + " differs from the table's " + h.fields[i].name);
                    if (ph.keyFields != 0) ps.problem("key field count (0x23) is " + std::to_string(ph.keyFields) + ", not 0");
                    if (ph.sortByte != h.sortByte) ps.problem("sort byte " + str(ph.sortByte) + " differs from the table's " + str(h.sortByte));
                    stamp(options.strictStamps, ps, ph.stamp2C == h.stamp2D,
                          "stamp 0x2C is " + str(ph.stamp2C) + ", the table's 0x2D is " + str(h.stamp2D));
                    checkHeaderLayout(ph, ps);
                    checkFixedHeader(ph, &h, ps);
                    if (ps.clean()) {
                        Tree t = checkTree(px, ps, ts.pk, ts.order, ts.chain, recs, h.fields, unknown);
                        if (t.usable && unknown == 0 && o.violations == 0) checkSeeks(t, recs, ts.pk, ts.order, ps);
                        ps.describe("primary index on " + [&] {
                            std::string f;
                            for (int i = 0; i < pkFields; ++i) f += (i ? ";" : "") + h.fields[i].name;
                            return f;
                        }() + ", " + std::to_string(t.levels) + " level" + (t.levels == 1 ? "" : "s") + ", " + str(ph.records) + " entries");
                        IndexResult ir;
                        ir.file = *family.px;
                        for (int i = 0; i < pkFields; ++i) ir.fields.push_back(h.fields[i].name);
                        ir.order = unknown ? IndexOrder::NotVerified : IndexOrder::Bytes;
                        ir.entries = recs.size();
                        ir.levels = t.levels;
                        report.indexes.push_back(ir);
                    }
                }
                ts.pxHeader = ph;
            } catch (const FormatError& e) {
                ps.problem(e.what());
            }
        }
        if (unknown)
            s.note("order not verified for sort order " + describeSortOrder(h) + " in " + str(unknown) +
                   " neighbouring keys (its collation is unknown)");
    } else if (family.px) {
        s.problem("a primary index (" + *family.px + ") beside an unkeyed table");
    }

    if (!s.clean()) return;
    for (const auto& [suffix, xName] : family.x) {
        auto y = family.y.find(suffix);
        checkSecondary(report, ts, suffix, xName, y == family.y.end() ? std::nullopt : std::optional<std::string>(y->second), options);
    }
    for (const auto& [suffix, yName] : family.y)
        if (!family.x.count(suffix)) {
            report.files.push_back({yName, "secondary index tree", {"its index, .X" + suffix + ", is missing"}, {}, 0});
        }
}

}  // namespace

}  // namespace atua::check
