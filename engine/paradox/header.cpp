#include "engine/paradox/header.h"

#include "engine/paradox/bytes.h"

namespace atua::paradox {
namespace {

using Kind = FormatError::Kind;

// v3/v3.5 tables keep a password in 0x25; later ones store this marker there and the real
// encryption word at 0x5C.
constexpr std::uint32_t kEncryptionMarker = 0xFF00FF00u;

[[noreturn]] void fail(Kind kind, const std::string& why) { throw FormatError(kind, why); }

std::string hex(unsigned v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x";
    s += digits[(v >> 4) & 15];
    s += digits[v & 15];
    return s;
}

// Reads a NUL-terminated string starting at `at`; fails when it runs past `end`.
std::string cString(std::span<const std::uint8_t> b, std::size_t& at, std::size_t end, const char* what) {
    std::size_t start = at;
    while (at < end && b[at] != 0) ++at;
    if (at >= end) fail(Kind::Damaged, std::string("the ") + what + " is not terminated inside the header");
    std::string s(reinterpret_cast<const char*>(b.data() + start), at - start);
    ++at;
    return s;
}

}  // namespace

int storedFieldSize(std::uint8_t type, std::uint8_t sizeByte) {
    switch (type) {
        case ft::Alpha: case ft::Bytes: return sizeByte >= 1 ? sizeByte : 0;
        case ft::Date: case ft::Long: case ft::Time: case ft::AutoInc: return sizeByte == 4 ? 4 : 0;
        case ft::Short: return sizeByte == 2 ? 2 : 0;
        case ft::Money: case ft::Number: case ft::Timestamp: return sizeByte == 8 ? 8 : 0;
        case ft::Logical: return sizeByte == 1 ? 1 : 0;
        case ft::Memo: case ft::Blob: case ft::FmtMemo: case ft::Ole: case ft::Graphic:
            return sizeByte >= 11 ? sizeByte : 0;
        case ft::Bcd: return sizeByte <= 32 ? 17 : 0;
        default: return 0;
    }
}

bool isBlobType(std::uint8_t type) { return type >= ft::Memo && type <= ft::Graphic; }
bool isTextType(std::uint8_t type) { return type == ft::Alpha; }

TableHeader parseTableHeader(std::span<const std::uint8_t> b, std::uint64_t fileSize) {
    if (b.size() < 0x58) fail(Kind::Foreign, "the file is too short for a Paradox header");
    TableHeader h;
    h.recordSize = le16(b, off::RecordSize);
    h.headerSize = le16(b, off::HeaderSize);
    unsigned type = b[off::FileType];
    unsigned code = b[off::BlockCode];
    h.version = b[off::Version];
    if (h.headerSize == 0 || h.headerSize % 0x800 != 0)
        fail(Kind::Foreign, "its header size (" + std::to_string(h.headerSize) + ") is not that of a Paradox table");
    if (static_cast<std::uint64_t>(h.headerSize) > fileSize)
        fail(Kind::Damaged, "the file ends inside its header (" + std::to_string(fileSize) + " of " +
                                std::to_string(h.headerSize) + " bytes)");
    if (type > 8) fail(Kind::Foreign, "its file type byte " + hex(type) + " is unknown");
    if (code < 1 || code > 32) fail(Kind::Foreign, "its block size code " + std::to_string(code) + " is invalid");
    if (h.version < 3 || h.version > 0x0C) fail(Kind::Foreign, "its version byte " + hex(h.version) + " is unknown");
    h.fileType = static_cast<FileType>(type);
    h.blockSize = static_cast<int>(code) * 1024;
    if (b.size() < static_cast<std::size_t>(h.headerSize)) fail(Kind::Damaged, "the header is cut short");
    h.raw.assign(b.begin(), b.begin() + h.headerSize);

    int numFields = static_cast<std::int16_t>(le16(b, off::NumFields));
    h.keyFields = static_cast<std::int16_t>(le16(b, off::KeyFields));
    if (numFields < 1 || numFields > 255) fail(Kind::Foreign, "its field count " + std::to_string(numFields) + " is invalid");
    if (h.keyFields < 0 || h.keyFields > numFields || (type == 0 && h.keyFields == 0))
        fail(Kind::Damaged, "its key field count is invalid");
    if (h.recordSize < 1 || h.recordSize > h.blockSize - 6)
        fail(Kind::Damaged, "its record size " + std::to_string(h.recordSize) + " does not fit its " +
                                std::to_string(h.blockSize) + "-byte blocks");

    // .PX and .Y files carry only the key fields' descriptors and no names.
    bool indexFile = type == 1 || type == 4 || type == 7;
    h.hasExtension = h.version >= 5 && !indexFile;
    std::size_t at = h.hasExtension ? 0x78 : 0x58;
    std::size_t end = static_cast<std::size_t>(h.headerSize);
    std::size_t namePointers = indexFile ? 0 : 4 * static_cast<std::size_t>(numFields);
    if (at + 2 * numFields + 4 + namePointers + h.nameSlot() > end) fail(Kind::Damaged, "the field list does not fit the header");
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        Field f;
        f.type = b[at + 2 * i];
        f.sizeByte = b[at + 2 * i + 1];
        f.size = storedFieldSize(f.type, f.sizeByte);
        if (f.size == 0)
            fail(Kind::Damaged, "field " + std::to_string(i + 1) + " has an unknown type " + hex(f.type) +
                                    " or an invalid size " + std::to_string(f.sizeByte));
        f.offset = offset;
        offset += f.size;
        h.fields.push_back(std::move(f));
    }
    if (indexFile) offset += 6;  // child block, record count, and a zero word
    if (offset != h.recordSize)
        fail(Kind::Damaged, "its record size " + std::to_string(h.recordSize) + " differs from the sum of its field sizes (" +
                                std::to_string(offset) + ")");

