// 64-bit offsets for fopen/fseeko in a 32-bit build: a (damaged) file may be larger than 2 GiB.
#define _FILE_OFFSET_BITS 64

#include "engine/check/paradox_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace atua::check {
namespace {

#ifdef _WIN32
// Windows-1252 bytes 0x80-0x9F; the rest map to the same code point.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::filesystem::path nativePath(const std::string& cp1252) {
    std::wstring w;
    w.reserve(cp1252.size());
    for (unsigned char c : cp1252)
        w.push_back(c >= 0x80 && c < 0xA0 ? static_cast<wchar_t>(kHigh[c - 0x80])
                                          : static_cast<wchar_t>(c));
    return std::filesystem::path(w);
}

std::string fromNative(const std::filesystem::path& p) {
    std::string out;
    for (wchar_t w : p.native()) {
        if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) {
            out.push_back(static_cast<char>(w));
            continue;
        }
        auto hit = std::find(std::begin(kHigh), std::end(kHigh), static_cast<char16_t>(w));
        out.push_back(hit == std::end(kHigh) ? '?' : static_cast<char>(0x80 + (hit - kHigh)));
    }
    return out;
}
#else
std::filesystem::path nativePath(const std::string& bytes) { return std::filesystem::path(bytes); }
std::string fromNative(const std::filesystem::path& p) { return p.native(); }
#endif

std::string cString(std::span<const std::uint8_t> head, std::uint32_t& at, const char* what) {
    std::string s;
    while (true) {
        if (at >= head.size()) throw FormatError(std::string("the header ends inside the ") + what);
        if (head[at] == 0) break;
        s.push_back(static_cast<char>(head[at++]));
    }
    ++at;
    return s;
}

bool tableLike(std::uint8_t t) { return t == 0 || t == 2 || t == 3 || t == 5 || t == 6 || t == 8; }

}  // namespace

