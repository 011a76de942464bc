// Win32 implementation of the OS layer. Sharing is the file sharing mode: a shared open lets
// others read and write, an exclusive open lets nobody else in and fails with a sharing
// violation while anyone has the file open. Paths are Windows-1252 and converted explicitly.
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "engine/os/cp1252.h"
#include "engine/os/file_system.h"

namespace atua::os {
namespace {

OsError lastError(std::string_view what, std::string_view path) {
    DWORD err = ::GetLastError();
    OsError::Kind kind = OsError::Kind::Other;
    switch (err) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME:
            kind = OsError::Kind::NotFound; break;
        case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: kind = OsError::Kind::AccessDenied; break;
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: kind = OsError::Kind::Busy; break;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: kind = OsError::Kind::DiskFull; break;
        case ERROR_CRC: case ERROR_READ_FAULT: case ERROR_WRITE_FAULT: kind = OsError::Kind::Io; break;
        default: break;
    }
    return OsError(kind, std::string(what) + " " + std::string(path) + " (Windows error " + std::to_string(err) + ")");
}

class Win32File final : public File {
public:
    Win32File(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
    ~Win32File() override { ::CloseHandle(h_); }

    void readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            OVERLAPPED ov{};
            std::uint64_t at = offset + done;
            ov.Offset = static_cast<DWORD>(at);
            ov.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(h_, out.data() + done, chunk, &got, &ov)) {
                if (::GetLastError() == ERROR_HANDLE_EOF) got = 0;
                else throw lastError("Cannot read", path_);
            }
            if (got == 0) throw OsError(OsError::Kind::Io, "Unexpected end of file in " + path_);
            done += got;
        }
    }
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        std::size_t done = 0;
        while (done < data.size()) {
            OVERLAPPED ov{};
            std::uint64_t at = offset + done;
            ov.Offset = static_cast<DWORD>(at);
            ov.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
            DWORD put = 0;
            if (!::WriteFile(h_, data.data() + done, chunk, &put, &ov)) throw lastError("Cannot write", path_);
            done += put;
        }
    }
    void sync() override {
        if (!::FlushFileBuffers(h_)) throw lastError("Cannot flush", path_);
    }
    std::uint64_t size() override {
        LARGE_INTEGER li{};
        if (!::GetFileSizeEx(h_, &li)) throw lastError("Cannot read the size of", path_);
        return static_cast<std::uint64_t>(li.QuadPart);
    }
    void truncate(std::uint64_t size) override {
        LARGE_INTEGER li{};
        li.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) || !::SetEndOfFile(h_))
            throw lastError("Cannot truncate", path_);
    }

private:
    HANDLE h_;
    std::string path_;
};

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(std::string_view path, Access access, Share share, Create create) override {
        std::wstring w = Widen1252(path);
        DWORD want = GENERIC_READ | (access == Access::ReadWrite || create != Create::OpenExisting ? GENERIC_WRITE : 0);
        DWORD shareMode = share == Share::Shared ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : 0;
        DWORD disp = create == Create::CreateNew ? CREATE_NEW
                   : create == Create::CreateOrTruncate ? CREATE_ALWAYS : OPEN_EXISTING;
        DWORD attrs = ::GetFileAttributesW(w.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
            throw OsError(OsError::Kind::IsDirectory, std::string(path) + " is a folder");
        HANDLE h = ::CreateFileW(w.c_str(), want, shareMode, nullptr, disp, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw lastError("Cannot open", path);
        return std::make_unique<Win32File>(h, std::string(path));
    }
    bool exists(std::string_view path) override {
        return ::GetFileAttributesW(Widen1252(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool isDirectory(std::string_view path) override {
        DWORD a = ::GetFileAttributesW(Widen1252(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    void rename(std::string_view from, std::string_view to) override {
        if (!::MoveFileExW(Widen1252(from).c_str(), Widen1252(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw lastError("Cannot rename " + std::string(from) + " to", to);
    }
    void remove(std::string_view path) override {
        if (!::DeleteFileW(Widen1252(path).c_str())) {
            DWORD err = ::GetLastError();
            if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) throw lastError("Cannot delete", path);
        }
    }
    // MOVEFILE_WRITE_THROUGH makes each rename durable before it returns.
    void syncDirectory(std::string_view) override {}
    std::vector<std::string> list(std::string_view dir) override {
        std::string pattern(dir.empty() ? "." : dir);
        pattern += "\\*";
        WIN32_FIND_DATAW fd{};
        HANDLE h = ::FindFirstFileW(Widen1252(pattern).c_str(), &fd);
        std::vector<std::string> names;
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_NOT_FOUND) return names;
            throw lastError("Cannot list folder", dir);
        }
        do {
            std::string name = Narrow1252(fd.cFileName);
            if (name != "." && name != "..") names.push_back(std::move(name));
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
        return names;
    }
    bool heldByAnotherProcess(std::string_view path) override {
        HANDLE h = ::CreateFileW(Widen1252(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
        ::CloseHandle(h);
        return false;
    }
};

}  // namespace

FileSystem& realFileSystem() {
    static Win32FileSystem fs;
    return fs;
}

}  // namespace atua::os

#endif
