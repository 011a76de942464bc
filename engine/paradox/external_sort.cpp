#include "engine/paradox/external_sort.h"

#include <algorithm>
#include <cstring>

namespace atua::paradox {

namespace {

// What the in-memory sort moves around: the key's first bytes as big-endian words (so most
// comparisons are integer compares on contiguous memory) and the record's slot.
template <int Words>
struct Entry {
    std::uint64_t prefix[Words];
    std::uint32_t slot;
};

std::size_t entryBytes(int words) {
    switch (words) {
        case 1: return sizeof(Entry<1>);
        case 2: return sizeof(Entry<2>);
        default: return sizeof(Entry<3>);
    }
}

}  // namespace

struct ExternalSorter::Run {
    bool inMemory = false;  // the last buffer, merged without going to disk
    std::string path;
    std::unique_ptr<os::File> file;
    std::uint64_t records = 0;   // in the file
    std::uint64_t consumed = 0;  // read into the buffer so far
    std::vector<std::uint8_t> buffer;
    std::size_t have = 0, pos = 0;  // records in buffer, current one
};

const std::uint8_t* ExternalSorter::current(const Run& run) const {
    if (run.inMemory) return buffer_.data() + static_cast<std::size_t>(order_[run.pos]) * recordSize_;
    return run.buffer.data() + run.pos * recordSize_;
}

ExternalSorter::ExternalSorter(os::FileSystem& fs, std::string runPrefix, std::string runSuffix, std::size_t recordSize,
                               std::size_t keySize, std::size_t budgetBytes, std::uint64_t expectedRecords)
    : fs_(fs), prefix_(std::move(runPrefix)), suffix_(std::move(runSuffix)), recordSize_(recordSize),
      keySize_(keySize), budget_(budgetBytes) {
    prefixWords_ = keySize_ <= 8 ? 1 : keySize_ <= 16 ? 2 : 3;
    // Each buffered record also costs its sort entry and its slot in the order array.
    bufferRecords_ = std::max<std::size_t>(2, budget_ / (recordSize_ + entryBytes(prefixWords_) + sizeof(std::uint32_t)));
    bufferRecords_ = std::min<std::size_t>(bufferRecords_, 0x7FFFFFFF);
    firstBufferRecords_ = static_cast<std::size_t>(std::clamp<std::uint64_t>(expectedRecords, 1, bufferRecords_));
}

ExternalSorter::~ExternalSorter() {
    for (auto& run : runs_) {
        if (run->inMemory) continue;
        run->file.reset();
        try {
            fs_.remove(run->path);
        } catch (...) {
            // A run that cannot be removed now is swept by the next open of the table.
        }
    }
}

void ExternalSorter::add(std::span<const std::uint8_t> record) {
    // Reserved for the records the table says it has (a large table: the whole budget, whose
    // pages are only touched as records arrive); grown within the budget if more arrive.
    if (buffer_.capacity() == 0) buffer_.reserve(firstBufferRecords_ * recordSize_);
    if (inBuffer_ == bufferRecords_) spill();
    if (buffer_.size() + recordSize_ > buffer_.capacity())
        buffer_.reserve(std::min(bufferRecords_, std::max<std::size_t>(2 * inBuffer_, 1)) * recordSize_);
    buffer_.insert(buffer_.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(recordSize_));
    ++inBuffer_;
    ++total_;
}

template <int Words>
void ExternalSorter::sortSlots() {
    std::vector<Entry<Words>> entries(inBuffer_);
    const std::uint8_t* base = buffer_.data();
    const std::size_t rs = recordSize_, ks = keySize_;
    constexpr std::size_t kPrefix = 8 * Words;
    const std::size_t inPrefix = std::min(ks, kPrefix);
    for (std::size_t i = 0; i < inBuffer_; ++i) {
        Entry<Words>& e = entries[i];
        std::uint8_t bytes[kPrefix] = {};
        std::memcpy(bytes, base + i * rs, inPrefix);
        std::memcpy(e.prefix, bytes, sizeof bytes);
        // Byte order as integer order (all our targets are little-endian).
        for (auto& w : e.prefix) w = __builtin_bswap64(w);
        e.slot = static_cast<std::uint32_t>(i);
    }
    std::sort(entries.begin(), entries.end(), [base, rs, ks](const Entry<Words>& a, const Entry<Words>& b) {
        for (int w = 0; w < Words; ++w)
            if (a.prefix[w] != b.prefix[w]) return a.prefix[w] < b.prefix[w];
        if (ks > kPrefix) {
            int c = std::memcmp(base + a.slot * rs + kPrefix, base + b.slot * rs + kPrefix, ks - kPrefix);
            if (c != 0) return c < 0;
        }
        return a.slot < b.slot;
    });
    order_.resize(inBuffer_);
    for (std::size_t i = 0; i < inBuffer_; ++i) order_[i] = entries[i].slot;
}

void ExternalSorter::sortBuffer() {
    switch (prefixWords_) {
        case 1: sortSlots<1>(); break;
        case 2: sortSlots<2>(); break;
        default: sortSlots<3>(); break;
    }
}

void ExternalSorter::spill() {
    sortBuffer();
    auto run = std::make_unique<Run>();
    run->path = prefix_ + std::to_string(runs_.size()) + suffix_;
    run->file = fs_.open(run->path, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
    Run& r = *run;
    runs_.push_back(std::move(run));
    constexpr std::size_t kChunk = 1u << 20;
    std::vector<std::uint8_t> out;
    out.reserve(std::min(kChunk, inBuffer_ * recordSize_) + recordSize_);
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < inBuffer_; ++i) {
        const std::uint8_t* rec = buffer_.data() + static_cast<std::size_t>(order_[i]) * recordSize_;
        out.insert(out.end(), rec, rec + recordSize_);
        if (out.size() >= kChunk) {
            r.file->writeAt(at, out);
            at += out.size();
            out.clear();
        }
    }
    if (!out.empty()) r.file->writeAt(at, out);
    r.records = inBuffer_;
    inBuffer_ = 0;
    buffer_.clear();
}

void ExternalSorter::refill(Run& run) {
    std::uint64_t left = run.records - run.consumed;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, run.buffer.size() / recordSize_));
    run.have = n;
    run.pos = 0;
    if (n == 0) return;
    run.file->readAt(run.consumed * recordSize_, std::span(run.buffer.data(), n * recordSize_));
    run.consumed += n;
}

