#include "engine/paradox/blocks.h"

#include <algorithm>
#include <cstring>

#include "engine/paradox/bytes.h"
#include "engine/paradox/table_file.h"

namespace atua::paradox {
namespace {

constexpr std::size_t kChunkBytes = 1u << 20;
// An index entry's record count is a Paradox Short.
constexpr int kMaxSubtreeRecords = 32767;

}  // namespace

void forEachRecord(os::File& file, const TableHeader& h, const std::vector<std::uint16_t>& chain,
                   const std::function<void(std::span<const std::uint8_t>, std::uint16_t)>& each) {
    const std::size_t bs = static_cast<std::size_t>(h.blockSize);
    const std::size_t maxRun = std::max<std::size_t>(1, kChunkBytes / bs);
    const std::uint64_t fileSize = file.size();
    std::vector<std::uint8_t> buf;
    std::size_t i = 0;
    while (i < chain.size()) {
        std::size_t j = i + 1;
        while (j < chain.size() && j - i < maxRun && chain[j] == chain[j - 1] + 1) ++j;
        std::size_t n = j - i;
        std::uint64_t at = static_cast<std::uint64_t>(h.headerSize) + static_cast<std::uint64_t>(chain[i] - 1) * bs;
        // The last block of a file may be cut short after its used part.
        const std::size_t available = readZeroPadded(file, fileSize, at, n * bs, buf);
        for (std::size_t k = 0; k < n; ++k) {
            std::span<const std::uint8_t> block(buf.data() + k * bs, bs);
            int records = static_cast<std::int16_t>(le16(block, 4)) / h.recordSize + 1;
            if (k * bs + 6 + static_cast<std::size_t>(records) * static_cast<std::size_t>(h.recordSize) > available)
                throw FormatError(FormatError::Kind::Damaged, "block " + std::to_string(chain[i + k]) + " is cut short");
            for (int r = 0; r < records; ++r)
                each(block.subspan(6 + static_cast<std::size_t>(r) * h.recordSize, static_cast<std::size_t>(h.recordSize)),
                     chain[i + k]);
        }
        i = j;
    }
}

DataBlockWriter::DataBlockWriter(os::File& out, std::uint64_t headerSize, int blockSize, int recordSize, std::uint64_t total)
    : out_(out), headerSize_(headerSize), blockSize_(blockSize), recordSize_(recordSize),
      perBlock_((blockSize - 6) / recordSize), total_(total) {
    blocks_ = static_cast<int>((total + static_cast<std::uint64_t>(perBlock_) - 1) / static_cast<std::uint64_t>(perBlock_));
    // A small table needs no more than its own blocks.
    std::size_t perChunk = std::max<std::size_t>(kChunkBytes / static_cast<std::size_t>(blockSize), 1);
    chunk_.reserve(std::min<std::size_t>(perChunk, static_cast<std::size_t>(std::max(blocks_, 1))) * static_cast<std::size_t>(blockSize));
}

int DataBlockWriter::recordsIn(int blk) const {
    if (blk < blocks_) return perBlock_;
    return static_cast<int>(total_ - static_cast<std::uint64_t>(blocks_ - 1) * static_cast<std::uint64_t>(perBlock_));
}

std::uint16_t DataBlockWriter::add(std::span<const std::uint8_t> record) {
    std::uint64_t index = written_++;
    int blk = static_cast<int>(index / static_cast<std::uint64_t>(perBlock_)) + 1;
    int slot = static_cast<int>(index % static_cast<std::uint64_t>(perBlock_));
    if (slot == 0) {
        if (chunk_.size() + static_cast<std::size_t>(blockSize_) > chunk_.capacity()) flush();
        std::size_t at = chunk_.size();
        chunk_.resize(at + static_cast<std::size_t>(blockSize_), 0);
        std::span<std::uint8_t> head(chunk_.data() + at, 6);
        put16(head, 0, blk < blocks_ ? static_cast<std::uint32_t>(blk + 1) : 0u);
        put16(head, 2, static_cast<std::uint32_t>(blk - 1));
        put16(head, 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((recordsIn(blk) - 1) * recordSize_)));
    }
    std::size_t blockStart = chunk_.size() - static_cast<std::size_t>(blockSize_);
    std::memcpy(chunk_.data() + blockStart + 6 + static_cast<std::size_t>(slot) * recordSize_, record.data(),
                static_cast<std::size_t>(recordSize_));
    return static_cast<std::uint16_t>(blk);
}

void DataBlockWriter::flush() {
    if (chunk_.empty()) return;
    out_.writeAt(headerSize_ + static_cast<std::uint64_t>(chunkFirstBlock_ - 1) * static_cast<std::uint64_t>(blockSize_), chunk_);
    chunkFirstBlock_ += static_cast<int>(chunk_.size() / static_cast<std::size_t>(blockSize_));
    chunk_.clear();
}

void DataBlockWriter::finish() { flush(); }

int indexBlockCode(int preferred, int entrySize) {
    int code = preferred;
    while (code < 32 && (code * 1024 - 6) / entrySize < 3) code *= 2;
    return std::min(code, 32);
}

IndexTreeBuilder::IndexTreeBuilder(int keySize, int blockSize)
    : keySize_(keySize), entrySize_(keySize + 6), blockSize_(blockSize), capacity_((blockSize - 6) / (keySize + 6)) {
    // The original engine leaves one free slot in every index block it builds.
    fill_ = std::max(1, capacity_ - 1);
}

void IndexTreeBuilder::addLeaf(std::span<const std::uint8_t> key, std::uint16_t child, int count) {
    keys_.insert(keys_.end(), key.begin(), key.begin() + keySize_);
    children_.push_back(child);
    counts_.push_back(count);
}

