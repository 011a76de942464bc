// Adding an index to a closed Paradox table: the engine's side of TTable.AddIndex.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/os/file_system.h"
#include "engine/paradox/header.h"
#include "engine/table.h"

namespace atua::paradox {

struct IndexRequest {
    std::string name;
    std::vector<int> fields;      // 1-based field numbers, in key order
    TIndexOptions options;
    std::vector<int> descFields;  // 1-based field numbers that sort descending
};

struct EngineLimits {
    // Memory the sorts may hold; beyond it they spill sorted runs to temporary files. With the
    // rest of the program the whole process stays well under 64 MiB.
    std::size_t sortBudgetBytes = 40u << 20;
};

// Adds the index to the table file at `path` under a journal (see journal.h); on any refusal or
// failure every file in the folder is left as it was.
void addIndex(os::FileSystem& fs, const std::string& path, const IndexRequest& request, const EngineLimits& limits = {});

// The indexes the table's files define: its primary index (when keyed) and every secondary
// index whose files can be read. Read-only; unreadable index files are left out.
std::vector<TIndexDef> listIndexes(os::FileSystem& fs, const std::string& path, const TableHeader& header);

// Finishes or undoes an index addition that was interrupted (power loss, crash), then removes
// leftover temporary files of this table. Called by every open.
void recoverInterruptedUpdate(os::FileSystem& fs, const std::string& path);

}  // namespace atua::paradox