bool ExternalSorter::runLess(std::size_t a, std::size_t b) const {
    int c = std::memcmp(current(*runs_[a]), current(*runs_[b]), keySize_);
    return c < 0 || (c == 0 && a < b);
}

void ExternalSorter::finish() {
    finished_ = true;
    if (runs_.empty()) {
        sortBuffer();
        cursor_ = 0;
        return;
    }
    // The last buffer stays in memory as one more run; the runs on disk are read back through
    // small buffers (an eighth of the budget between them, at most 1 MiB each).
    std::size_t diskRuns = runs_.size();
    if (inBuffer_ > 0) {
        sortBuffer();
        auto last = std::make_unique<Run>();
        last->inMemory = true;
        last->records = inBuffer_;
        last->have = inBuffer_;
        runs_.push_back(std::move(last));
    } else {
        buffer_ = {};
        buffer_.shrink_to_fit();
        order_ = {};
        order_.shrink_to_fit();
    }
    std::size_t perRun = std::clamp<std::size_t>(budget_ / 8 / diskRuns / recordSize_, 1, (1u << 20) / recordSize_ + 1);
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        Run& r = *runs_[i];
        if (!r.inMemory) {
            r.buffer.resize(std::min<std::uint64_t>(perRun, r.records) * recordSize_);
            refill(r);
        }
        if (r.have > 0) heap_.push_back(i);
    }
    // A min-heap on the current record of each run.
    auto greater = [this](std::size_t a, std::size_t b) { return runLess(b, a); };
    std::make_heap(heap_.begin(), heap_.end(), greater);
}

std::span<const std::uint8_t> ExternalSorter::next() {
    if (runs_.empty()) {
        if (cursor_ >= order_.size()) return {};
        return {buffer_.data() + static_cast<std::size_t>(order_[cursor_++]) * recordSize_, recordSize_};
    }
    auto greater = [this](std::size_t a, std::size_t b) { return runLess(b, a); };
    // The run that yielded the previous record advances now, so the span stayed valid.
    if (cursor_ > 0 && !heap_.empty()) {
        std::pop_heap(heap_.begin(), heap_.end(), greater);
        Run& r = *runs_[heap_.back()];
        if (++r.pos == r.have) {
            if (r.inMemory) r.have = 0;
            else refill(r);
        }
        if (r.have == 0) heap_.pop_back();
        else std::push_heap(heap_.begin(), heap_.end(), greater);
    }
    if (heap_.empty()) return {};
    cursor_ = 1;
    return {current(*runs_[heap_.front()]), recordSize_};
}

}  // namespace atua::paradox
