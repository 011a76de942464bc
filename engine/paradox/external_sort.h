// Sorting fixed-size records by a byte-comparable key prefix within a fixed memory budget:
// records gather in one buffer; a full buffer is sorted and written out as a run; the runs are
// merged at the end. Equal keys keep their input order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/os/file_system.h"

namespace atua::paradox {

class ExternalSorter {
public:
    // Runs go to files named runPrefix + number + runSuffix; they are removed when the sorter
    // goes away, whatever happens. expectedRecords (the table header's count) only sizes the
    // first buffer: more records are still taken.
    ExternalSorter(os::FileSystem& fs, std::string runPrefix, std::string runSuffix, std::size_t recordSize,
                   std::size_t keySize, std::size_t budgetBytes, std::uint64_t expectedRecords = UINT64_MAX);
    ~ExternalSorter();
    ExternalSorter(const ExternalSorter&) = delete;
    ExternalSorter& operator=(const ExternalSorter&) = delete;

    void add(std::span<const std::uint8_t> record);
    // Ends the input; afterwards next() yields the records in key order.
    void finish();
    // The next record in order, or an empty span at the end. Valid until the following call.
    std::span<const std::uint8_t> next();

    std::size_t runCount() const { return runs_.size(); }
    std::uint64_t recordCount() const { return total_; }

private:
    struct Run;
    void spill();
    void sortBuffer();
    bool runLess(std::size_t a, std::size_t b) const;
    void refill(Run& run);

    os::FileSystem& fs_;
    std::string prefix_, suffix_;
    std::size_t recordSize_, keySize_, budget_;
    std::size_t bufferRecords_;
    std::size_t firstBufferRecords_;
    template <int Words>
    void sortSlots();
    const std::uint8_t* current(const Run& run) const;

    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint32_t> order_;
    int prefixWords_ = 3;  // 8-byte words of the key the in-memory sort compares as integers
    std::size_t inBuffer_ = 0;
    std::uint64_t total_ = 0;
    std::vector<std::unique_ptr<Run>> runs_;
    std::vector<std::size_t> heap_;
    std::size_t cursor_ = 0;  // in-memory iteration when nothing was spilled
    bool finished_ = false;
};

}  // namespace atua::paradox
