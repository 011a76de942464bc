// Records in key order within a fixed memory budget, for writing a table or an index table sorted.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/os/file_system.h"

namespace atua::paradox {

using RecordVisitor = std::function<void(std::span<const std::uint8_t>)>;
// Yields every record to the visitor; may be called several times and yields the same records
// in the same order each time.
using RecordSource = std::function<void(const RecordVisitor&)>;

struct SortShape {
    std::uint64_t records = 0;  // how many the source yields
    std::size_t recordSize = 0;
    std::size_t keySize = 0;    // the key is the record's first keySize bytes, compared as bytes
};

// True when `records` items of `bytesEach` bytes come to at most `budget` bytes. Worked out in
// 64 bits: in a 32-bit build the product of a large table's count and a size wraps.
inline bool fitsBudget(std::uint64_t records, std::uint64_t bytesEach, std::size_t budget) {
    return bytesEach == 0 || records <= budget / bytesEach;
}

// Hands every record of `source` to `emit` in key order (equal keys in source order), holding at
// most about `budget` bytes. Three ways, the cheapest that fits:
//  - the source is in key order already: it is streamed after the check;
//  - the sort entries of all keys fit the budget: they are sorted in memory, each record's place
//    in the output is noted, and each stretch of the output is gathered by one more pass over
//    the source (no temporary files);
//  - otherwise an external sort with runs in files named scratchPrefix + n + scratchSuffix.
void sortRecords(os::FileSystem& fs, const RecordSource& source, const SortShape& shape, std::size_t budget,
                 const std::string& scratchPrefix, const std::string& scratchSuffix, const RecordVisitor& emit);

// Sorts `order` (the slots 0..n-1 of n records of recordSize bytes held in `records`) by the
// records' first keySize bytes, byte k mapped through byteMaps[k] (identity or case folding)
// before it is compared; equal keys keep slot order. Needs n more slots and n bytes of scratch.
void sortHeldRecords(std::span<const std::uint8_t> records, std::size_t recordSize,
                     std::span<const std::uint8_t* const> byteMaps, std::vector<std::uint32_t>& order);

}  // namespace atua::paradox
