// Switching a table's new files in so that a power loss at any instant leaves either all the
// original files or all the new ones (after the next open has run recovery).
//
// Ordering rules of an index addition:
//  1. No original file is ever written in place. Every new file is written under a temporary
//     name (final name + ".atuatmp") in the table's folder, so renames stay within one volume.
//  2. Every temporary file is completely written, synced and closed before the journal exists.
//  3. The journal, listing each temporary name with the final name it replaces, is written under
//     its own temporary name, synced, and renamed to "<table file>.atuajnl"; then the folder is
//     synced. That rename is the commit point: before it the originals are the truth, after it
//     the new files are.
//  4. After the commit point each temporary file is renamed over its final name (each rename is
//     atomic and replaces the original), in the journal's order; then the folder is synced.
//  5. Only then is the journal removed, and the folder synced again.
//  6. Recovery, run by every open of the table and before every addition, needs the table to
//     itself. A journal that is present and intact means a committed switch: every rename whose
//     temporary file still exists is redone (redoing is harmless: a finished rename left no
//     temporary behind), then rules 4-5 finish. A journal that is absent or damaged means no
//     commit: the originals are untouched. Either way, temporary files of the table that are
//     still there (also sort runs, also a half-written journal) are deleted last.
//  7. Handles on the original files are closed before rule 4: Windows cannot rename over an
//     open file. Nothing outside the table's family and these temporary names is touched.
#pragma once

#include <string>
#include <vector>

#include "engine/os/file_system.h"

namespace atua::paradox {

inline constexpr std::string_view kTempSuffix = ".atuatmp";
inline constexpr std::string_view kJournalSuffix = ".atuajnl";

class FileSwitch {
public:
    FileSwitch(os::FileSystem& fs, std::string tablePath);
    ~FileSwitch();
    FileSwitch(const FileSwitch&) = delete;
    FileSwitch& operator=(const FileSwitch&) = delete;

    // Registers a file to be replaced (or created) and returns the temporary path to write it to.
    std::string stage(const std::string& finalPath);
    // Rules 3-5. The staged files must be written, synced and closed (rule 2).
    void commit();

private:
    struct Entry {
        std::string temp, final;
    };
    os::FileSystem& fs_;
    std::string tablePath_, dir_;
    std::vector<Entry> entries_;
    bool committed_ = false;
};

// Rule 6. Throws EDBEngineError (busy) when an interrupted switch must be finished but another
// program holds the table.
void recoverTable(os::FileSystem& fs, const std::string& tablePath);

// The path of a scratch file of this table (swept by recovery like any temporary file).
std::string scratchPath(const std::string& tablePath, const std::string& tag);

}  // namespace atua::paradox
