#include "engine/paradox/record_order.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/paradox/external_sort.h"

namespace atua::paradox {
namespace {

template <int Words>
struct KeyEntry {
    std::uint64_t prefix[Words];
    std::uint32_t slot;
};

// A stable byte-wise radix sort of one-word entries on their first keySize key bytes; positions
// where every key has the same byte are skipped.
void radixSort(std::vector<KeyEntry<1>>& entries, std::size_t keySize) {
    std::vector<KeyEntry<1>> other(entries.size());
    for (std::size_t j = keySize; j-- > 0;) {
        const int shift = static_cast<int>(8 * (7 - j));
        std::size_t count[257] = {};
        for (const auto& e : entries) ++count[((e.prefix[0] >> shift) & 0xFF) + 1];
        if (std::any_of(std::begin(count), std::end(count), [&](std::size_t c) { return c == entries.size(); })) continue;
        for (int b = 0; b < 256; ++b) count[b + 1] += count[b];
        for (const auto& e : entries) other[count[(e.prefix[0] >> shift) & 0xFF]++] = e;
        entries.swap(other);
    }
}

// Whether the sort entries of every record, and their ranks, fit the budget.
template <int Words>
bool gatherFits(std::uint64_t records, std::size_t budget) {
    // One-word entries are radix-sorted through a second array of the same size.
    std::size_t entries = Words == 1 ? 2 * sizeof(KeyEntry<1>) : sizeof(KeyEntry<Words>);
    return fitsBudget(records, entries + sizeof(std::uint32_t), budget);
}

// The in-memory way for keys of at most 8 * Words bytes. Returns false, having emitted nothing,
// when the source turns out to be in key order already.
template <int Words>
bool gatherInOrder(const RecordSource& source, const SortShape& shape, std::size_t budget, const RecordVisitor& emit) {
    const std::size_t n = static_cast<std::size_t>(shape.records);
    const std::size_t rs = shape.recordSize;
    std::vector<std::uint32_t> rank;
    {
        std::vector<KeyEntry<Words>> entries;
        entries.reserve(n);
        bool inOrder = true;
        source([&](std::span<const std::uint8_t> rec) {
            KeyEntry<Words> e;
            std::uint8_t bytes[8 * Words] = {};
            std::memcpy(bytes, rec.data(), shape.keySize);
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
        if constexpr (Words == 1) {
            radixSort(entries, shape.keySize);
        } else {
            std::sort(entries.begin(), entries.end(), [](const KeyEntry<Words>& a, const KeyEntry<Words>& b) {
                for (int w = 0; w < Words; ++w)
                    if (a.prefix[w] != b.prefix[w]) return a.prefix[w] < b.prefix[w];
                return a.slot < b.slot;
            });
        }
        rank.resize(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) rank[entries[i].slot] = static_cast<std::uint32_t>(i);
    }
    const std::size_t total = rank.size();
    std::size_t room = budget > total * sizeof(std::uint32_t) ? budget - total * sizeof(std::uint32_t) : 0;
    std::size_t stretch = std::max<std::size_t>(room / rs, 1);
    std::vector<std::uint8_t> out;
    for (std::size_t from = 0; from < total; from += stretch) {
        std::size_t count = std::min(stretch, total - from);
        // Every place of the stretch is written below (the ranks are a permutation of the slots).
        out.resize(count * rs);
        std::size_t i = 0;
        source([&](std::span<const std::uint8_t> rec) {
            std::size_t r = rank[i++];
            if (r >= from && r < from + count) std::memcpy(out.data() + (r - from) * rs, rec.data(), rs);
        });
        for (std::size_t k = 0; k < count; ++k) emit({out.data() + k * rs, rs});
    }
    return true;
}

bool inKeyOrder(const RecordSource& source, std::size_t keySize) {
    bool inOrder = true, any = false;
    std::vector<std::uint8_t> last(keySize);
    source([&](std::span<const std::uint8_t> rec) {
        if (inOrder && any && std::memcmp(last.data(), rec.data(), keySize) >= 0) inOrder = false;
        std::memcpy(last.data(), rec.data(), keySize);
        any = true;
    });
    return inOrder;
}

// A stable most-significant-byte-first radix sort of slots; short stretches go to insertion
// sort. Within a bucket the slots stay ascending, so the records are visited in memory order.
class HeldSort {
public:
    HeldSort(const std::uint8_t* base, std::size_t recordSize, std::span<const std::uint8_t* const> maps)
        : base_(base), rs_(recordSize), maps_(maps) {}

    void run(std::vector<std::uint32_t>& order) {
        std::vector<std::uint32_t> aux(order.size());
        std::vector<std::uint8_t> bytes(order.size());
        struct Stretch {
            std::size_t lo, hi, depth;
        };
        std::vector<Stretch> todo{{0, order.size(), 0}};
        std::uint32_t* a = order.data();
        while (!todo.empty()) {
            auto [lo, hi, d] = todo.back();
            todo.pop_back();
            while (hi - lo >= 2 && d < maps_.size()) {
                if (hi - lo <= kInsertion) {
                    insertionSort(a + lo, a + hi, d);
                    break;
                }
                // The bytes are fetched once, ahead of their use: the records are far apart.
                std::size_t count[256] = {};
                for (std::size_t i = lo; i < hi; ++i) {
                    if (i + kAhead < hi) __builtin_prefetch(base_ + static_cast<std::size_t>(a[i + kAhead]) * rs_ + d);
                    std::uint8_t b = byteAt(a[i], d);
                    bytes[i] = b;
                    ++count[b];
                }
                const std::size_t span = hi - lo;
                if (std::any_of(std::begin(count), std::end(count), [span](std::size_t c) { return c == span; })) {
                    ++d;  // every key has the same byte here
                    continue;
                }
                std::size_t start[256];
                std::size_t at = lo;
                for (int b = 0; b < 256; ++b) {
                    start[b] = at;
                    at += count[b];
                }
                std::size_t next[256];
                std::copy(std::begin(start), std::end(start), std::begin(next));
                for (std::size_t i = lo; i < hi; ++i) aux[next[bytes[i]]++] = a[i];
                std::copy(aux.begin() + static_cast<std::ptrdiff_t>(lo), aux.begin() + static_cast<std::ptrdiff_t>(hi), a + lo);
                for (int b = 0; b < 256; ++b)
                    if (count[b] >= 2) todo.push_back({start[b], start[b] + count[b], d + 1});
                break;
            }
        }
    }

private:
    static constexpr std::size_t kInsertion = 24;
    static constexpr std::size_t kAhead = 16;

    std::uint8_t byteAt(std::uint32_t slot, std::size_t d) const { return maps_[d][base_[slot * rs_ + d]]; }
    bool less(std::uint32_t x, std::uint32_t y, std::size_t d) const {
        for (; d < maps_.size(); ++d) {
            std::uint8_t bx = byteAt(x, d), by = byteAt(y, d);
            if (bx != by) return bx < by;
        }
        return x < y;
    }
    void insertionSort(std::uint32_t* first, std::uint32_t* last, std::size_t d) const {
        for (std::uint32_t* i = first + 1; i < last; ++i) {
            std::uint32_t v = *i;
            std::uint32_t* j = i;
            for (; j > first && less(v, j[-1], d); --j) *j = j[-1];
            *j = v;
        }
    }

    const std::uint8_t* base_;
    std::size_t rs_;
    std::span<const std::uint8_t* const> maps_;
};

}  // namespace

void sortHeldRecords(std::span<const std::uint8_t> records, std::size_t recordSize,
                     std::span<const std::uint8_t* const> byteMaps, std::vector<std::uint32_t>& order) {
    order.resize(recordSize ? records.size() / recordSize : 0);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    HeldSort(records.data(), recordSize, byteMaps).run(order);
}

void sortRecords(os::FileSystem& fs, const RecordSource& source, const SortShape& shape, std::size_t budget,
                 const std::string& scratchPrefix, const std::string& scratchSuffix, const RecordVisitor& emit) {
    // Slots are 32-bit.
    bool small = shape.records < 0xFFFFFFFFu;
    // Strictly ascending prefixes mean strictly ascending keys only when the key fits them.
    if (small && shape.keySize <= 8 && gatherFits<1>(shape.records, budget)) {
        if (!gatherInOrder<1>(source, shape, budget, emit)) source(emit);
        return;
    }
    if (small && shape.keySize <= 16 && gatherFits<2>(shape.records, budget)) {
        if (!gatherInOrder<2>(source, shape, budget, emit)) source(emit);
        return;
    }
    if (small && shape.keySize <= 24 && gatherFits<3>(shape.records, budget)) {
        if (!gatherInOrder<3>(source, shape, budget, emit)) source(emit);
        return;
    }
    if (inKeyOrder(source, shape.keySize)) {
        source(emit);
        return;
    }
    ExternalSorter sorter(fs, scratchPrefix, scratchSuffix, shape.recordSize, shape.keySize, budget, shape.records);
    source([&](std::span<const std::uint8_t> rec) { sorter.add(rec); });
    sorter.finish();
    for (auto rec = sorter.next(); !rec.empty(); rec = sorter.next()) emit(rec);
}

}  // namespace atua::paradox
