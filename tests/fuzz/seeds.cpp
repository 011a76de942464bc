// fuzz-seeds <folder>: writes the starting corpus of every fuzz target into <folder>/<target>:
// pxlib fixture tables, the engine's own keyed families, and the reference files (read from the
// shared samples folder, never copied into the repository).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/paths.h"
#include "tests/faults/harness.h"
#include "tests/fuzz/targets.h"

namespace fs = std::filesystem;
using atua::faults::Bytes;

namespace {

int written = 0;

void put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ++written;
}

Bytes read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds <folder>\n");
        return 2;
    }
    fs::path out = argv[1];
    const std::size_t maxSize = 64 * 1024;

    // Tables.
    int n = 0;
    for (std::size_t records : {0, 1, 3, 30, 120}) {
        for (int variant = 0; variant < 3; ++variant) {
            atua::fixtures::MovementOptions o;
            o.records = records;
            o.seed = static_cast<std::uint32_t>(records + variant);
            o.autoIncrement = variant == 1;
            o.secondText = variant == 2;
            o.mixedCase = variant == 2;
            o.duplicateKeys = variant == 1 && records > 2 ? 1 : 0;
            o.sortOrder = variant == 0 ? atua::fixtures::SortOrder::Dbwinus0 : atua::fixtures::SortOrder::Ansiintl;
            auto img = atua::faults::movementImage(o);
            put(out / "openTable", "fixture-" + std::to_string(n++), img.files.at(atua::faults::kTable));
        }
    }
    auto family = atua::fuzz::baseFamily();
    put(out / "openTable", "keyed", family.at("movimento.db"));

    // Index files, behind their selector byte.
    auto members = atua::fuzz::familyMembers();
    for (std::size_t i = 0; i < members.size(); ++i) {
        Bytes b{static_cast<std::uint8_t>(i)};
        const Bytes& f = family.at(members[i]);
        b.insert(b.end(), f.begin(), f.end());
        put(out / "indexFile", "family-" + members[i], b);
    }

    // Journals: an intact one (selector 0, the target adds the checksum) and a raw damaged one.
    std::string body = "movimento.db.atuatmp\tmovimento.db\nmovimento.px.atuatmp\tmovimento.px\n";
    Bytes j{0};
    j.insert(j.end(), body.begin(), body.end());
    put(out / "recovery", "intact", j);
    Bytes d{1};
    std::string raw = "ATUAJNL1\n" + body + "END 00000000\n";
    d.insert(d.end(), raw.begin(), raw.end());
    put(out / "recovery", "bad-checksum", d);

    // Reference files written by the original engine.
    fs::path samples = ATUA_SAMPLES_DIR;
    if (fs::is_directory(samples)) {
        for (const auto& e : fs::directory_iterator(samples)) {
            if (!e.is_regular_file() || e.file_size() > maxSize) continue;
            std::string ext = upper(atua::paths::extension(e.path().filename().string()));
            std::string name = "ref-" + e.path().filename().string();
            Bytes bytes = read(e.path());
            int selector = -1;
            if (ext == ".DB") put(out / "openTable", name, bytes);
            else if (ext == ".PX") selector = 0;
            else if (ext.rfind(".XG", 0) == 0) selector = 1;
            else if (ext.rfind(".YG", 0) == 0) selector = 2;
            else if (ext.rfind(".X", 0) == 0) selector = 3;
            else if (ext.rfind(".Y", 0) == 0) selector = 4;
            if (selector >= 0) {
                Bytes b{static_cast<std::uint8_t>(selector)};
                b.insert(b.end(), bytes.begin(), bytes.end());
                put(out / "indexFile", name, b);
            }
        }
    } else {
        std::fprintf(stderr, "no reference files at %s; seeding from fixtures only\n", samples.c_str());
    }
    std::printf("%d seed inputs written under %s\n", written, out.c_str());
    return 0;
}
