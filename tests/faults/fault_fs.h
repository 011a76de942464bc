// An in-memory file system for the engine that can fail any call and lose power at any call.
//
// Power-loss model (deliberately harsher than a journalling file system):
// - File contents: what was there at a file's last sync() is safe. Every write or truncate made
//   since then is, independently and at random (seeded), kept, dropped, torn (only a prefix
//   reached the disk) or garbled (a stretch of it holds random bytes).
// - Folder entries: creating, renaming and removing a file are durable only after
//   syncDirectory() of its folder; of the ones still pending at the power loss, a random prefix
//   (in the order they were made) survives. A synced file whose name was never made durable is
//   lost with its name.
// - The crash itself throws PowerLoss, which is not a std::exception, so no handler in the engine
//   that catches its own or the OS layer's failures can mistake it for one. From then on the file
//   system is dead: calls throw PowerLoss again, except while an exception unwinds (destructors
//   cleaning up), when they quietly do nothing. The disk image a restart finds is fixed at the
//   instant of the crash (diskAfterCrash()).
//
// Windows rules are enforced, so a native run catches what only Windows would refuse: a file
// cannot be renamed over, renamed or removed while any handle has it open (the Win32 layer opens
// without FILE_SHARE_DELETE), and an exclusive open fails while any other handle is open.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/os/file_system.h"

namespace atua::faults {

// The process "dies" here.
struct PowerLoss {
    std::uint64_t call = 0;
};

enum class Op { Open, Read, Write, Sync, Size, Truncate, Rename, Remove, SyncDir, List, Exists, IsDir, Held };
inline constexpr int kOpCount = 13;
const char* opName(Op op);

// The nth call (1-based) of one kind fails; persistent: every later call of that kind too.
struct IoFault {
    Op op = Op::Write;
    int nth = 1;
    os::OsError::Kind kind = os::OsError::Kind::Io;
    bool persistent = false;
};

// Files by full path, and the folders that exist.
struct DiskImage {
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::set<std::string> folders;

    // The files directly inside `folder`, by name.
    std::map<std::string, std::vector<std::uint8_t>> in(const std::string& folder) const;
    bool operator==(const DiskImage&) const = default;
};

class FaultFileSystem final : public os::FileSystem {
public:
    explicit FaultFileSystem(const DiskImage& image = {});
    ~FaultFileSystem() override;

    // What a process sees now (not what the disk holds).
    DiskImage current() const;
    // What a restart after the power loss finds; only after a crash.
    const DiskImage& diskAfterCrash() const;
    bool crashed() const { return crashImage_.has_value(); }

    void failAt(const IoFault& fault) { faults_.push_back(fault); }
    void clearFaults() { faults_.clear(); }
    // Power is lost just before the call with this number (1-based, over every call counted).
    void powerLossAt(std::uint64_t call, std::uint32_t seed) {
        crashAt_ = call;
        seed_ = seed;
    }
    // Power is lost now (after the last call), with this seed for the fate of unsynced writes.
    void losePowerNow(std::uint32_t seed);

    std::uint64_t calls() const { return calls_; }
    int count(Op op) const { return counts_[static_cast<int>(op)]; }
    // Tracing keeps the last calls for failure messages; the fuzz targets turn it off for speed.
    void setTracing(bool on) { tracing_ = on; }

    // Every path this file system was asked to create, write, truncate, rename or remove.
    const std::set<std::string>& changedPaths() const { return changed_; }
    // The last calls made, for failure messages.
    std::string trace(std::size_t last = 40) const;

    // Another process has this file open (exclusive: nobody else may open it at all).
    void holdByAnotherProcess(const std::string& path, bool exclusive);
    void setReadOnly(const std::string& path, bool readOnly = true);

    // os::FileSystem
    std::unique_ptr<os::File> open(std::string_view path, os::Access access, os::Share share,
                                   os::Create create) override;
    bool exists(std::string_view path) override;
    bool isDirectory(std::string_view path) override;
    void rename(std::string_view from, std::string_view to) override;
    void remove(std::string_view path) override;
    void syncDirectory(std::string_view dir) override;
    std::vector<std::string> list(std::string_view dir) override;
    bool heldByAnotherProcess(std::string_view path) override;

    struct Inode;
    struct Handle;

private:
    friend class FaultFile;
    struct NameOp {
        enum Kind { Link, Unlink, Rename } kind;
        std::string path;              // Rename: the new name
        std::shared_ptr<Inode> inode;  // Link, Rename
        std::string from;              // Rename: the old name
    };
    static void apply(const NameOp& op, std::map<std::string, std::shared_ptr<Inode>>& names);

    // Counts the call, crashes or fails it as planned; false: dead and unwinding, do nothing.
    // `what` describes the call; it is only built when it is needed (tracing, a failure).
    template <typename Describe>
    bool enter(Op op, Describe&& what) {
        if (!crashImage_ && crashAt_ != calls_ + 1 && faults_.empty() && !tracing_) {
            ++calls_;
            ++counts_[static_cast<int>(op)];
            return true;
        }
        return enterSlow(op, what());
    }
    bool enterSlow(Op op, const std::string& what);
    void crash();
    DiskImage imageAfterPowerLoss(std::uint32_t seed) const;
    std::shared_ptr<Inode> lookup(const std::string& path) const;
    void link(const std::string& path, std::shared_ptr<Inode> inode);
    void unlink(const std::string& path);
    void refuseIfOpen(const std::string& path, const std::shared_ptr<Inode>& inode, const char* what) const;

    std::map<std::string, std::shared_ptr<Inode>> names_;    // as the process sees them
    std::map<std::string, std::shared_ptr<Inode>> durable_;  // as the disk holds them
    std::vector<NameOp> pendingNames_;
    std::set<std::string> folders_;
    std::vector<IoFault> faults_;
    std::array<int, kOpCount> counts_{};
    std::uint64_t calls_ = 0;
    std::uint64_t crashAt_ = 0;
    std::uint32_t seed_ = 0;
    std::optional<DiskImage> crashImage_;
    std::vector<std::string> trace_;
    std::set<std::string> changed_;
    bool tracing_ = true;
};

}  // namespace atua::faults
