// The header of a Paradox data file (.DB, and the .X "table" of a secondary index): parsed and
// checked before any number in it is trusted.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace atua::paradox {

// Offsets of the fixed header shared by every Paradox file.
namespace off {
inline constexpr std::size_t RecordSize = 0x00, HeaderSize = 0x02, FileType = 0x04, BlockCode = 0x05,
    NumRecords = 0x06, UsedBlocks = 0x0A, FileBlocks = 0x0C, FirstBlock = 0x0E, LastBlock = 0x10,
    Counter12 = 0x12, IndexFieldNo = 0x15, Workspace = 0x16, Ptr1A = 0x1A, IndexRoot = 0x1E,
    IndexLevels = 0x20, NumFields = 0x21, KeyFields = 0x23, Encryption1 = 0x25, SortOrder = 0x29,
    Stamp2C = 0x2C, ChangeCount1 = 0x2D, ChangeCount2 = 0x2E, Stamp2F = 0x2F, Version = 0x39,
    MaxBlocks = 0x3A, AutoInc = 0x49, FirstFree = 0x4D, RealHeaderSize = 0x51, IndexFlags = 0x55,
    Fixed56 = 0x56, Extension = 0x58, Encryption2 = 0x5C, UpdateTime = 0x60, HiFieldId = 0x64,
    FieldNumbersOff = 0x66, IndexNameOff = 0x68, CodePage = 0x6A, SortOrderOff = 0x6E;
}

enum class FileType : std::uint8_t {
    KeyedTable = 0, PrimaryIndex = 1, UnkeyedTable = 2, XNonMaintained = 3, YIndex = 4, XMaintained = 5,
    XgNonMaintained = 6, YgIndex = 7, XgMaintained = 8,
};

// Field type codes.
namespace ft {
inline constexpr std::uint8_t Alpha = 0x01, Date = 0x02, Short = 0x03, Long = 0x04, Money = 0x05,
    Number = 0x06, Logical = 0x09, Memo = 0x0C, Blob = 0x0D, FmtMemo = 0x0E, Ole = 0x0F,
    Graphic = 0x10, Time = 0x14, Timestamp = 0x15, AutoInc = 0x16, Bcd = 0x17, Bytes = 0x18;
}

struct Field {
    std::uint8_t type = 0;
    std::uint8_t sizeByte = 0;  // as in the header (BCD: decimals)
    int size = 0;               // bytes in the record
    int offset = 0;             // within the record
    std::string name;
};

// Why a file cannot be used; the table layer turns it into a message naming the file.
class FormatError : public std::runtime_error {
public:
    enum class Kind { Foreign, Damaged, Encrypted, Unsupported };
    FormatError(Kind kind, const std::string& reason) : std::runtime_error(reason), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct TableHeader {
    std::vector<std::uint8_t> raw;  // the whole header (headerSize bytes)
    int recordSize = 0;
    int headerSize = 0;
    FileType fileType = FileType::UnkeyedTable;
    int blockSize = 0;
    std::uint32_t numRecords = 0;
    int usedBlocks = 0, fileBlocks = 0, firstBlock = 0, lastBlock = 0;
    int keyFields = 0;
    int version = 0;
    bool hasExtension = false;
    int codePage = 0;
    std::uint8_t sortOrderByte = 0;
    std::string sortOrderName;
    std::string indexName;           // .XGn only
    std::vector<std::int16_t> fieldNumbers;  // v4+ only
    std::vector<Field> fields;

    bool keyed() const { return fileType == FileType::KeyedTable; }
    int recordsPerBlock() const { return (blockSize - 6) / recordSize; }
    // Table-name slot length in the header: 261 bytes from level 7 on, 79 before.
    int nameSlot() const { return version >= 0x0C ? 261 : 79; }
};

// Parses and checks the header of a table (.DB) or a secondary-index table (.X/.XG).
// `fileSize` lets it check that the block counts fit the file.
TableHeader parseTableHeader(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

// Bytes a field of this type occupies in a record (0: unknown type or invalid size).
int storedFieldSize(std::uint8_t type, std::uint8_t sizeByte);
bool isBlobType(std::uint8_t type);
bool isTextType(std::uint8_t type);

}  // namespace atua::paradox
