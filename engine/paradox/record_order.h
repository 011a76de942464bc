// The table's records in key order, within a fixed memory budget, for rewriting a table sorted.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/os/file_system.h"
#include "engine/paradox/header.h"

namespace atua::paradox {

// Hands every record of the table to `emit` in the order of its first `keySize` bytes (compared
// as bytes; equal keys in table order), holding at most about `budget` bytes. Three ways, the
// cheapest that fits:
//  - the table is in key order already: one pass after the check;
//  - the sort entries of all keys fit the budget: they are sorted in memory, each record's place
//    in the output is noted, and each stretch of the output is gathered by one sequential pass
//    over the table (no temporary files);
//  - otherwise an external sort with runs in files named scratchPrefix + n + scratchSuffix.
void forEachRecordInKeyOrder(os::FileSystem& fs, os::File& table, const TableHeader& h,
                             const std::vector<std::uint16_t>& chain, std::size_t keySize, std::size_t budget,
                             const std::string& scratchPrefix, const std::string& scratchSuffix,
                             const std::function<void(std::span<const std::uint8_t>)>& emit);

}  // namespace atua::paradox
