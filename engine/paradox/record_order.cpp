#include "engine/paradox/record_order.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/paradox/blocks.h"
#include "engine/paradox/external_sort.h"

namespace atua::paradox {
namespace {

using Emit = std::function<void(std::span<const std::uint8_t>)>;

template <int Words>
struct KeyEntry {
    std::uint64_t prefix[Words];
    std::uint32_t slot;
};

template <int Words>
std::size_t gatherCost(std::uint64_t records) {
    return static_cast<std::size_t>(records) * (sizeof(KeyEntry<Words>) + sizeof(std::uint32_t));
}

// The in-memory way: returns false (having done nothing) when the table turns out to be in
// order already, so the caller can simply stream it.
template <int Words>
bool gatherInOrder(os::File& table, const TableHeader& h, const std::vector<std::uint16_t>& chain, std::size_t keySize,
                   std::size_t budget, const Emit& emit) {
    const std::size_t n = h.numRecords;
    const std::size_t rs = static_cast<std::size_t>(h.recordSize);
    std::vector<std::uint32_t> rank;
    {
        std::vector<KeyEntry<Words>> entries;
        entries.reserve(n);
        bool inOrder = true;
        forEachRecord(table, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) {
            KeyEntry<Words> e;
            std::uint8_t bytes[8 * Words] = {};
            std::memcpy(bytes, rec.data(), keySize);
            std::memcpy(e.prefix, bytes, sizeof bytes);
            for (auto& w : e.prefix) w = __builtin_bswap64(w);  // byte order as integer order (little-endian hosts)
            e.slot = static_cast<std::uint32_t>(entries.size());
            if (inOrder && !entries.empty()) {
                const auto& p = entries.back().prefix;
                inOrder = std::lexicographical_compare(p, p + Words, e.prefix, e.prefix + Words);
            }
            entries.push_back(e);
        });
        if (inOrder) return false;
        std::sort(entries.begin(), entries.end(), [](const KeyEntry<Words>& a, const KeyEntry<Words>& b) {
            for (int w = 0; w < Words; ++w)
                if (a.prefix[w] != b.prefix[w]) return a.prefix[w] < b.prefix[w];
            return a.slot < b.slot;
        });
        rank.resize(n);
        for (std::size_t i = 0; i < n; ++i) rank[entries[i].slot] = static_cast<std::uint32_t>(i);
    }
    std::size_t room = budget > n * sizeof(std::uint32_t) ? budget - n * sizeof(std::uint32_t) : 0;
    std::size_t stretch = std::max<std::size_t>(room / rs, 1);
    std::vector<std::uint8_t> out;
    for (std::size_t from = 0; from < n; from += stretch) {
        std::size_t count = std::min(stretch, n - from);
        out.assign(count * rs, 0);
        std::size_t i = 0;
        forEachRecord(table, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) {
            std::size_t r = rank[i++];
            if (r >= from && r < from + count) std::memcpy(out.data() + (r - from) * rs, rec.data(), rs);
        });
        for (std::size_t k = 0; k < count; ++k) emit({out.data() + k * rs, rs});
    }
    return true;
}

bool inKeyOrder(os::File& table, const TableHeader& h, const std::vector<std::uint16_t>& chain, std::size_t keySize) {
    bool inOrder = true, any = false;
    std::vector<std::uint8_t> last(keySize);
    forEachRecord(table, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) {
        if (inOrder && any && std::memcmp(last.data(), rec.data(), keySize) >= 0) inOrder = false;
        std::memcpy(last.data(), rec.data(), keySize);
        any = true;
    });
    return inOrder;
}

}  // namespace

void forEachRecordInKeyOrder(os::FileSystem& fs, os::File& table, const TableHeader& h,
                             const std::vector<std::uint16_t>& chain, std::size_t keySize, std::size_t budget,
                             const std::string& scratchPrefix, const std::string& scratchSuffix, const Emit& emit) {
    auto stream = [&] { forEachRecord(table, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) { emit(rec); }); };
    std::uint64_t n = h.numRecords;
    // Strictly ascending 8-byte prefixes mean strictly ascending keys only when the key fits them.
    if (keySize <= 8 && gatherCost<1>(n) <= budget) {
        if (!gatherInOrder<1>(table, h, chain, keySize, budget, emit)) stream();
        return;
    }
    if (keySize <= 16 && gatherCost<2>(n) <= budget) {
        if (!gatherInOrder<2>(table, h, chain, keySize, budget, emit)) stream();
        return;
    }
    if (inKeyOrder(table, h, chain, keySize)) {
        stream();
        return;
    }
    ExternalSorter sorter(fs, scratchPrefix, scratchSuffix, static_cast<std::size_t>(h.recordSize), keySize, budget);
    forEachRecord(table, h, chain, [&](std::span<const std::uint8_t> rec, std::uint16_t) { sorter.add(rec); });
    sorter.finish();
    for (auto rec = sorter.next(); !rec.empty(); rec = sorter.next()) emit(rec);
}

}  // namespace atua::paradox
