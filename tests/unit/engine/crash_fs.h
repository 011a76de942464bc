// A file system that stops working at the n-th change it is asked to make, as if the machine
// lost power there: that change and every later operation fail.
#pragma once

#include <memory>

#include "engine/os/file_system.h"

namespace atua::test {

struct PowerLoss : std::exception {
    const char* what() const noexcept override { return "power lost"; }
};

class CrashingFileSystem : public os::FileSystem {
public:
    CrashingFileSystem(os::FileSystem& real, int crashAt) : real_(real), left_(crashAt) {}
    int changes() const { return changes_; }
    bool crashed() const { return crashed_; }

    std::unique_ptr<os::File> open(std::string_view path, os::Access a, os::Share s, os::Create c) override {
        alive();
        if (c != os::Create::OpenExisting) change();
        return std::make_unique<CrashingFile>(*this, real_.open(path, a, s, c));
    }
    bool exists(std::string_view p) override { alive(); return real_.exists(p); }
    bool isDirectory(std::string_view p) override { alive(); return real_.isDirectory(p); }
    void rename(std::string_view a, std::string_view b) override { change(); real_.rename(a, b); }
    void remove(std::string_view p) override { change(); real_.remove(p); }
    void syncDirectory(std::string_view d) override { change(); real_.syncDirectory(d); }
    std::vector<std::string> list(std::string_view d) override { alive(); return real_.list(d); }
    bool heldByAnotherProcess(std::string_view p) override { alive(); return real_.heldByAnotherProcess(p); }

private:
    class CrashingFile : public os::File {
    public:
        CrashingFile(CrashingFileSystem& fs, std::unique_ptr<os::File> f) : fs_(fs), f_(std::move(f)) {}
        void readAt(std::uint64_t o, std::span<std::uint8_t> out) override { fs_.alive(); f_->readAt(o, out); }
        void writeAt(std::uint64_t o, std::span<const std::uint8_t> d) override { fs_.change(); f_->writeAt(o, d); }
        void sync() override { fs_.change(); f_->sync(); }
        std::uint64_t size() override { fs_.alive(); return f_->size(); }
        void truncate(std::uint64_t s) override { fs_.change(); f_->truncate(s); }

    private:
        CrashingFileSystem& fs_;
        std::unique_ptr<os::File> f_;
    };

    void alive() const {
        if (crashed_) throw PowerLoss();
    }
    void change() {
        alive();
        ++changes_;
        if (left_-- == 0) {
            crashed_ = true;
            throw PowerLoss();
        }
    }

    os::FileSystem& real_;
    int left_;
    int changes_ = 0;
    bool crashed_ = false;
};

}  // namespace atua::test
