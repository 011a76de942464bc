// Reading data blocks in chain order and writing full, chained data blocks and B-tree index
// files, all in large sequential chunks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/os/file_system.h"
#include "engine/paradox/header.h"

namespace atua::paradox {

// Calls `each(record, blockNumber)` for every record of the table, block by block in chain
// order; contiguous stretches of the chain are read in one go.
void forEachRecord(os::File& file, const TableHeader& h, const std::vector<std::uint16_t>& chain,
                   const std::function<void(std::span<const std::uint8_t>, std::uint16_t)>& each);

// Writes `total` records into blocks 1..n, each full except the last, chained 1 -> 2 -> ... -> n.
class DataBlockWriter {
public:
    DataBlockWriter(os::File& out, std::uint64_t headerSize, int blockSize, int recordSize, std::uint64_t total);
    // Returns the number of the block that holds the record.
    std::uint16_t add(std::span<const std::uint8_t> record);
    void finish();
    int blockCount() const { return blocks_; }
    int perBlock() const { return perBlock_; }
    // Records in block `blk` (1-based).
    int recordsIn(int blk) const;

private:
    void flush();

    os::File& out_;
    std::uint64_t headerSize_;
    int blockSize_, recordSize_, perBlock_, blocks_;
    std::uint64_t total_, written_ = 0;
    std::vector<std::uint8_t> chunk_;
    int chunkFirstBlock_ = 1;
};

// The largest table: block numbers are 16-bit.
inline constexpr int kMaxBlocks = 0xFFFF;

// Builds the B-tree of a .PX or .Y file from its leaf entries: one per data block, in key order,
// holding the block's first key, its number and its record count.
class IndexTreeBuilder {
public:
    IndexTreeBuilder(int keySize, int blockSize);
    void addLeaf(std::span<const std::uint8_t> key, std::uint16_t child, int count);

    struct Tree {
        std::vector<std::uint8_t> blocks;  // numBlocks * blockSize bytes, block 1 first
        int numBlocks = 0, root = 1, levels = 0, firstBlock = 0, lastBlock = 0;
        std::uint32_t entries = 0;
    };
    Tree build() const;
    int capacity() const { return capacity_; }
    int fill() const { return fill_; }

private:
    int keySize_, entrySize_, blockSize_, capacity_, fill_;
    std::vector<std::uint8_t> keys_;
    std::vector<std::uint16_t> children_;
    std::vector<int> counts_;
};

// The smallest index block size code (in KB) from `preferred` up that holds at least three entries.
int indexBlockCode(int preferred, int entrySize);

}  // namespace atua::paradox
