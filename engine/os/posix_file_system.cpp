// POSIX implementation of the OS layer. Sharing is enforced with open-file-description locks
// (F_OFD_SETLK) over the whole file: a shared open takes a read lock, an exclusive open a write
// lock, so an exclusive open fails while anyone else (another process, or another handle of
// ours) has the file open through this layer.
#if !defined(_WIN32)

// 64-bit file offsets, inode numbers and lock ranges in a 32-bit build too: without them readdir
// fails on file systems with large inode numbers, pread cannot reach past 2 GiB and the kernel
// refuses open-file-description locks.
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/os/file_system.h"

namespace atua::os {
namespace {

static_assert(sizeof(off_t) == 8, "the POSIX layer needs 64-bit file offsets");

OsError errnoError(int err, std::string_view what, std::string_view path) {
    OsError::Kind kind = OsError::Kind::Other;
    switch (err) {
        case ENOENT: case ENOTDIR: kind = OsError::Kind::NotFound; break;
        case EISDIR: kind = OsError::Kind::IsDirectory; break;
        case EACCES: case EPERM: case EROFS: kind = OsError::Kind::AccessDenied; break;
        case EAGAIN: case EBUSY: case ETXTBSY: kind = OsError::Kind::Busy; break;
        case ENOSPC: case EDQUOT: kind = OsError::Kind::DiskFull; break;
        case EIO: kind = OsError::Kind::Io; break;
        default: break;
    }
    return OsError(kind, std::string(what) + " " + std::string(path) + ": " + std::strerror(err));
}

// Takes (or tests) a whole-file OFD lock; returns false when someone else holds a conflicting one.
bool lockWhole(int fd, short type) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    return false;
}

// True when another open file description holds a lock that a write lock would conflict with.
bool conflictingLock(int fd) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

class PosixFile final : public File {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { ::close(fd_); }

    void readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                throw errnoError(errno, "Cannot read", path_);
            }
            if (n == 0) throw OsError(OsError::Kind::Io, "Unexpected end of file in " + path_);
            done += static_cast<std::size_t>(n);
        }
    }
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                throw errnoError(errno, "Cannot write", path_);
            }
            done += static_cast<std::size_t>(n);
        }
    }
    void sync() override {
        if (::fsync(fd_) != 0) throw errnoError(errno, "Cannot flush", path_);
    }
    std::uint64_t size() override {
        struct stat st{};
        if (::fstat(fd_, &st) != 0) throw errnoError(errno, "Cannot read the size of", path_);
        return static_cast<std::uint64_t>(st.st_size);
    }
    void truncate(std::uint64_t size) override {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw errnoError(errno, "Cannot truncate", path_);
    }

private:
    int fd_;
    std::string path_;
};

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(std::string_view path, Access access, Share share, Create create) override {
        std::string p(path);
        int flags = O_CLOEXEC | (access == Access::Read ? O_RDONLY : O_RDWR);
        if (create == Create::CreateNew) flags |= O_CREAT | O_EXCL;
        if (create == Create::CreateOrTruncate) flags |= O_CREAT | O_TRUNC;
        if (create != Create::OpenExisting && access == Access::Read) flags = (flags & ~O_RDONLY) | O_RDWR;
        struct stat st{};
        if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            throw OsError(OsError::Kind::IsDirectory, p + " is a folder");
        int fd = ::open(p.c_str(), flags, 0666);
        if (fd < 0) throw errnoError(errno, "Cannot open", p);
        // O_TRUNC already happened; an exclusive create-or-truncate of a file someone holds is
        // not something the engine does (it only creates fresh temporary names).
        // A write lock needs a descriptor open for writing; an exclusive read-only open tests for
        // a conflicting holder first and then keeps a read lock.
        bool writable = (flags & O_ACCMODE) == O_RDWR;
        bool ok = true;
        if (share == Share::Exclusive && writable) {
            ok = lockWhole(fd, F_WRLCK);
        } else {
            if (share == Share::Exclusive && conflictingLock(fd)) {
                ::close(fd);
                throw OsError(OsError::Kind::Busy, p + " is in use by another program");
            }
            ok = lockWhole(fd, F_RDLCK);
        }
        if (!ok) {
            int err = errno;
            ::close(fd);
            if (err == EAGAIN || err == EACCES)
                throw OsError(OsError::Kind::Busy, p + " is in use by another program");
            throw errnoError(err, "Cannot lock", p);
        }
        return std::make_unique<PosixFile>(fd, p);
    }
    bool exists(std::string_view path) override {
        struct stat st{};
        return ::stat(std::string(path).c_str(), &st) == 0;
    }
    bool isDirectory(std::string_view path) override {
        struct stat st{};
        return ::stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    void rename(std::string_view from, std::string_view to) override {
        if (::rename(std::string(from).c_str(), std::string(to).c_str()) != 0)
            throw errnoError(errno, "Cannot rename " + std::string(from) + " to", to);
    }
    void remove(std::string_view path) override {
        if (::unlink(std::string(path).c_str()) != 0 && errno != ENOENT)
            throw errnoError(errno, "Cannot delete", path);
    }
    void syncDirectory(std::string_view dir) override {
        std::string d(dir.empty() ? "." : dir);
        int fd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) throw errnoError(errno, "Cannot open folder", d);
        int rc = ::fsync(fd);
        int err = errno;
        ::close(fd);
        if (rc != 0 && err != EINVAL) throw errnoError(err, "Cannot flush folder", d);
    }
    std::vector<std::string> list(std::string_view dir) override {
        std::string d(dir.empty() ? "." : dir);
        std::vector<std::string> names;
        DIR* dp = ::opendir(d.c_str());
        if (!dp) throw errnoError(errno, "Cannot list folder", d);
        while (dirent* e = ::readdir(dp)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(std::move(name));
        }
        ::closedir(dp);
        return names;
    }
    bool heldByAnotherProcess(std::string_view path) override {
        std::string p(path);
        int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        bool held = conflictingLock(fd);
        ::close(fd);
        return held;
    }
};

}  // namespace

FileSystem& realFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

}  // namespace atua::os

#endif
