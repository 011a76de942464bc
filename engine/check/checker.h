// Verifies a Paradox table and every index file of its family: headers, block chains, record
// counts, key order, primary-key uniqueness, each B-tree walked on its own, every record reachable
// through every index exactly once, secondary records matching the table, and the stamps that tie
// the family together.
#pragma once

#include <string>
#include <vector>

namespace atua::check {

struct Options {
    // Also require the stamps that this program's engine writes (the original engine's files
    // agree on fewer of them, see checker.cpp).
    bool strictStamps = false;
    // Names of secondary indexes that must be in case-insensitive order.
    std::vector<std::string> caseInsensitive;
};

enum class IndexOrder { Bytes, CaseInsensitive, NotVerified };

struct FileResult {
    std::string name;         // file name without its folder
    std::string description;  // what the file is, in one line
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::size_t problemsLeftOut = 0;
};

struct IndexResult {
    std::string file;       // the .PX, .Xnn or .XGn
    std::string name;       // empty for the primary index and for .Xnn
    std::vector<std::string> fields;
    IndexOrder order = IndexOrder::Bytes;
    std::size_t entries = 0;  // records of the .X (or of the table, for the .PX)
    int levels = 0;           // of its tree (.PX or .Y)
};

struct Report {
    std::string table;
    bool encrypted = false;
    std::vector<FileResult> files;
    std::vector<IndexResult> indexes;

    bool ok() const;
    std::size_t problemCount() const;
    // 0: everything holds; 1: problems found; 3: encrypted, not verified.
    int exitCode() const;
    // One line per file, its problems and notes indented below it, and a last summary line.
    std::string text() const;
};

Report checkTable(const std::string& tablePath, const Options& options = {});

}  // namespace atua::check