IndexTreeBuilder::Tree IndexTreeBuilder::build() const {
    Tree t;
    std::size_t n0 = children_.size();
    if (n0 == 0) return t;  // empty table: no blocks, root 1, no levels

    // Group each level's entries into blocks: at most `fill` entries and, below the root, at
    // most 32767 records under one block. Level L+1 has one entry per block of level L.
    struct Level {
        std::vector<std::size_t> entryKey;  // index into keys_ of each entry's key
        std::vector<int> child;             // level 0: data block; above: block index in level below
        std::vector<int> count;
        std::vector<std::size_t> groupStart;  // first entry of each block
    };
    std::vector<Level> levels(1);
    for (std::size_t i = 0; i < n0; ++i) {
        levels[0].entryKey.push_back(i);
        levels[0].child.push_back(children_[i]);
        levels[0].count.push_back(counts_[i]);
    }
    while (true) {
        Level& lv = levels.back();
        std::size_t n = lv.child.size();
        if (n <= static_cast<std::size_t>(fill_)) {
            lv.groupStart = {0};
            break;
        }
        Level up;
        int inBlock = 0, records = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (i == 0 || inBlock == fill_ || records + lv.count[i] > kMaxSubtreeRecords) {
                if (i > 0) up.count.push_back(records);
                lv.groupStart.push_back(i);
                up.entryKey.push_back(lv.entryKey[i]);
                up.child.push_back(static_cast<int>(lv.groupStart.size() - 1));
                inBlock = 0;
                records = 0;
            }
            ++inBlock;
            records += lv.count[i];
        }
        up.count.push_back(records);
        levels.push_back(std::move(up));
    }

    // Number the blocks as the original engine's files show it: blocks appear in the order an
    // appending B-tree allocates them (a new block right after its left neighbour in the chain,
    // a new root right after the old root), e.g. two levels: leaf 1, root 3, leaf 2, leaf 4, ...
    std::vector<std::vector<int>> number(levels.size());
    for (std::size_t L = 0; L < levels.size(); ++L) number[L].assign(levels[L].groupStart.size(), 0);
    std::vector<int> next(1, 0), prev(1, 0);
    auto allocate = [&]() {
        next.push_back(0);
        prev.push_back(0);
        return static_cast<int>(next.size() - 1);
    };
    auto linkAfter = [&](int after, int blk) {
        next[blk] = next[after];
        prev[blk] = after;
        if (next[after] != 0) prev[next[after]] = blk;
        next[after] = blk;
    };
    // Which block of level L holds entry e.
    auto groupOf = [&](std::size_t L, std::size_t e) {
        const auto& gs = levels[L].groupStart;
        return static_cast<std::size_t>(std::upper_bound(gs.begin(), gs.end(), e) - gs.begin() - 1);
    };
    std::size_t topCreated = 0;  // highest level that has a block so far
    std::function<void(std::size_t, std::size_t)> startBlock = [&](std::size_t L, std::size_t g) {
        int blk = allocate();
        number[L][g] = blk;
        linkAfter(number[L][g - 1], blk);
        std::size_t P = L + 1;
        if (topCreated < P) {
            topCreated = P;
            int root = allocate();
            number[P][0] = root;
            linkAfter(number[L][0], root);
        }
        std::size_t pg = groupOf(P, g);
        if (pg > 0 && levels[P].groupStart[pg] == g) startBlock(P, pg);
    };
    number[0][0] = allocate();
    for (std::size_t g = 1; g < levels[0].groupStart.size(); ++g) startBlock(0, g);

    int total = static_cast<int>(next.size() - 1);
    t.numBlocks = total;
    t.levels = static_cast<int>(levels.size());
    t.root = number.back()[0];
    t.firstBlock = 1;
    int last = 1;
    while (next[last] != 0) last = next[last];
    t.lastBlock = last;
    t.blocks.assign(static_cast<std::size_t>(total) * static_cast<std::size_t>(blockSize_), 0);
    for (std::size_t L = 0; L < levels.size(); ++L) {
        const Level& lv = levels[L];
        t.entries += static_cast<std::uint32_t>(lv.child.size());
        for (std::size_t g = 0; g < lv.groupStart.size(); ++g) {
            std::size_t from = lv.groupStart[g];
            std::size_t to = g + 1 < lv.groupStart.size() ? lv.groupStart[g + 1] : lv.child.size();
            int blk = number[L][g];
            std::span<std::uint8_t> block(t.blocks.data() + static_cast<std::size_t>(blk - 1) * blockSize_,
                                          static_cast<std::size_t>(blockSize_));
            put16(block, 0, static_cast<std::uint32_t>(next[blk]));
            put16(block, 2, static_cast<std::uint32_t>(prev[blk]));
            put16(block, 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((to - from - 1) * entrySize_)));
            for (std::size_t e = from; e < to; ++e) {
                std::size_t at = 6 + (e - from) * static_cast<std::size_t>(entrySize_);
                std::memcpy(block.data() + at, keys_.data() + lv.entryKey[e] * keySize_, static_cast<std::size_t>(keySize_));
                int child = L == 0 ? lv.child[e] : number[L - 1][static_cast<std::size_t>(lv.child[e])];
                putShortField(block, at + keySize_, static_cast<std::int16_t>(child));
                putShortField(block, at + keySize_ + 2, static_cast<std::int16_t>(lv.count[e]));
                putShortField(block, at + keySize_ + 4, 0);
            }
        }
    }
    return t;
}

}  // namespace atua::paradox