    // Encryption is decided from the fixed header, before the names are read.
    std::uint32_t enc1 = le32(b, off::Encryption1);
    bool encrypted = h.hasExtension ? (enc1 != kEncryptionMarker && enc1 != 0) || le32(b, off::Encryption2) != 0
                                    : enc1 != 0;
    if (encrypted) fail(Kind::Encrypted, "the table is protected by a password");

    at += 2 * numFields + 4 + namePointers + h.nameSlot();
    for (auto& f : h.fields) {
        if (indexFile) break;
        f.name = cString(b, at, end, "name of a field");
        if (f.name.empty()) fail(Kind::Damaged, "a field has an empty name");
    }
    if (h.hasExtension) {
        if (at + 2 * numFields > end) fail(Kind::Damaged, "the field numbers do not fit the header");
        for (int i = 0; i < numFields; ++i) h.fieldNumbers.push_back(static_cast<std::int16_t>(le16(b, at + 2 * i)));
        at += 2 * numFields;
        h.sortOrderName = cString(b, at, end, "sort order name");
        h.codePage = le16(b, off::CodePage);
        if (h.fileType == FileType::XgMaintained || h.fileType == FileType::XgNonMaintained) {
            std::size_t nameAt = le16(b, off::IndexNameOff) + 0x58u;
            if (nameAt < 0x78 || nameAt >= end) fail(Kind::Damaged, "the index name is outside the header");
            h.indexName = cString(b, nameAt, end, "index name");
        }
    } else if (!indexFile) {
        h.sortOrderName = "ascii";
        h.codePage = 437;
    }
    h.sortOrderByte = b[off::SortOrder];

    h.numRecords = le32(b, off::NumRecords);
    h.usedBlocks = le16(b, off::UsedBlocks);
    h.fileBlocks = le16(b, off::FileBlocks);
    h.firstBlock = le16(b, off::FirstBlock);
    h.lastBlock = le16(b, off::LastBlock);
    // The original engine may leave the last block of a file short (only its used part on disk).
    std::uint64_t room = (fileSize - static_cast<std::uint64_t>(h.headerSize) + static_cast<std::uint64_t>(h.blockSize) - 1) /
                         static_cast<std::uint64_t>(h.blockSize);
    if (static_cast<std::uint64_t>(h.fileBlocks) > room)
        fail(Kind::Damaged, "its header counts " + std::to_string(h.fileBlocks) + " blocks but the file holds only " +
                                std::to_string(room));
    if (h.usedBlocks > h.fileBlocks) fail(Kind::Damaged, "more blocks are in use than the file holds");
    auto inFile = [&](int blk) { return blk >= 1 && blk <= h.fileBlocks; };
    if (h.usedBlocks == 0) {
        if (h.numRecords != 0) fail(Kind::Damaged, "it counts records but no data blocks");
    } else if (!inFile(h.firstBlock) || !inFile(h.lastBlock)) {
        fail(Kind::Damaged, "its block chain starts or ends outside the file");
    }
    if (h.numRecords > static_cast<std::uint64_t>(h.usedBlocks) * static_cast<std::uint64_t>(h.recordsPerBlock()))
        fail(Kind::Damaged, "it counts more records than its blocks can hold");
    return h;
}

}  // namespace atua::paradox
