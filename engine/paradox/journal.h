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
//     The product may be started after a crash before this program has recovered: its engine
//     trusts the table header and looks for index files beside the table by name, so between
//     any two renames the folder must hold a family that agrees with itself. The journal's
//     order (commit() sorts the staged files by kind) is therefore:
//     a. Every old .Xnn/.XGn that is being replaced is removed first. An index is found through
//        its .X; a missing .X only means the index is not there yet, while an old .X beside a
//        new .Y (or a new table) contradicts it.
//     b. .Ynn/.YGn next: without its .X a .Y is not looked at, so the new one can go in at once.
//     c. Then the .PX: an unkeyed table ignores a .PX beside it, so the new .PX is in place
//        before the table that needs it becomes keyed.
//     d. Then the table itself: from this rename on it is keyed and its .PX is already there.
//     e. The .Xnn/.XGn last: each one completes a pair whose .Y, .PX and table are in place, and
//        the stamps and block numbers it carries are those of the table now beside it.
//     A rebuild of a table that is keyed already keeps the table's blocks (and stamp), so its old
//     and new .PX describe the same blocks and either one agrees with the table. Only a keyed
//     table found out of key order (damaged) is rewritten: its table and .PX are then two renames
//     apart with no order that keeps them agreeing, and for that instant the .PX's stamp tells a
//     reader it is out of date rather than letting it be used.
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
    // Rules 3-5, in the order of rule 4. The staged files must be written, synced and closed (rule 2).
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
