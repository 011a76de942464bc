// What the fault tests share: movement tables as in-memory disk images, an independent reading
// of a table's records, and the verdict on a folder after a fault.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/table.h"
#include "tests/faults/fault_fs.h"
#include "tests/fixtures/movement_table.h"

namespace atua::faults {

using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;  // file name -> bytes

inline constexpr const char* kDir = "/t";

// The sanitizer build and the 32-bit build (run under emulation) run the same sweeps, more
// slowly: they sample fewer points and kills.
#if defined(__SANITIZE_ADDRESS__) || UINTPTR_MAX == 0xFFFFFFFFu
inline constexpr bool kFewerPoints = true;
#else
inline constexpr bool kFewerPoints = false;
#endif
inline constexpr const char* kTable = "/t/movimento.db";

// A scratch folder, on a RAM disk when there is one unless asked for a real disk, removed with
// everything in it.
class ScratchDir {
public:
    explicit ScratchDir(bool ramDisk = true);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

Folder readFolder(const std::filesystem::path& dir);
void writeFolder(const std::filesystem::path& dir, const Folder& files);  // replaces what is there

// A movement table written by pxlib, as the only file of kDir.
DiskImage movementImage(const fixtures::MovementOptions& options);
DiskImage imageOf(const Folder& files);

// Every record of a table file, read by walking its block chain with this file's own code (not
// the engine's); throws std::runtime_error when the file is not a readable table. Sorted, so two
// tables hold the same records exactly when the results are equal.
std::vector<Bytes> recordsOf(const Bytes& table);
// The file type byte: 0 keyed, 2 unkeyed.
int fileTypeOf(const Bytes& table);

// The two additions of the update.
enum class Addition { Primary, Secondary };
void addIndex(TTable& table, Addition which);
const char* nameOf(Addition which);

enum class Outcome { Unchanged, Complete, Failed };

struct Verdict {
    Outcome outcome = Outcome::Failed;
    std::string why;  // for Failed
};

// After a fault and a new open (recovery): either every file is exactly as before, or the
// addition is complete (no leftovers, the checker finds nothing wrong, the index is there);
// in both cases every record is there exactly once with its bytes unchanged.
Verdict judge(const Folder& before, const Folder& after, Addition which);

// What a program that trusts the table header and finds index files beside the table by name
// (the product's engine, started after a crash before this program has recovered) makes of a
// folder: empty when it accepts it, else why not. It knows nothing of journals and temporary
// files. An unkeyed table needs nothing beside it and ignores a .PX; a keyed table needs its
// .PX; an index is found through its .Xnn/.XGn, which needs its .Ynn/.YGn (a .Y alone is not
// looked at); a maintained index needs a keyed table. Every file it looks at must agree with the
// table, stamps included (the checker, which shares no code with the engine, decides that).
std::string headerTrustingReaderRefuses(const Folder& folder);

// Opens (recovers) and closes the table at `path` on `fs`; returns the engine's message on failure.
std::string openAndClose(os::FileSystem& fs, const std::string& path = kTable);

// Counts of outcomes of a sweep and the first few failures.
struct Tally {
    std::uint64_t tried = 0, unchanged = 0, complete = 0, failures = 0;
    std::vector<std::string> failed;
    void add(const Verdict& v, const std::string& where);
    void merge(const Tally& o);
    std::string line(const std::string& what) const;
};

}  // namespace atua::faults

namespace atua::faults {

// The tables every sweep runs on: 0, 1, one block, several blocks and 20,000 records.
struct SweepTable {
    std::string label;
    std::size_t records = 0;
    bool large = false;    // fewer seeds, and no power loss during its recovery
    bool sampled = false;  // fault points are sampled rather than swept one by one
};
std::vector<SweepTable> sweepTables();

// The folder before the addition: the unkeyed table for the primary index, the table after a
// clean primary addition for the secondary one.
DiskImage startImage(const SweepTable& table, Addition which);

// Runs the addition on a fault-free copy; returns the file system after it.
std::unique_ptr<FaultFileSystem> cleanRun(const DiskImage& start, Addition which);

}  // namespace atua::faults
