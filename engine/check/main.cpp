// tarvo-check: verifies a Paradox table and its index files, for support staff and tests.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "engine/check/checker.h"

namespace {
constexpr const char* kUsage =
    "usage: tarvo-check [--strict-stamps] [--case-insensitive NAME]... TABLE.db\n"
    "Verifies the table and every index file beside it (.PX, .Xnn/.Ynn, .XGn/.YGn).\n"
    "  --strict-stamps          also require the header stamps this program's engine writes\n"
    "  --case-insensitive NAME  the secondary index NAME must be in case-insensitive order\n"
    "Exit code: 0 all checks hold, 1 problems found, 2 usage, 3 encrypted (not verified).\n";
}

int main(int argc, char** argv) {
    atua::check::Options options;
    std::string table;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--strict-stamps") {
            options.strictStamps = true;
        } else if (a == "--case-insensitive" && i + 1 < argc) {
            options.caseInsensitive.emplace_back(argv[++i]);
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.empty() || a[0] == '-' || !table.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            table = a;
        }
    }
    if (table.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        const atua::check::Report report = atua::check::checkTable(table, options);
        std::fputs(report.text().c_str(), stdout);
        return report.exitCode();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvo-check: %s: %s\n", table.c_str(), e.what());
        return 1;
    }
}
