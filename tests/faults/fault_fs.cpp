#include "tests/faults/fault_fs.h"

#include <algorithm>
#include <exception>

#include "engine/paths.h"

namespace atua::faults {

const char* opName(Op op) {
    static const char* names[kOpCount] = {"open", "read", "write", "sync", "size", "truncate", "rename",
                                          "remove", "syncDirectory", "list", "exists", "isDirectory", "held"};
    return names[static_cast<int>(op)];
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// The messages the POSIX layer would carry, so the engine's texts read as they would for real.
const char* reasonOf(os::OsError::Kind kind) {
    switch (kind) {
        case os::OsError::Kind::DiskFull: return "No space left on device";
        case os::OsError::Kind::Io: return "Input/output error";
        case os::OsError::Kind::AccessDenied: return "Permission denied";
        case os::OsError::Kind::Busy: return "Device or resource busy";
        case os::OsError::Kind::NotFound: return "No such file or directory";
        default: return "Injected failure";
    }
}

// A file of the memory disk holds at most 1 GiB: an offset beyond is a full disk, not an index
// that wraps in a 32-bit build.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

void checkRoom(std::uint64_t end, const std::string& path) {
    if (end > kMaxFileBytes) throw os::OsError(os::OsError::Kind::DiskFull, "Cannot write " + path + ": No space left on device");
}

void applyWrite(Bytes& data, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (data.size() < offset + n) data.resize(static_cast<std::size_t>(offset + n), 0);
    std::copy(bytes, bytes + n, data.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

struct FaultFileSystem::Inode {
    struct Change {
        bool truncate = false;
        std::uint64_t offset = 0;  // truncate: the new size
        Bytes bytes;
    };
    Bytes data;     // what a process reads
    Bytes durable;  // what the disk holds since the last sync
    std::vector<Change> pending;
    int handles = 0, exclusiveHandles = 0;
    bool readOnly = false;
    int otherProcess = 0;  // 0 none, 1 shared, 2 exclusive
};

std::map<std::string, Bytes> DiskImage::in(const std::string& folder) const {
    std::map<std::string, Bytes> out;
    for (const auto& [path, bytes] : files)
        if (paths::dirName(path) == folder) out[paths::baseName(path)] = bytes;
    return out;
}

class FaultFile final : public os::File {
public:
    FaultFile(FaultFileSystem& fs, std::shared_ptr<FaultFileSystem::Inode> inode, std::string path, bool writable,
              bool exclusive)
        : fs_(fs), inode_(std::move(inode)), path_(std::move(path)), writable_(writable), exclusive_(exclusive) {
        ++inode_->handles;
        if (exclusive_) ++inode_->exclusiveHandles;
    }
    ~FaultFile() override {
        --inode_->handles;
        if (exclusive_) --inode_->exclusiveHandles;
    }

    void readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (!fs_.enter(Op::Read, [&] { return std::string("read " + path_ + " @" + std::to_string(offset) + "+" + std::to_string(out.size())); })) {
            std::fill(out.begin(), out.end(), 0);
            return;
        }
        if (offset + out.size() > inode_->data.size())
            throw os::OsError(os::OsError::Kind::Io, "Unexpected end of file in " + path_);
        std::copy_n(inode_->data.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    }
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        try {
            if (!fs_.enter(Op::Write, [&] { return std::string("write " + path_ + " @" + std::to_string(offset) + "+" + std::to_string(data.size())); }))
                return;
        } catch (const os::OsError& e) {
            // A full disk takes part of the write before it refuses the rest.
            if (e.kind() == os::OsError::Kind::DiskFull && writable_) change(offset, data.first(data.size() / 2));
            throw;
        }
        if (!writable_) throw os::OsError(os::OsError::Kind::AccessDenied, "Cannot write " + path_ + ": Bad file descriptor");
        change(offset, data);
    }
    void sync() override {
        if (!fs_.enter(Op::Sync, [&] { return std::string("sync " + path_); })) return;
        inode_->durable = inode_->data;
        inode_->pending.clear();
    }
    std::uint64_t size() override {
        if (!fs_.enter(Op::Size, [&] { return std::string("size " + path_); })) return 0;
        return inode_->data.size();
    }
    void truncate(std::uint64_t size) override {
        if (!fs_.enter(Op::Truncate, [&] { return std::string("truncate " + path_ + " to " + std::to_string(size)); })) return;
        if (!writable_) throw os::OsError(os::OsError::Kind::AccessDenied, "Cannot truncate " + path_ + ": Bad file descriptor");
        checkRoom(size, path_);
        fs_.changed_.insert(path_);
        inode_->data.resize(static_cast<std::size_t>(size), 0);
        inode_->pending.push_back({true, size, {}});
    }

private:
    void change(std::uint64_t offset, std::span<const std::uint8_t> data) {
        checkRoom(offset + data.size(), path_);
        fs_.changed_.insert(path_);
        applyWrite(inode_->data, offset, data.data(), data.size());
        inode_->pending.push_back({false, offset, Bytes(data.begin(), data.end())});
    }

    FaultFileSystem& fs_;
    std::shared_ptr<FaultFileSystem::Inode> inode_;
    std::string path_;
    bool writable_, exclusive_;
};

FaultFileSystem::FaultFileSystem(const DiskImage& image) : folders_(image.folders) {
    for (const auto& [path, bytes] : image.files) {
        auto inode = std::make_shared<Inode>();
        inode->data = inode->durable = bytes;
        names_[path] = durable_[path] = inode;
        folders_.insert(paths::dirName(path));
    }
}

FaultFileSystem::~FaultFileSystem() = default;

DiskImage FaultFileSystem::current() const {
    DiskImage img;
    img.folders = folders_;
    for (const auto& [path, inode] : names_) img.files[path] = inode->data;
    return img;
}

const DiskImage& FaultFileSystem::diskAfterCrash() const { return *crashImage_; }

void FaultFileSystem::losePowerNow(std::uint32_t seed) {
    if (!crashImage_) crashImage_ = imageAfterPowerLoss(seed);
}

std::string FaultFileSystem::trace(std::size_t last) const {
    std::string out;
    std::size_t from = trace_.size() > last ? trace_.size() - last : 0;
    for (std::size_t i = from; i < trace_.size(); ++i) out += "  " + trace_[i] + "\n";
    return out;
}

bool FaultFileSystem::enterSlow(Op op, const std::string& what) {
    if (crashImage_) {
        if (std::uncaught_exceptions() > 0) return false;
        throw PowerLoss{calls_};
    }
    ++calls_;
    if (crashAt_ != 0 && calls_ == crashAt_) {
        if (tracing_) trace_.push_back("#" + std::to_string(calls_) + " POWER LOST before " + what);
        crashImage_ = imageAfterPowerLoss(seed_);
        throw PowerLoss{calls_};
    }
    int n = ++counts_[static_cast<int>(op)];
    if (tracing_) {
        if (trace_.size() > 400) trace_.erase(trace_.begin(), trace_.begin() + 200);
        trace_.push_back("#" + std::to_string(calls_) + " " + what);
    }
    for (const auto& f : faults_) {
        if (f.op == op && (n == f.nth || (f.persistent && n > f.nth))) {
            if (tracing_) trace_.back() += "  -> FAILS (" + std::string(reasonOf(f.kind)) + ")";
            throw os::OsError(f.kind, "Cannot " + what + ": " + reasonOf(f.kind));
        }
    }
    return true;
}

DiskImage FaultFileSystem::imageAfterPowerLoss(std::uint32_t seed) const {
    std::mt19937 rng(seed);
    auto names = durable_;
    std::size_t keep = pendingNames_.empty() ? 0 : rng() % (pendingNames_.size() + 1);
    for (std::size_t i = 0; i < keep; ++i) apply(pendingNames_[i], names);
    DiskImage img;
    img.folders = folders_;
    std::map<const Inode*, Bytes> contents;
    for (const auto& [path, inode] : names) {
        auto it = contents.find(inode.get());
        if (it == contents.end()) {
            Bytes data = inode->durable;
            for (const auto& c : inode->pending) {
                unsigned fate = rng() % 100;
                if (c.truncate) {
                    if (fate < 50) data.resize(static_cast<std::size_t>(c.offset), 0);
                    continue;
                }
                if (fate < 40) {  // kept
                    applyWrite(data, c.offset, c.bytes.data(), c.bytes.size());
                } else if (fate < 70) {  // dropped
                } else if (fate < 85) {  // torn: a prefix reached the disk
                    std::size_t n = c.bytes.empty() ? 0 : rng() % c.bytes.size();
                    applyWrite(data, c.offset, c.bytes.data(), n);
                } else {  // garbled: a stretch holds noise
                    Bytes noisy = c.bytes;
                    if (!noisy.empty()) {
                        std::size_t a = rng() % noisy.size(), b = a + rng() % (noisy.size() - a) + 1;
                        for (std::size_t i = a; i < b; ++i) noisy[i] = static_cast<std::uint8_t>(rng());
                    }
                    applyWrite(data, c.offset, noisy.data(), noisy.size());
                }
            }
            it = contents.emplace(inode.get(), std::move(data)).first;
        }
        img.files[path] = it->second;
    }
    return img;
}

std::shared_ptr<FaultFileSystem::Inode> FaultFileSystem::lookup(const std::string& path) const {
    auto it = names_.find(path);
    return it == names_.end() ? nullptr : it->second;
}

void FaultFileSystem::apply(const NameOp& op, std::map<std::string, std::shared_ptr<Inode>>& names) {
    switch (op.kind) {
        case NameOp::Link: names[op.path] = op.inode; break;
        case NameOp::Unlink: names.erase(op.path); break;
        case NameOp::Rename:
            names.erase(op.from);
            names[op.path] = op.inode;
            break;
    }
}

void FaultFileSystem::link(const std::string& path, std::shared_ptr<Inode> inode) {
    names_[path] = inode;
    pendingNames_.push_back({NameOp::Link, path, std::move(inode), {}});
}

void FaultFileSystem::unlink(const std::string& path) {
    names_.erase(path);
    pendingNames_.push_back({NameOp::Unlink, path, nullptr, {}});
}

void FaultFileSystem::refuseIfOpen(const std::string& path, const std::shared_ptr<Inode>& inode, const char* what) const {
    if (inode && (inode->handles > 0 || inode->otherProcess > 0))
        throw os::OsError(os::OsError::Kind::Busy,
                          std::string("Cannot ") + what + " " + path + ": it is open (Windows refuses this)");
}

void FaultFileSystem::holdByAnotherProcess(const std::string& path, bool exclusive) {
    if (auto inode = lookup(path)) inode->otherProcess = exclusive ? 2 : 1;
}

void FaultFileSystem::setReadOnly(const std::string& path, bool readOnly) {
    if (auto inode = lookup(path)) inode->readOnly = readOnly;
}

std::unique_ptr<os::File> FaultFileSystem::open(std::string_view pathView, os::Access access, os::Share share,
                                                os::Create create) {
    std::string path(pathView);
    bool writable = access == os::Access::ReadWrite || create != os::Create::OpenExisting;
    if (!enter(Op::Open, [&] { return std::string("open " + path + (writable ? " rw" : " r") + (share == os::Share::Exclusive ? " excl" : "") +
                             (create == os::Create::CreateNew ? " new" : create == os::Create::CreateOrTruncate ? " trunc" : "")); }))
        return std::make_unique<FaultFile>(*this, std::make_shared<Inode>(), path, writable, false);
    if (folders_.count(path)) throw os::OsError(os::OsError::Kind::IsDirectory, path + " is a folder");
    if (create != os::Create::OpenExisting) changed_.insert(path);
    auto inode = lookup(path);
    if (!inode) {
        if (create == os::Create::OpenExisting)
            throw os::OsError(os::OsError::Kind::NotFound, "Cannot open " + path + ": No such file or directory");
        if (!folders_.count(paths::dirName(path)))
            throw os::OsError(os::OsError::Kind::NotFound, "Cannot open " + path + ": No such file or directory");
        inode = std::make_shared<Inode>();
        link(path, inode);
        return std::make_unique<FaultFile>(*this, inode, path, true, share == os::Share::Exclusive);
    }
    if (create == os::Create::CreateNew) throw os::OsError(os::OsError::Kind::Other, "Cannot open " + path + ": File exists");
    if (writable && inode->readOnly) throw os::OsError(os::OsError::Kind::AccessDenied, "Cannot open " + path + ": Permission denied");
    bool busy = share == os::Share::Exclusive ? (inode->handles > 0 || inode->otherProcess > 0)
                                              : (inode->exclusiveHandles > 0 || inode->otherProcess == 2);
    if (busy) throw os::OsError(os::OsError::Kind::Busy, path + " is in use by another program");
    auto file = std::make_unique<FaultFile>(*this, inode, path, writable, share == os::Share::Exclusive);
    if (create == os::Create::CreateOrTruncate) {
        inode->data.clear();
        inode->pending.push_back({true, 0, {}});
    }
    return file;
}

bool FaultFileSystem::exists(std::string_view path) {
    if (!enter(Op::Exists, [&] { return std::string("exists " + std::string(path)); })) return false;
    return lookup(std::string(path)) != nullptr || folders_.count(std::string(path)) > 0;
}

bool FaultFileSystem::isDirectory(std::string_view path) {
    if (!enter(Op::IsDir, [&] { return std::string("isDirectory " + std::string(path)); })) return false;
    return folders_.count(std::string(path)) > 0;
}

void FaultFileSystem::rename(std::string_view fromView, std::string_view toView) {
    std::string from(fromView), to(toView);
    if (!enter(Op::Rename, [&] { return std::string("rename " + from + " -> " + to); })) return;
    changed_.insert(from);
    changed_.insert(to);
    auto inode = lookup(from);
    if (!inode) throw os::OsError(os::OsError::Kind::NotFound, "Cannot rename " + from + ": No such file or directory");
    if (folders_.count(to)) throw os::OsError(os::OsError::Kind::AccessDenied, "Cannot rename over folder " + to);
    refuseIfOpen(from, inode, "rename");
    refuseIfOpen(to, lookup(to), "replace");
    // One atomic change of the folder: both names change together or neither does.
    NameOp op{NameOp::Rename, to, inode, from};
    apply(op, names_);
    pendingNames_.push_back(std::move(op));
}

void FaultFileSystem::remove(std::string_view pathView) {
    std::string path(pathView);
    if (!enter(Op::Remove, [&] { return std::string("remove " + path); })) return;
    changed_.insert(path);
    auto inode = lookup(path);
    if (!inode) return;
    refuseIfOpen(path, inode, "remove");
    unlink(path);
}

void FaultFileSystem::syncDirectory(std::string_view dirView) {
    std::string dir(dirView);
    if (!enter(Op::SyncDir, [&] { return std::string("syncDirectory " + dir); })) return;
    // Folder changes reach the disk in the order they were made, so everything up to the last
    // change in this folder becomes durable.
    std::size_t upto = 0;
    for (std::size_t i = 0; i < pendingNames_.size(); ++i)
        if (paths::dirName(pendingNames_[i].path) == dir) upto = i + 1;
    for (std::size_t i = 0; i < upto; ++i) apply(pendingNames_[i], durable_);
    pendingNames_.erase(pendingNames_.begin(), pendingNames_.begin() + static_cast<std::ptrdiff_t>(upto));
}

std::vector<std::string> FaultFileSystem::list(std::string_view dirView) {
    std::string dir(dirView);
    if (!enter(Op::List, [&] { return std::string("list " + dir); })) return {};
    if (!folders_.count(dir)) throw os::OsError(os::OsError::Kind::NotFound, "Cannot list folder " + dir + ": No such file or directory");
    std::vector<std::string> out;
    for (const auto& [path, inode] : names_)
        if (paths::dirName(path) == dir) out.push_back(paths::baseName(path));
    for (const auto& f : folders_)
        if (f != dir && paths::dirName(f) == dir) out.push_back(paths::baseName(f));
    return out;
}

bool FaultFileSystem::heldByAnotherProcess(std::string_view path) {
    if (!enter(Op::Held, [&] { return std::string("heldByAnotherProcess " + std::string(path)); })) return false;
    auto inode = lookup(std::string(path));
    return inode && inode->otherProcess > 0;
}

}  // namespace atua::faults
