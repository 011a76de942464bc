// Writes a demo movement table (movimento.db) with pxlib: for the demo installation and for the
// fixture tables of the end-to-end tests.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "tests/fixtures/movement_table.h"

namespace {

constexpr const char* kUsage =
    "usage: make-movimento OUT.db [--records N] [--seed S] [--ordered] [--autoinc]\n"
    "                      [--no-cnpj] [--duplicate-key] [--duplicate-keys N]\n"
    "                      [--mixed-case] [--accented] [--second-text]\n"
    "                      [--sort-order ANSIINTL|ANSII850|intl|DBWINUS0] [--mixed-ids]\n"
    "                      [--cnpj-kind K]\n"
    "  --ordered         control codes ascending as written (default: shuffled)\n"
    "  --autoinc         mov_cd_controle as an autoincrement field (default: long integer)\n"
    "  --no-cnpj         leave out cad_cd_cnpj\n"
    "  --duplicate-key   one record repeats another's control code (--duplicate-keys N: N records)\n"
    "  --mixed-case      some CNPJs with letters in both cases\n"
    "  --accented        some CNPJs with accented Windows-1252 letters\n"
    "  --second-text     a second text field, mov_ds_observacao\n"
    "  --mixed-ids       cad_cd_cnpj mixes CNPJs and CPFs (formatted or not), blanks, words, letters,\n"
    "                    accents and cases, as units fill it in\n";

[[noreturn]] void usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "make-movimento: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

unsigned long long number(std::string_view option, const char* text) {
    if (text == nullptr) usage(std::string(option) + " needs a number");
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (*text == '\0' || *end != '\0') usage(std::string(option) + ": not a number: " + text);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    atua::fixtures::MovementOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--records") {
            o.records = number(a, next);
            ++i;
        } else if (a == "--seed") {
            o.seed = static_cast<std::uint32_t>(number(a, next));
            ++i;
        } else if (a == "--duplicate-keys") {
            o.duplicateKeys = number(a, next);
            ++i;
        } else if (a == "--duplicate-key") {
            o.duplicateKeys = 1;
        } else if (a == "--ordered") {
            o.shuffled = false;
        } else if (a == "--autoinc") {
            o.autoIncrement = true;
        } else if (a == "--no-cnpj") {
            o.withCnpj = false;
        } else if (a == "--mixed-case") {
            o.mixedCase = true;
        } else if (a == "--accented") {
            o.accented = true;
        } else if (a == "--second-text") {
            o.secondText = true;
        } else if (a == "--mixed-ids") {
            o.cnpjKind = atua::fixtures::CnpjKind::EveryKind;
        } else if (a == "--cnpj-kind") {
            // The kind's number in CnpjKind (fixtures/movement_table.h); the 32-bit tests pass it on.
            const int k = next ? std::atoi(next) : -1;
            if (k < 0 || k > static_cast<int>(atua::fixtures::CnpjKind::EveryKind)) usage("--cnpj-kind: a CnpjKind number");
            o.cnpjKind = static_cast<atua::fixtures::CnpjKind>(k);
            ++i;
        } else if (a == "--sort-order") {
            std::string_view v = next ? next : "";
            if (v == "ANSIINTL" || v == "ansiintl")
                o.sortOrder = atua::fixtures::SortOrder::Ansiintl;
            else if (v == "DBWINUS0" || v == "dbwinus0")
                o.sortOrder = atua::fixtures::SortOrder::Dbwinus0;
            else if (v == "ANSII850" || v == "ansii850")
                o.sortOrder = atua::fixtures::SortOrder::Ansii850;
            else if (v == "intl")
                o.sortOrder = atua::fixtures::SortOrder::Intl;
            else
                usage("--sort-order: ANSIINTL, ANSII850, intl or DBWINUS0");
            ++i;
        } else if (a == "-h" || a == "--help") {
            usage("");
        } else if (!a.empty() && a[0] == '-') {
            usage("unknown option " + std::string(a));
        } else if (out.empty()) {
            out = a;
        } else {
            usage("more than one output file");
        }
    }
    if (out.empty()) usage("no output file");
    if (o.records > 1'000'000) usage("--records: at most 1000000");
    if (o.duplicateKeys > 0 && o.records < 2) usage("--duplicate-key needs at least 2 records");

    try {
        atua::fixtures::writeMovementTable(out, o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-movimento: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %zu records%s%s%s\n", out.c_str(), o.records,
                o.withCnpj ? "" : ", no cad_cd_cnpj",
                o.duplicateKeys ? ", duplicate control codes" : "",
                o.sortOrder == atua::fixtures::SortOrder::Dbwinus0   ? ", sort order DBWINUS0"
                : o.sortOrder == atua::fixtures::SortOrder::Ansii850 ? ", sort order ANSII850"
                : o.sortOrder == atua::fixtures::SortOrder::Intl     ? ", sort order intl"
                                                                     : ", sort order ANSIINTL");
    return 0;
}