std::uint16_t u16le(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32le(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
std::int32_t pdxShort(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(((p[0] << 8) | p[1]) ^ 0x8000));
}
std::uint32_t pdxBlockNumber(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(((p[0] << 8) | p[1]) ^ 0x8000);
}
std::int32_t pdxLong(const std::uint8_t* p) {
    std::uint32_t v = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                      (std::uint32_t{p[2]} << 8) | p[3];
    return static_cast<std::int32_t>(v ^ 0x80000000u);
}

BlockHead blockHead(std::span<const std::uint8_t> b) {
    return {u16le(&b[0]), u16le(&b[2]), static_cast<std::int16_t>(u16le(&b[4]))};
}

int recordsInBlock(const BlockHead& head, std::uint32_t recordSize) {
    return recordSize == 0 ? 0 : (head.lastOffset + static_cast<int>(recordSize)) / static_cast<int>(recordSize);
}

int storedSize(std::uint8_t type, std::uint8_t size) {
    switch (type) {
        case 0x01: case 0x18: return size;
        case 0x02: case 0x04: case 0x14: case 0x16: return 4;
        case 0x03: return 2;
        case 0x05: case 0x06: case 0x15: return 8;
        case 0x09: return 1;
        case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x10: return size;
        case 0x17: return 17;
        default: return -1;
    }
}

const char* typeName(std::uint8_t type) {
    switch (type) {
        case 0x01: return "alpha";
        case 0x02: return "date";
        case 0x03: return "short";
        case 0x04: return "long";
        case 0x05: return "money";
        case 0x06: return "number";
        case 0x09: return "logical";
        case 0x0C: return "memo";
        case 0x0D: return "blob";
        case 0x0E: return "formatted memo";
        case 0x0F: return "OLE";
        case 0x10: return "graphic";
        case 0x14: return "time";
        case 0x15: return "timestamp";
        case 0x16: return "autoincrement";
        case 0x17: return "BCD";
        case 0x18: return "bytes";
        default: return "unknown";
    }
}

FileKind Header::kind() const {
    switch (fileType) {
        case 0: case 2: return FileKind::Table;
        case 1: return FileKind::PrimaryIndex;
        case 3: case 5: case 6: case 8: return FileKind::SecondaryData;
        case 4: case 7: return FileKind::SecondaryTree;
        default: return FileKind::Unknown;
    }
}

Header parseHeader(std::span<const std::uint8_t> b, std::uint64_t fileSize) {
    if (b.size() < 0x58) throw FormatError("the file is shorter than a Paradox header");
    Header h;
    h.recordSize = u16le(&b[0x00]);
    h.headerSize = u16le(&b[0x02]);
    h.fileType = b[0x04];
    h.blockCode = b[0x05];
    h.records = u32le(&b[0x06]);
    h.blocksInUse = u16le(&b[0x0A]);
    h.fileBlocks = u16le(&b[0x0C]);
    h.firstBlock = u16le(&b[0x0E]);
    h.lastBlock = u16le(&b[0x10]);
    h.indexField = b[0x15];
    h.keyWorkspace = u32le(&b[0x16]);
    h.root = u16le(&b[0x1E]);
    h.levels = b[0x20];
    const auto numFields = static_cast<std::int16_t>(u16le(&b[0x21]));
    h.keyFields = static_cast<std::int16_t>(u16le(&b[0x23]));
    h.encryption1 = u32le(&b[0x25]);
    h.sortByte = b[0x29];
    h.stamp2C = b[0x2C];
    h.stamp2D = b[0x2D];
    h.stamp2E = b[0x2E];
    h.stamp2F = b[0x2F];
    h.version = b[0x39];
    h.firstFree = u16le(&b[0x4D]);
    h.usedHeader = u16le(&b[0x51]);
    h.flags55 = b[0x55];
    h.modified1 = b[0x14];
    h.modified2 = b[0x2A];
    h.bytes3E = u16le(&b[0x3E]);
    h.byte56 = b[0x56];

    if (h.fileType > 8) throw FormatError("unknown file type " + std::to_string(h.fileType));
    if (h.headerSize < 0x58 || h.headerSize % 0x800 != 0)
        throw FormatError("header size " + std::to_string(h.headerSize) +
                          " is not a multiple of 2048");
    if (h.headerSize > fileSize) throw FormatError("the header is longer than the file");
    if (h.blockCode < 1 || h.blockCode > 32)
        throw FormatError("block size code " + std::to_string(h.blockCode) + " is out of range");
    if (numFields < 1 || numFields > 255)
        throw FormatError("field count " + std::to_string(numFields) + " is out of range");
    if (b.size() < h.headerSize) throw FormatError("the header is cut short");
    b = b.first(h.headerSize);

    const bool table = tableLike(h.fileType);
    h.extended = table && h.version >= 5;
    std::uint32_t at = h.extended ? 0x78 : 0x58;
    if (h.extended) {
        h.versionId58 = u16le(&b[0x58]);
        h.versionId5A = u16le(&b[0x5A]);
        h.encryption2 = u32le(&b[0x5C]);
        h.hiFieldId = u16le(&b[0x64]);
        h.fieldNumbersPtr = u16le(&b[0x66]);
        h.indexNamePtr = u16le(&b[0x68]);
        h.codePage = u16le(&b[0x6A]);
        h.sortOrderPtr = u16le(&b[0x6E]);
    }
    if (at + 2u * numFields + 4 > b.size()) throw FormatError("the field list does not fit the header");
    for (int i = 0; i < numFields; ++i) {
        Field f;
        f.type = b[at + 2 * i];
        f.size = b[at + 2 * i + 1];
        f.stored = storedSize(f.type, f.size);
        if (f.stored <= 0)
            throw FormatError("field " + std::to_string(i + 1) + " has an unknown type or size");
        h.fields.push_back(f);
    }
    at += 2u * numFields + 4;
    if (table) at += 4u * numFields;
    const std::uint32_t nameLength = h.version >= 0x0C ? 261 : 79;
    if (at + nameLength > b.size()) throw FormatError("the table name does not fit the header");
    std::uint32_t nameAt = at;
    h.tableName = cString(b.subspan(0, at + nameLength), nameAt, "table name");
    at += nameLength;
    if (!table || h.encrypted()) {
        h.variableEnd = at;
        return h;  // index trees carry no names; encrypted headers hold key data next
    }
    for (Field& f : h.fields) f.name = cString(b, at, "field names");
    h.fieldNumbersAt = at;
    if (at + 2u * numFields > b.size()) throw FormatError("the field numbers do not fit the header");
    for (int i = 0; i < numFields; ++i)
        h.fields[i].number = static_cast<std::int16_t>(u16le(&b[at + 2 * i]));
    at += 2u * numFields;
    h.sortOrderAt = at;
    h.sortOrder = cString(b, at, "sort order name");
    if (h.fileType == 6 || h.fileType == 8) {
        h.indexNameAt = at;
        h.indexName = cString(b, at, "index name");
    }
    h.variableEnd = at;
    return h;
}

ByteFile::ByteFile(const std::string& path) : path_(path) {
    const auto native = nativePath(path);
    std::error_code ec;
    if (std::filesystem::is_directory(native, ec)) throw FormatError("it is a folder");
#ifdef _WIN32
    file_.reset(_wfopen(native.c_str(), L"rb"));
#else
    file_.reset(std::fopen(native.c_str(), "rb"));
#endif
    if (!file_) throw FormatError("cannot be opened for reading");
    size_ = std::filesystem::file_size(native, ec);
    if (ec) throw FormatError("its size cannot be read");
}

void ByteFile::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset + out.size() > size_) throw FormatError("read past the end of the file");
#ifdef _WIN32
    const int sought = _fseeki64(file_.get(), static_cast<long long>(offset), SEEK_SET);
