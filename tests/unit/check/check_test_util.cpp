#include "tests/unit/check/check_test_util.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <random>
#include <stdexcept>

#include <unistd.h>

namespace atua::check::testing {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto p = std::filesystem::temp_directory_path() /
                 ("atua-check-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}
}  // namespace

void copyFamily(const std::string& folder, const std::string& stem, const std::filesystem::path& to) {
    const std::string prefix = lower(stem) + ".";
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (lower(name).rfind(prefix, 0) != 0) continue;
        std::filesystem::copy_file(e.path(), to / name);
        std::filesystem::permissions(to / name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
}

}  // namespace atua::check::testing
