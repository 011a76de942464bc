// The table component: a Paradox table addressed by its path, with the operations the update
// needs (open, close, clear the index definitions, add an index, refresh).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/exceptions.h"

namespace atua::os {
class FileSystem;
}

namespace atua {

enum class TTableType { ttDefault, ttParadox };

// Bit positions follow the declaration order of the options; the set value of
// {ixPrimary, ixUnique} is 3 and of {ixCaseInsensitive} is 8.
enum class TIndexOption : std::uint8_t {
    ixPrimary = 0,
    ixUnique = 1,
    ixDescending = 2,
    ixCaseInsensitive = 3,
    ixExpression = 4,
    ixNonMaintained = 5,
};

class TIndexOptions {
public:
    constexpr TIndexOptions() = default;
    constexpr TIndexOptions(std::initializer_list<TIndexOption> options) {
        for (auto o : options) bits_ |= bit(o);
    }
    static constexpr TIndexOptions fromValue(std::uint8_t value) {
        TIndexOptions o;
        o.bits_ = value;
        return o;
    }
    constexpr bool contains(TIndexOption o) const { return (bits_ & bit(o)) != 0; }
    constexpr std::uint8_t value() const { return bits_; }
    constexpr bool operator==(const TIndexOptions&) const = default;

private:
    static constexpr std::uint8_t bit(TIndexOption o) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(o));
    }
    std::uint8_t bits_ = 0;
};

enum class TFieldType {
    ftUnknown, ftString, ftDate, ftSmallint, ftInteger, ftCurrency, ftFloat, ftBoolean, ftMemo,
    ftBlob, ftFmtMemo, ftParadoxOle, ftGraphic, ftTime, ftDateTime, ftAutoInc, ftBCD, ftBytes,
};

struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftUnknown;
    int Size = 0;     // characters for alpha, decimals for BCD, 0 where the type fixes the size
    int FieldNo = 0;  // 1-based position in the record
};

class TFieldDefs {
public:
    // Case-insensitive lookup; nullptr when the table has no such field.
    const TFieldDef* Find(std::string_view name) const;
    const std::vector<TFieldDef>& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    bool Updated() const { return updated_; }
    void Assign(std::vector<TFieldDef> defs) { items_ = std::move(defs); updated_ = true; }
    void Clear() { items_.clear(); updated_ = false; }

private:
    std::vector<TFieldDef> items_;
    bool updated_ = false;
};

struct TIndexDef {
    std::string Name;
    std::string Fields;
    TIndexOptions Options;
    std::string DescFields;
};

class TIndexDefs {
public:
    const std::vector<TIndexDef>& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    bool Updated() const { return updated_; }
    // Empties the cached list and marks it out of date; the table file is not touched.
    void Clear() { items_.clear(); updated_ = false; }
    void Assign(std::vector<TIndexDef> defs) { items_ = std::move(defs); updated_ = true; }
    void MarkOutOfDate() { updated_ = false; }

private:
    std::vector<TIndexDef> items_;
    bool updated_ = false;
};

class TTable {
public:
    // The file system is the real one unless a test passes its own.
    TTable();
    explicit TTable(os::FileSystem& fs);
    ~TTable();
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    std::string TableName;
    std::string DatabaseName;
    TTableType TableType = TTableType::ttDefault;
    bool Exclusive = false;
    bool ReadOnly = false;
    TFieldDefs FieldDefs;
    TIndexDefs IndexDefs;

    bool Active() const;
    // Setting Active to true opens the table (nothing happens when it is active already);
    // setting it to false closes it (nothing happens when it is inactive).
    void SetActive(bool active);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    // On the closed table: fields looked up without regard to case before the engine is asked
    // for anything, then the engine adds the index to the file; the index definitions are marked
    // out of date. The table stays closed.
    void AddIndex(std::string_view Name, std::string_view Fields, TIndexOptions Options,
                  std::string_view DescFields = {});

    // Re-reads the open table from its file; on a closed table it fails.
    void Refresh();

    // Number of records of the open table.
    std::int64_t RecordCount() const;

    // The table's file path: TableName, under DatabaseName when that is set, ".db" added when
    // the name has no extension.
    std::string resolvedPath() const;

private:
    struct Impl;
    os::FileSystem& fs_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace atua
