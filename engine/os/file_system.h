// The engine's only door to the operating system. Everything the engine reads or writes goes
// through a FileSystem, so tests can put a fault-injecting one in its place.
// Paths are Windows-1252 byte strings; the Win32 implementation converts them explicitly.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace atua::os {

// Thrown by the OS layer; the engine turns it into an EDBEngineError naming the file.
class OsError : public std::exception {
public:
    enum class Kind { NotFound, IsDirectory, AccessDenied, Busy, DiskFull, Io, Other };
    OsError(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override { return detail_.c_str(); }

private:
    Kind kind_;
    std::string detail_;
};

enum class Access { Read, ReadWrite };
// Shared: others may read and write too. Exclusive: the open fails with Kind::Busy while anyone
// else has the file open, and nobody else can open it while we hold it.
enum class Share { Shared, Exclusive };
enum class Create { OpenExisting, CreateNew, CreateOrTruncate };

class File {
public:
    virtual ~File() = default;
    // Reads exactly out.size() bytes; a short read (past end of file) throws OsError(Io).
    virtual void readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    virtual void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
    virtual void sync() = 0;
    virtual std::uint64_t size() = 0;
    virtual void truncate(std::uint64_t size) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual std::unique_ptr<File> open(std::string_view path, Access access, Share share,
                                       Create create = Create::OpenExisting) = 0;
    virtual bool exists(std::string_view path) = 0;
    virtual bool isDirectory(std::string_view path) = 0;
    // Replaces `to` atomically if it exists.
    virtual void rename(std::string_view from, std::string_view to) = 0;
    // Removing a missing file is not an error.
    virtual void remove(std::string_view path) = 0;
    // Makes renames and removals in the folder durable.
    virtual void syncDirectory(std::string_view dir) = 0;
    // Names (not paths) of the entries of a folder.
    virtual std::vector<std::string> list(std::string_view dir) = 0;
    // True when another process holds the file open in a way that excludes us (a stale lock file
    // left by a crashed program is not held). Missing file: false.
    virtual bool heldByAnotherProcess(std::string_view path) = 0;
};

// The real file system of this platform.
FileSystem& realFileSystem();

}  // namespace atua::os
