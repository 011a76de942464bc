// Headers of the files the engine writes (.PX, .X/.XG, .Y/.YG) and the stamps that tie a
// family of files together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/paradox/blocks.h"
#include "engine/paradox/header.h"

namespace atua::paradox {

// Where case-insensitivity of a secondary index is recorded: bit 0 of byte 0x55 of its .X file.
// No public description of the format says where the flag lives. In the original engine's files
// this bit is set in every level-7 .XGn (named) index and clear in every .Xnn index, and .Xnn
// indexes are by definition case-sensitive; so the bit is taken as "case-insensitive". Every
// choice that depends on it goes through this one constant.
inline constexpr std::uint8_t kIndexFlagCaseInsensitive = 0x01;
inline constexpr std::uint8_t kIndexFlagDescending = 0x10;
inline constexpr std::uint8_t kIndexFlagUnique = 0x20;

// Byte 0x16 of a keyed table or .X file: non-zero in every keyed file the original engine wrote
// (it is a memory address it saved, never read back as such). An unkeyed table that becomes
// keyed gets this value; a keyed one keeps its own.
inline constexpr std::uint32_t kKeyedWorkspaceMarker = 0x00010000u;

// Index block size code (KB): the original engine wrote 2 KB index blocks for level-4+ tables in
// the reference families, whatever the table's own block size.
int preferredIndexBlockCode(const TableHeader& db);

// The stamps of a family (our choice, following the reference files where they agree): the
// table's change counter (0x2D) goes up by one whenever its data blocks are rewritten; the .PX
// and every .Y carry it in 0x2C, every .X carries it in 0x2D and 0x2F and the table's 0x2E in
// 0x2E. The counters at 0x12 go PX = table + 1, X = table + 2, Y = table + 3.
struct FamilyStamps {
    std::uint8_t change = 0;   // the table's 0x2D after the change
    std::uint8_t change2 = 0;  // the table's 0x2E
    std::uint16_t counter = 0; // the table's 0x12
};
FamilyStamps stampsOf(const TableHeader& db);

// The header of a .PX (type 1) or .Y/.YG (type 4/7) file for `keyFields`.
std::vector<std::uint8_t> indexFileHeader(const TableHeader& db, FileType type, const std::vector<Field>& keyFields,
                                          int blockCode, const IndexTreeBuilder::Tree& tree, const std::string& fileName,
                                          const FamilyStamps& stamps);

struct XTableLayout {
    FileType type = FileType::XgMaintained;
    std::vector<Field> fields;          // index fields, primary-key fields, "Blk Num"
    std::vector<std::int16_t> fieldNumbers;
    int indexFieldCount = 0;
    std::string indexName;              // stored in .XGn only
    std::uint8_t flags = 0;             // byte 0x55
};

// The header of a .X/.XG file holding `records` records in `blocks` full chained blocks.
std::vector<std::uint8_t> xFileHeader(const TableHeader& db, const XTableLayout& layout, std::uint32_t records, int blocks,
                                      const std::string& fileName, const FamilyStamps& stamps);

}  // namespace atua::paradox