#else
    const int sought = fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET);
#endif
    if (sought != 0 || std::fread(out.data(), 1, out.size(), file_.get()) != out.size())
        throw FormatError("read error at offset " + std::to_string(offset));
}

ParadoxFile::ParadoxFile(const std::string& path) : file_(path) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(file_.size(), 0x800)));
    file_.read(0, head);
    if (head.size() >= 4) {
        const std::uint16_t size = u16le(&head[2]);
        if (size > head.size() && size <= file_.size() && size % 0x800 == 0) {
            head.resize(size);
            file_.read(0, head);
        }
    }
    header_ = parseHeader(head, file_.size());
}

std::uint32_t ParadoxFile::physicalBlocks() const {
    const std::uint64_t bs = header_.blockSize();
    return static_cast<std::uint32_t>((file_.size() - header_.headerSize + bs - 1) / bs);
}

std::uint32_t ParadoxFile::bytesInBlock(std::uint32_t n) const {
    if (n < 1 || n > physicalBlocks()) return 0;
    const std::uint64_t start = header_.headerSize + std::uint64_t{n - 1} * header_.blockSize();
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(header_.blockSize(), file_.size() - start));
}

void ParadoxFile::block(std::uint32_t n, std::vector<std::uint8_t>& out) {
    if (n < 1 || n > physicalBlocks())
        throw FormatError("block " + std::to_string(n) + " lies outside the file");
    out.assign(header_.blockSize(), 0);
    file_.read(header_.headerSize + std::uint64_t{n - 1} * header_.blockSize(),
               std::span<std::uint8_t>(out).first(bytesInBlock(n)));
}

std::vector<std::uint8_t> ParadoxFile::block(std::uint32_t n) {
    std::vector<std::uint8_t> out;
    block(n, out);
    return out;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(nativePath(folder.empty() ? "." : folder), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        names.push_back(fromNative(it->path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

}  // namespace atua::check
