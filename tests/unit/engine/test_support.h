// Helpers for the engine's tests: scratch folders, a small writer of unkeyed Paradox tables
// laid out as the original engine lays them out, value encoders and folder snapshots.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/paradox/bytes.h"
#include "engine/paradox/header.h"

namespace atua::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "atua-engine-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Every file of a folder with its bytes: equal snapshots mean nothing changed.
inline std::map<std::string, Bytes> snapshot(const fs::path& dir) {
    std::map<std::string, Bytes> all;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) all[e.path().filename().string()] = readFile(e.path());
    return all;
}
inline std::vector<std::string> names(const std::map<std::string, Bytes>& snap) {
    std::vector<std::string> n;
    for (const auto& [k, v] : snap) n.push_back(k);
    return n;
}

// Encoders of stored field values.
inline Bytes alpha(std::string_view s, int size) {
    Bytes b(static_cast<std::size_t>(size), 0);
    std::memcpy(b.data(), s.data(), std::min<std::size_t>(s.size(), b.size()));
    return b;
}
inline Bytes long32(std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    return {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u)};
}
inline Bytes short16(std::int16_t v) {
    auto u = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000u);
    return {static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}
inline Bytes number64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    if (d >= 0) bits |= 1ull << 63;
    else bits = ~bits;
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    return b;
}
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}

struct FieldDef {
    std::uint8_t type;
    std::uint8_t size;
    std::string name;
};

struct TableDef {
    std::vector<FieldDef> fields;
    int version = 0x0C;
    int blockCode = 2;
    std::string sortOrder = "DBWINUS0";
    std::uint8_t sortByte = 0x4C;
    int codePage = 1252;
    int perBlock = 0;  // records per block when writing (0: as many as fit)
};

// Writes an unkeyed table (file type 2) holding `records` in chain order 1 -> 2 -> ...
inline void writeUnkeyedTable(const std::string& path, const TableDef& shape, const std::vector<Bytes>& records) {
    using namespace atua::paradox;
    int n = static_cast<int>(shape.fields.size());
    int recordSize = 0;
    for (const auto& f : shape.fields) recordSize += storedFieldSize(f.type, f.size);
    int blockSize = shape.blockCode * 1024;
    int perBlock = shape.perBlock ? shape.perBlock : (blockSize - 6) / recordSize;
    int blocks = static_cast<int>((records.size() + static_cast<std::size_t>(perBlock) - 1) / static_cast<std::size_t>(perBlock));
    Bytes h(0x800, 0);
    put16(h, 0x00, static_cast<std::uint32_t>(recordSize));
    put16(h, 0x02, 0x800);
    h[0x04] = 2;
    h[0x05] = static_cast<std::uint8_t>(shape.blockCode);
    put32(h, 0x06, static_cast<std::uint32_t>(records.size()));
    put16(h, 0x0A, static_cast<std::uint32_t>(blocks));
    put16(h, 0x0C, static_cast<std::uint32_t>(blocks));
    put16(h, 0x0E, blocks ? 1u : 0u);
    put16(h, 0x10, static_cast<std::uint32_t>(blocks));
    put16(h, 0x12, 3);
    put16(h, 0x21, static_cast<std::uint32_t>(n));
    put32(h, 0x25, 0xFF00FF00u);
    h[0x29] = shape.sortByte;
    h[0x2D] = 7;
    h[0x2E] = 9;
    h[0x39] = static_cast<std::uint8_t>(shape.version);
    put16(h, 0x3A, static_cast<std::uint32_t>(blocks));
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    h[0x56] = 0x20;
    put16(h, 0x58, 0x100u + static_cast<std::uint32_t>(shape.version));
    put16(h, 0x5A, 0x100u + static_cast<std::uint32_t>(shape.version));
    put32(h, 0x60, 0x5F17303Fu);
    put16(h, 0x64, static_cast<std::uint32_t>(n + 1));
    put16(h, 0x6A, static_cast<std::uint32_t>(shape.codePage));
    h[0x6C] = 1;
    h[0x6D] = 1;
    std::size_t at = 0x78;
    for (const auto& f : shape.fields) {
        h[at++] = f.type;
        h[at++] = f.size;
    }
    at += 4 + 4 * static_cast<std::size_t>(n);
    std::string tname = "fixture.DB";
    std::memcpy(h.data() + at, tname.data(), tname.size());
    at += shape.version >= 0x0C ? 261 : 79;
    for (const auto& f : shape.fields) {
        std::memcpy(h.data() + at, f.name.data(), f.name.size());
        at += f.name.size() + 1;
    }
    put16(h, 0x66, static_cast<std::uint32_t>(at - 0x58));
    for (int i = 0; i < n; ++i) put16(h, at + 2 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(i + 1));
    at += 2 * static_cast<std::size_t>(n);
    put16(h, 0x6E, static_cast<std::uint32_t>(at - 0x58));
    std::memcpy(h.data() + at, shape.sortOrder.data(), shape.sortOrder.size());
    at += shape.sortOrder.size() + 1;
    put16(h, 0x51, static_cast<std::uint32_t>(at));

    Bytes file = h;
    for (int b = 0; b < blocks; ++b) {
        Bytes block(static_cast<std::size_t>(blockSize), 0);
        std::size_t from = static_cast<std::size_t>(b) * static_cast<std::size_t>(perBlock);
        std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(perBlock), records.size() - from);
        put16(block, 0, b + 1 < blocks ? static_cast<std::uint32_t>(b + 2) : 0u);
        put16(block, 2, static_cast<std::uint32_t>(b));
        put16(block, 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((static_cast<int>(count) - 1) * recordSize)));
        for (std::size_t r = 0; r < count; ++r) {
            const Bytes& rec = records[from + r];
            if (rec.size() != static_cast<std::size_t>(recordSize)) throw std::runtime_error("record of wrong size");
            std::memcpy(block.data() + 6 + r * static_cast<std::size_t>(recordSize), rec.data(), rec.size());
        }
        file.insert(file.end(), block.begin(), block.end());
    }
    writeFile(path, file);
}

}  // namespace atua::test

