// The native side of the end-to-end tests: looks at the table files the program left.
//   e2e-table digest PATH [PX]   the records as pxlib reads them (through the .PX when given):
//                                prints "records N digest D", D over the sorted records, so two
//                                tables with the same records in any order print the same line
//   e2e-table add-primary PATH   adds only the primary index, as a run cut short after it would
//   e2e-table add-both PATH      adds both indexes, as a complete run would
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string command = argc > 1 ? argv[1] : "";
        if (command == "digest" && (argc == 3 || argc == 4)) return Digest(argv[2], argc == 4 ? argv[3] : "");
        if (command == "add-primary" && argc == 3) return AddIndexes(argv[2], false);
        if (command == "add-both" && argc == 3) return AddIndexes(argv[2], true);
        std::fputs("usage: e2e-table digest PATH [PX] | add-primary PATH | add-both PATH\n", stderr);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "e2e-table: %s\n", e.what());
        return 1;
    }
}
