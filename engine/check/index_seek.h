// Lookups through a table's index trees, read with the checker's own reader: for benchmarks
// (index seek against a full scan) and for tests that look records up the way an engine would.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/check/keys.h"
#include "engine/check/paradox_file.h"

namespace atua::check {

using RecordBytes = std::vector<std::uint8_t>;

class TableLookup {
public:
    // Opens the table and its .PX.
    explicit TableLookup(const std::string& tablePath);

    const Header& table() const { return db_.header(); }

    // The record whose primary key (stored bytes of the key fields) is `key`.
    std::optional<RecordBytes> byPrimaryKey(std::span<const std::uint8_t> key);

    // Records whose indexed field(s) hold `value` (stored bytes), through the secondary index
    // `indexFile` (.Xnn/.XGn beside the table) and its tree, then through the primary index.
    // The index and its tree stay open for later lookups, as the table and its .PX do.
    std::vector<RecordBytes> bySecondary(const std::string& indexFile, std::span<const std::uint8_t> value,
                                         bool caseInsensitive);

    // The same by reading every record of the table; `field` is 1-based.
    std::vector<RecordBytes> scan(int field, std::span<const std::uint8_t> value, bool caseInsensitive);

    // Blocks read so far, over all files.
    std::uint64_t blocksRead() const { return blocksRead_; }

private:
    struct Secondary;
    Ordering ordering(bool caseInsensitive) const;
    ParadoxFile db_;
    ParadoxFile px_;
    std::map<std::string, std::shared_ptr<Secondary>> secondaries_;
    std::uint64_t blocksRead_ = 0;
};

}  // namespace atua::check
