// The native side of the end-to-end tests: looks at the table files the program left.
//   e2e-table digest PATH [PX]   the records as pxlib reads them (through the .PX when given):
//                                prints "records N digest D", D over the sorted records, so two
//                                tables with the same records in any order print the same line
//   e2e-table add-primary PATH   adds only the primary index, as a run cut short after it would
//   e2e-table add-both PATH      adds both indexes, as a complete run would
//   e2e-table interrupt PATH     adds the primary index, then starts on CNPJ_IDX and dies (exit
//                                code 3, no clean-up) just after that switch has been committed
//                                and its first file put in place: a committed journal, the new
//                                .YG0 and the .XG0 still under its temporary name are left behind
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "engine/os/file_system.h"
#include "engine/table.h"
#include "tests/fixtures/pxlib_reader.h"

namespace {

std::uint64_t Fnv1a(const std::string& bytes, std::uint64_t h = 1469598103934665603ull) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

int Digest(const std::string& path, const std::string& px) {
    auto table = atua::fixtures::readMovementTable(path, px);
    std::vector<std::string> rows;
    rows.reserve(table.records.size());
    for (const auto& r : table.records) {
        char number[64];
        std::snprintf(number, sizeof number, "%d|%d|%.17g|", r.controle, r.data, r.valor);
        rows.push_back(number + r.cnpj + "|" + r.historico + "|" + r.observacao + "\n");
    }
    std::sort(rows.begin(), rows.end());
    std::uint64_t h = Fnv1a("");
    for (const auto& row : rows) h = Fnv1a(row, h);
    std::printf("records %zu digest %016llx\n", rows.size(), static_cast<unsigned long long>(h));
    return 0;
}

int AddIndexes(const std::string& path, bool both) {
    atua::TTable table;
    table.TableName = path;
    table.AddIndex("", "mov_cd_controle", {atua::TIndexOption::ixPrimary, atua::TIndexOption::ixUnique});
    if (both) table.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {atua::TIndexOption::ixCaseInsensitive});
    return 0;
}

// The real file system, with the process killed at the chosen rename: the files are where the
// system has them at that instant, as after a power loss once everything had been synced.
class DiesAfterCommit final : public atua::os::FileSystem {
public:
    std::unique_ptr<atua::os::File> open(std::string_view path, atua::os::Access access, atua::os::Share share,
                                         atua::os::Create create) override {
        return real_.open(path, access, share, create);
    }
    bool exists(std::string_view path) override { return real_.exists(path); }
    bool isDirectory(std::string_view path) override { return real_.isDirectory(path); }
    void rename(std::string_view from, std::string_view to) override {
        real_.rename(from, to);
        if (committed_) std::_Exit(kInterrupted);
        committed_ = to.size() > 8 && to.substr(to.size() - 8) == ".atuajnl";
    }
    void remove(std::string_view path) override { real_.remove(path); }
    void syncDirectory(std::string_view dir) override { real_.syncDirectory(dir); }
    std::vector<std::string> list(std::string_view dir) override { return real_.list(dir); }
    bool heldByAnotherProcess(std::string_view path) override { return real_.heldByAnotherProcess(path); }

    static constexpr int kInterrupted = 3;

private:
    atua::os::FileSystem& real_ = atua::os::realFileSystem();
    bool committed_ = false;
};

int Interrupt(const std::string& path) {
    AddIndexes(path, false);
    DiesAfterCommit fs;
    atua::TTable table(fs);
    table.TableName = path;
    table.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {atua::TIndexOption::ixCaseInsensitive});
    std::fputs("e2e-table: the addition was never interrupted\n", stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string command = argc > 1 ? argv[1] : "";
        if (command == "digest" && (argc == 3 || argc == 4)) return Digest(argv[2], argc == 4 ? argv[3] : "");
        if (command == "add-primary" && argc == 3) return AddIndexes(argv[2], false);
        if (command == "add-both" && argc == 3) return AddIndexes(argv[2], true);
        if (command == "interrupt" && argc == 3) return Interrupt(argv[2]);
        std::fputs("usage: e2e-table digest PATH [PX] | add-primary PATH | add-both PATH | interrupt PATH\n", stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "e2e-table: %s\n", e.what());
        return 1;
    }
}