namespace atua::test {

// Reads a data file's (table or .X) records in chain order, with the block holding each.
struct DataFile {
    paradox::TableHeader header;
    std::vector<Bytes> records;
    std::vector<std::uint16_t> blockOf;
    std::vector<std::uint16_t> chain;
};

inline DataFile readDataFile(const std::string& path) {
    using namespace atua::paradox;
    DataFile d;
    Bytes bytes = readFile(path);
    d.header = parseTableHeader(bytes, bytes.size());
    std::uint16_t blk = static_cast<std::uint16_t>(d.header.firstBlock);
    while (d.header.usedBlocks && blk) {
        d.chain.push_back(blk);
        std::size_t at = static_cast<std::size_t>(d.header.headerSize) + static_cast<std::size_t>(blk - 1) * static_cast<std::size_t>(d.header.blockSize);
        int n = static_cast<std::int16_t>(le16(bytes, at + 4)) / d.header.recordSize + 1;
        for (int r = 0; r < n; ++r) {
            auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at + 6 + static_cast<std::size_t>(r * d.header.recordSize));
            d.records.emplace_back(from, from + d.header.recordSize);
            d.blockOf.push_back(blk);
        }
        blk = le16(bytes, at);
    }
    return d;
}

struct IndexEntry {
    Bytes key;
    int child = 0, count = 0;
};

// Walks a .PX/.Y B-tree from its root, checking that every count is its subtree's record
// count, that a parent's key is its child's first key, that no count exceeds 32767 and that the
// header's entry total and levels are right. Returns the leaf entries in order.
inline std::vector<IndexEntry> walkIndex(const std::string& path, int* levelsOut = nullptr) {
    using namespace atua::paradox;
    Bytes f = readFile(path);
    TableHeader h = parseTableHeader(f, f.size());
    int keySize = h.recordSize - 6;
    std::uint32_t seen = 0;
    std::vector<IndexEntry> leaves;
    std::function<int(int, int, const Bytes*)> walk = [&](int blk, int level, const Bytes* expectFirst) -> int {
        std::size_t at = static_cast<std::size_t>(h.headerSize) + static_cast<std::size_t>(blk - 1) * static_cast<std::size_t>(h.blockSize);
        EXPECT_LE(at + static_cast<std::size_t>(h.blockSize), f.size()) << path << " block " << blk;
        int n = static_cast<std::int16_t>(le16(f, at + 4)) / h.recordSize + 1;
        int total = 0;
        for (int e = 0; e < n; ++e) {
            std::size_t p = at + 6 + static_cast<std::size_t>(e * h.recordSize);
            IndexEntry entry;
            entry.key.assign(f.begin() + static_cast<std::ptrdiff_t>(p), f.begin() + static_cast<std::ptrdiff_t>(p) + keySize);
            entry.child = shortField(f, p + static_cast<std::size_t>(keySize));
            entry.count = shortField(f, p + static_cast<std::size_t>(keySize) + 2);
            EXPECT_EQ(shortField(f, p + static_cast<std::size_t>(keySize) + 4), 0);
            EXPECT_GT(entry.count, 0);
            if (e == 0 && expectFirst) {
                EXPECT_EQ(entry.key, *expectFirst) << path << ": parent key is not the child's first key";
            }
            ++seen;
            if (level > 1) {
                EXPECT_EQ(walk(entry.child, level - 1, &entry.key), entry.count) << path << ": count of block " << entry.child;
            } else {
                leaves.push_back(entry);
            }
            total += entry.count;
        }
        return total;
    };
    if (h.fileBlocks > 0) walk(le16(h.raw, off::IndexRoot), h.raw[off::IndexLevels], nullptr);
    EXPECT_EQ(seen, h.numRecords) << path;
    if (levelsOut) *levelsOut = h.raw[off::IndexLevels];
    return leaves;
}

// Checks an index against the data file it indexes: one leaf entry per data block, in chain
// order, with the block's first key and record count.
inline void expectIndexMatches(const std::string& indexPath, const DataFile& data) {
    auto leaves = walkIndex(indexPath);
    ASSERT_EQ(leaves.size(), data.chain.size()) << indexPath;
    std::size_t r = 0;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        EXPECT_EQ(leaves[i].child, data.chain[i]) << indexPath;
        Bytes first(data.records[r].begin(), data.records[r].begin() + static_cast<std::ptrdiff_t>(leaves[i].key.size()));
        EXPECT_EQ(leaves[i].key, first) << indexPath << " leaf " << i;
        r += static_cast<std::size_t>(leaves[i].count);
    }
    EXPECT_EQ(r, data.records.size()) << indexPath;
}

}  // namespace atua::test
