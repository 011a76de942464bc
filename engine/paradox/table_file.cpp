#include "engine/paradox/table_file.h"

#include <algorithm>
#include <vector>

#include "engine/exceptions.h"
#include "engine/paradox/bytes.h"

namespace atua::paradox {

std::string busyMessage(const std::string& path) {
    return "Table " + path + " is busy: another program has it open";
}

void raiseOsError(const os::OsError& e, const std::string& path) {
    using K = os::OsError::Kind;
    switch (e.kind()) {
        case K::NotFound: throw EDBEngineError("Table " + path + " does not exist");
        case K::IsDirectory: throw EDBEngineError(path + " is a folder, not a Paradox table");
        case K::AccessDenied: throw EDBEngineError("Access to table " + path + " was denied by the system");
        case K::Busy: throw EDBEngineError(busyMessage(path));
        case K::DiskFull: throw EDBEngineError("The disk holding table " + path + " is full");
        default: throw EDBEngineError("Cannot use table " + path + ": " + e.what());
    }
}

TableHeader readHeader(os::File& file, std::uint64_t fileSize, const std::string& path) {
    if (fileSize == 0) throw EDBEngineError("Table " + path + " is an empty file (0 bytes), not a Paradox table");
    try {
        std::vector<std::uint8_t> first(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 0x800)));
        file.readAt(0, first);
        std::size_t headerSize = first.size() >= 4 ? le16(first, off::HeaderSize) : 0;
        if (headerSize > first.size() && headerSize <= fileSize) {
            first.resize(headerSize);
            file.readAt(0, first);
        }
        return parseTableHeader(first, fileSize);
    } catch (const FormatError& e) {
        switch (e.kind()) {
            case FormatError::Kind::Foreign: throw EDBEngineError(path + " is not a Paradox table: " + e.what());
            case FormatError::Kind::Encrypted:
                throw EDBEngineError("Table " + path + " is encrypted (protected by a password) and cannot be opened");
            case FormatError::Kind::Unsupported: throw EDBEngineError("Table " + path + " cannot be used: " + e.what());
            default: throw EDBEngineError("Table " + path + " is damaged: " + e.what());
        }
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
}

OpenTable openTable(os::FileSystem& fs, const std::string& path, os::Access access, os::Share share) {
    OpenTable t;
    try {
        if (fs.isDirectory(path)) throw EDBEngineError(path + " is a folder, not a Paradox table");
        t.file = fs.open(path, access, share);
        t.fileSize = t.file->size();
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
    t.header = readHeader(*t.file, t.fileSize, path);
    if (t.header.fileType != FileType::KeyedTable && t.header.fileType != FileType::UnkeyedTable)
        throw EDBEngineError(path + " is a Paradox index file, not a table");
    return t;
}

std::vector<std::uint16_t> walkChain(os::File& file, const TableHeader& h, const std::string& path) {
    std::vector<std::uint16_t> chain;
    if (h.usedBlocks == 0) return chain;
    std::vector<bool> seen(static_cast<std::size_t>(h.fileBlocks) + 1, false);
    std::uint64_t records = 0;
    int prev = 0;
    int blk = h.firstBlock;
    auto damaged = [&](const std::string& why) { throw EDBEngineError("Table " + path + " is damaged: " + why); };
    // The 6-byte head of every block, read in large sequential pieces rather than one call per block.
    const std::size_t bs = static_cast<std::size_t>(h.blockSize);
    std::vector<std::uint8_t> heads(static_cast<std::size_t>(h.fileBlocks) * 6, 0);
    std::uint64_t fileSize = 0;
    try {
        fileSize = file.size();
        const std::size_t perRead = std::max<std::size_t>(1, (1u << 20) / bs);
        std::vector<std::uint8_t> buf;
        for (std::size_t first = 0; first < static_cast<std::size_t>(h.fileBlocks); first += perRead) {
            std::size_t n = std::min(perRead, static_cast<std::size_t>(h.fileBlocks) - first);
            std::uint64_t at = static_cast<std::uint64_t>(h.headerSize) + first * bs;
            readZeroPadded(file, fileSize, at, n * bs, buf);
            for (std::size_t k = 0; k < n; ++k) std::copy_n(buf.begin() + static_cast<std::ptrdiff_t>(k * bs), 6, heads.begin() + static_cast<std::ptrdiff_t>((first + k) * 6));
        }
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
    try {
        while (blk != 0) {
            if (blk < 1 || blk > h.fileBlocks) damaged("its block chain leaves the file at block " + std::to_string(blk));
            if (seen[static_cast<std::size_t>(blk)]) damaged("its block chain loops at block " + std::to_string(blk));
            seen[static_cast<std::size_t>(blk)] = true;
            std::span<const std::uint8_t> head(heads.data() + static_cast<std::size_t>(blk - 1) * 6, 6);
            int next = le16(head, 0);
            int back = le16(head, 2);
            int last = static_cast<std::int16_t>(le16(head, 4));
            if (back != prev) damaged("block " + std::to_string(blk) + " does not link back to block " + std::to_string(prev));
            if (last % h.recordSize != 0 || last < -h.recordSize || last / h.recordSize >= h.recordsPerBlock())
                damaged("block " + std::to_string(blk) + " has an invalid record count");
            // A block may end short of its size on disk, but never before its last record.
            const std::uint64_t used = static_cast<std::uint64_t>(h.headerSize) + static_cast<std::uint64_t>(blk - 1) * bs + 6 +
                                       static_cast<std::uint64_t>(last / h.recordSize + 1) * static_cast<std::uint64_t>(h.recordSize);
            if (used > fileSize) damaged("block " + std::to_string(blk) + " is cut short: the file ends before its records do");
            records += static_cast<std::uint64_t>(last / h.recordSize + 1);
            chain.push_back(static_cast<std::uint16_t>(blk));
            prev = blk;
            blk = next;
        }
    } catch (const os::OsError& e) {
        raiseOsError(e, path);
    }
    if (prev != h.lastBlock) damaged("its block chain does not end at its last block");
    if (static_cast<int>(chain.size()) != h.usedBlocks)
        damaged("its block chain has " + std::to_string(chain.size()) + " blocks, the header says " + std::to_string(h.usedBlocks));
    if (records != h.numRecords)
        damaged("its blocks hold " + std::to_string(records) + " records, the header says " + std::to_string(h.numRecords));
    return chain;
}

std::size_t readZeroPadded(os::File& file, std::uint64_t fileSize, std::uint64_t at, std::size_t bytes,
                           std::vector<std::uint8_t>& buf) {
    std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, fileSize > at ? fileSize - at : 0));
    if (buf.size() < bytes) buf.resize(bytes);
    file.readAt(at, std::span(buf.data(), available));
    std::fill(buf.begin() + static_cast<std::ptrdiff_t>(available), buf.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
    return available;
}

}  // namespace atua::paradox
