// Temporary folders and byte-level edits for the checker's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace atua::check::testing {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Copies every file of `folder` whose name starts with `stem` + "." (any case) into `to`.
void copyFamily(const std::string& folder, const std::string& stem, const std::filesystem::path& to);

}  // namespace atua::check::testing
