#include "engine/paradox/index_files.h"

#include <algorithm>
#include <cstring>

#include "engine/paradox/bytes.h"

namespace atua::paradox {
namespace {

constexpr std::uint32_t kEncryptionMarker = 0xFF00FF00u;

void putName(std::vector<std::uint8_t>& h, std::size_t at, const std::string& name, std::size_t slot) {
    std::size_t n = std::min(name.size(), slot - 1);
    std::memcpy(h.data() + at, name.data(), n);
}

std::size_t roundHeader(std::size_t used) { return (used + 0x7FF) / 0x800 * 0x800; }

}  // namespace

int preferredIndexBlockCode(const TableHeader& db) { return db.version >= 4 ? 2 : 1; }

FamilyStamps stampsOf(const TableHeader& db) {
    FamilyStamps s;
    s.change = db.raw[off::ChangeCount1];
    s.change2 = db.raw[off::ChangeCount2];
    s.counter = le16(db.raw, off::Counter12);
    return s;
}

std::vector<std::uint8_t> indexFileHeader(const TableHeader& db, FileType type, const std::vector<Field>& keyFields,
                                          int blockCode, const IndexTreeBuilder::Tree& tree, const std::string& fileName,
                                          const FamilyStamps& stamps) {
    std::size_t slot = static_cast<std::size_t>(db.nameSlot());
    std::size_t used = 0x58 + 2 * keyFields.size() + 4 + slot;
    std::vector<std::uint8_t> h(roundHeader(used), 0);
    int keySize = 0;
    for (const auto& f : keyFields) keySize += f.size;
    put16(h, off::RecordSize, static_cast<std::uint32_t>(keySize + 6));
    put16(h, off::HeaderSize, static_cast<std::uint32_t>(h.size()));
    h[off::FileType] = static_cast<std::uint8_t>(type);
    h[off::BlockCode] = static_cast<std::uint8_t>(blockCode);
    put32(h, off::NumRecords, tree.entries);
    put16(h, off::UsedBlocks, static_cast<std::uint32_t>(tree.numBlocks));
    put16(h, off::FileBlocks, static_cast<std::uint32_t>(tree.numBlocks));
    put16(h, off::FirstBlock, static_cast<std::uint32_t>(tree.numBlocks ? tree.firstBlock : 0));
    put16(h, off::LastBlock, static_cast<std::uint32_t>(tree.numBlocks ? tree.lastBlock : 0));
    put16(h, off::Counter12, static_cast<std::uint32_t>(stamps.counter + (type == FileType::PrimaryIndex ? 1 : 3)));
    put16(h, off::IndexRoot, static_cast<std::uint32_t>(tree.root));
    h[off::IndexLevels] = static_cast<std::uint8_t>(tree.levels);
    put16(h, off::NumFields, static_cast<std::uint32_t>(keyFields.size()));
    h[off::SortOrder] = db.sortOrderByte;
    h[off::Stamp2C] = stamps.change;
    h[off::Version] = static_cast<std::uint8_t>(db.version);
    put16(h, off::MaxBlocks, static_cast<std::uint32_t>(tree.numBlocks));
    put32(h, off::AutoInc, 1);
    put16(h, off::RealHeaderSize, static_cast<std::uint32_t>(used));
    std::size_t at = 0x58;
    for (const auto& f : keyFields) {
        h[at++] = f.type;
        h[at++] = f.sizeByte;
    }
    at += 4;  // table-name pointer (a memory address in the original engine's files)
    putName(h, at, fileName, slot);
    return h;
}

std::vector<std::uint8_t> xFileHeader(const TableHeader& db, const XTableLayout& layout, std::uint32_t records, int blocks,
                                      const std::string& fileName, const FamilyStamps& stamps) {
    const auto& fields = layout.fields;
    std::size_t n = fields.size();
    std::size_t slot = static_cast<std::size_t>(db.nameSlot());
    std::size_t namesAt = 0x78 + 2 * n + 4 + 4 * n + slot;
    std::size_t at = namesAt;
    for (const auto& f : fields) at += f.name.size() + 1;
    std::size_t numbersAt = at;
    at += 2 * n;
    std::size_t sortAt = at;
    at += db.sortOrderName.size() + 1;
    std::size_t indexNameAt = at;
    bool named = layout.type == FileType::XgMaintained || layout.type == FileType::XgNonMaintained;
    if (named) at += layout.indexName.size() + 1;
    std::size_t used = at;

    std::vector<std::uint8_t> h(roundHeader(used), 0);
    int recordSize = 0;
    for (const auto& f : fields) recordSize += f.size;
    put16(h, off::RecordSize, static_cast<std::uint32_t>(recordSize));
    put16(h, off::HeaderSize, static_cast<std::uint32_t>(h.size()));
    h[off::FileType] = static_cast<std::uint8_t>(layout.type);
    h[off::BlockCode] = db.raw[off::BlockCode];
    put32(h, off::NumRecords, records);
    put16(h, off::UsedBlocks, static_cast<std::uint32_t>(blocks));
    put16(h, off::FileBlocks, static_cast<std::uint32_t>(blocks));
    put16(h, off::FirstBlock, static_cast<std::uint32_t>(blocks ? 1 : 0));
    put16(h, off::LastBlock, static_cast<std::uint32_t>(blocks));
    put16(h, off::Counter12, static_cast<std::uint32_t>(stamps.counter + 2));
    h[off::IndexFieldNo] = static_cast<std::uint8_t>(layout.fieldNumbers.empty() ? 0 : layout.fieldNumbers[0] & 0x7FFF);
    std::uint32_t workspace = le32(db.raw, off::Workspace);
    put32(h, off::Workspace, workspace ? workspace : kKeyedWorkspaceMarker);
    put16(h, off::NumFields, static_cast<std::uint32_t>(n));
    put16(h, off::KeyFields, static_cast<std::uint32_t>(n - 1));
    put32(h, off::Encryption1, kEncryptionMarker);
    h[off::SortOrder] = db.sortOrderByte;
    h[off::Stamp2C] = 0xFF;
    h[off::ChangeCount1] = stamps.change;
    h[off::ChangeCount2] = stamps.change2;
    h[off::Stamp2F] = stamps.change;
    h[off::Version] = static_cast<std::uint8_t>(db.version);
    put16(h, off::MaxBlocks, static_cast<std::uint32_t>(blocks));
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    std::memcpy(h.data() + off::AutoInc, db.raw.data() + off::AutoInc, 4);
    put16(h, off::RealHeaderSize, static_cast<std::uint32_t>(used));
    h[off::IndexFlags] = layout.flags;
    h[off::Fixed56] = 0x20;
    // The extension: the table's version words, update time, code page and the 01 01 pair.
    std::memcpy(h.data() + 0x58, db.raw.data() + 0x58, 0x20);
    put32(h, off::Encryption2, 0);
    // The table's 02 here marks referential integrity; an index file never takes part in it.
    h[0x6C] = 1;
    h[0x6D] = 1;
    std::int16_t hiField = 0;
    for (auto v : layout.fieldNumbers) hiField = std::max<std::int16_t>(hiField, static_cast<std::int16_t>(v & 0x7FFF));
    put16(h, off::HiFieldId, static_cast<std::uint32_t>(hiField + 1));
    put16(h, off::FieldNumbersOff, static_cast<std::uint32_t>(numbersAt - 0x58));
    put16(h, off::IndexNameOff, named ? static_cast<std::uint32_t>(indexNameAt - 0x58) : 0u);
    put16(h, off::SortOrderOff, static_cast<std::uint32_t>(sortAt - 0x58));
    std::fill(h.begin() + 0x70, h.begin() + 0x78, 0);

    std::size_t p = 0x78;
    for (const auto& f : fields) {
        h[p++] = f.type;
        h[p++] = f.sizeByte;
    }
    p += 4 + 4 * n;  // table-name and field-name pointers (memory addresses in the original's files)
    putName(h, p, fileName, slot);
    p = namesAt;
    for (const auto& f : fields) {
        std::memcpy(h.data() + p, f.name.data(), f.name.size());
        p += f.name.size() + 1;
    }
    for (std::size_t i = 0; i < n; ++i) put16(h, numbersAt + 2 * i, static_cast<std::uint16_t>(layout.fieldNumbers[i]));
    std::memcpy(h.data() + sortAt, db.sortOrderName.data(), db.sortOrderName.size());
    if (named) std::memcpy(h.data() + indexNameAt, layout.indexName.data(), layout.indexName.size());
    return h;
}

}  // namespace atua::paradox
