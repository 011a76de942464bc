// A Paradox file read on its own terms, for the checker: header fields and raw blocks.
// Deliberately separate from the engine's own reader, so the checker is a second opinion.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace atua::check {

// The file cannot be read as a Paradox file at all (message names what is wrong).
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class FileKind { Table, PrimaryIndex, SecondaryData, SecondaryTree, Unknown };

struct Field {
    std::uint8_t type = 0;
    std::uint8_t size = 0;    // as declared; BCD declares its decimals
    int stored = 0;           // bytes in the record
    std::string name;         // empty in .PX/.Y files
    std::int16_t number = 0;  // fieldNumbers entry (tables and .X files)
};

struct Header {
    std::uint16_t recordSize = 0;
    std::uint16_t headerSize = 0;
    std::uint8_t fileType = 0;
    std::uint8_t blockCode = 0;
    std::uint32_t records = 0;       // 0x06
    std::uint16_t blocksInUse = 0;   // 0x0A
    std::uint16_t fileBlocks = 0;    // 0x0C
    std::uint16_t firstBlock = 0;    // 0x0E
    std::uint16_t lastBlock = 0;     // 0x10
    std::uint8_t indexField = 0;     // 0x15
    std::uint32_t keyWorkspace = 0;  // 0x16
    std::uint16_t root = 0;          // 0x1E
    std::uint8_t levels = 0;         // 0x20
    std::int16_t keyFields = 0;      // 0x23
    std::uint32_t encryption1 = 0;   // 0x25
    std::uint8_t sortByte = 0;       // 0x29
    std::uint8_t stamp2C = 0, stamp2D = 0, stamp2E = 0, stamp2F = 0;
    std::uint8_t version = 0;        // 0x39
    std::uint16_t firstFree = 0;     // 0x4D
    std::uint16_t usedHeader = 0;    // 0x51
    std::uint8_t flags55 = 0;
    std::uint8_t modified1 = 0, modified2 = 0;  // 0x14, 0x2A: non-zero asks for a rebuild
    std::uint16_t bytes3E = 0;                  // 0x3E-0x3F
    std::uint8_t byte56 = 0;
    std::uint16_t versionId58 = 0, versionId5A = 0;
    std::uint16_t hiFieldId = 0;  // 0x64
    bool extended = false;           // has the 0x58-0x77 block (v4+ tables and .X files)
    std::uint32_t encryption2 = 0;
    std::uint16_t codePage = 0;
    std::vector<Field> fields;
    std::string tableName;
    std::string sortOrder;
    std::string indexName;           // .XGn only
    // Where the variable part was found while reading it in order, and where the header's own
    // offsets (0x66, 0x68, 0x6E, relative to 0x58; 0x51 absolute) say it is.
    std::uint32_t fieldNumbersAt = 0, sortOrderAt = 0, indexNameAt = 0, variableEnd = 0;
    std::uint16_t fieldNumbersPtr = 0, indexNamePtr = 0, sortOrderPtr = 0;

    std::uint32_t blockSize() const { return std::uint32_t{blockCode} * 1024u; }
    bool encrypted() const {
        return (encryption1 != 0 && encryption1 != 0xFF00FF00u) || encryption2 != 0;
    }
    FileKind kind() const;
};

// Read access by offset to one file, opened by a Windows-1252 path.
class ByteFile {
public:
    explicit ByteFile(const std::string& path);
    std::uint64_t size() const { return size_; }
    // Reads exactly out.size() bytes or throws FormatError.
    void read(std::uint64_t offset, std::span<std::uint8_t> out);
    const std::string& path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    std::uint64_t size_ = 0;
};

// Block header of a data or index block.
struct BlockHead {
    std::uint16_t next = 0;
    std::uint16_t prev = 0;
    std::int16_t lastOffset = 0;
};

class ParadoxFile {
public:
    explicit ParadoxFile(const std::string& path);
    const Header& header() const { return header_; }
    const std::string& path() const { return file_.path(); }
    std::uint64_t fileSize() const { return file_.size(); }
    // Blocks that begin in the file after the header (the last may be cut short).
    std::uint32_t physicalBlocks() const;
    // Bytes of block n present in the file.
    std::uint32_t bytesInBlock(std::uint32_t n) const;
    // Whole block n (1-based), zero-filled past the end of the file; throws FormatError when it
    // lies outside the file.
    std::vector<std::uint8_t> block(std::uint32_t n);
    void block(std::uint32_t n, std::vector<std::uint8_t>& out);

private:
    ByteFile file_;
    Header header_;
};

Header parseHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize);

std::uint16_t u16le(const std::uint8_t* p);
std::uint32_t u32le(const std::uint8_t* p);
BlockHead blockHead(std::span<const std::uint8_t> block);
// Records in a block as its header gives them (0 for an empty block).
int recordsInBlock(const BlockHead& head, std::uint32_t recordSize);
// A Paradox Short as stored in index entries: big-endian, sign bit toggled.
std::int32_t pdxShort(const std::uint8_t* p);
// A block number in the same encoding, read as unsigned: headers address up to 65535 blocks, and a
// signed reading would stop at 32767 (how the original engine reads the numbers above is not known).
std::uint32_t pdxBlockNumber(const std::uint8_t* p);
// A Paradox Long/AutoInc/Date as stored in records.
std::int32_t pdxLong(const std::uint8_t* p);
int storedSize(std::uint8_t type, std::uint8_t size);
const char* typeName(std::uint8_t type);

// Windows-1252 path helpers: file names in a folder, and the folder/name split.
std::vector<std::string> folderEntries(const std::string& folder);
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace atua::check
