// Opening a table file: the checks and the plain-English messages for every way it can fail.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/os/file_system.h"
#include "engine/paradox/header.h"

namespace atua::paradox {

struct OpenTable {
    std::unique_ptr<os::File> file;
    TableHeader header;
    std::uint64_t fileSize = 0;
};

// Opens `path` and checks that it is a Paradox table (.DB); every failure is an EDBEngineError
// whose message names the file.
OpenTable openTable(os::FileSystem& fs, const std::string& path, os::Access access, os::Share share);

// Reads and checks the header of an already open file (table or secondary-index table).
TableHeader readHeader(os::File& file, std::uint64_t fileSize, const std::string& path);

// The message for an OS failure on `path`.
[[noreturn]] void raiseOsError(const os::OsError& e, const std::string& path);
std::string busyMessage(const std::string& path);

// Walks the block chain (first block to last) and returns the block numbers in order, checking
// that it stays inside the file, has no loop, links back correctly and holds numRecords records.
std::vector<std::uint16_t> walkChain(os::File& file, const TableHeader& h, const std::string& path);

// Reads `bytes` from `at` into `buf`, which is grown as needed and reused between calls; what lies
// past the end of the file (a last block cut short) reads as zeros. Returns how many bytes came
// from the file.
std::size_t readZeroPadded(os::File& file, std::uint64_t fileSize, std::uint64_t at, std::size_t bytes,
                    std::vector<std::uint8_t>& buf);

}  // namespace atua::paradox
