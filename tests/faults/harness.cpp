#include "tests/faults/harness.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>

#include "engine/check/checker.h"
#include "engine/paths.h"

namespace atua::faults {
namespace fs = std::filesystem;

ScratchDir::ScratchDir(bool ramDisk) {
    fs::path base = ramDisk && fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string tmpl = (base / "atua-faults-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a scratch folder under " + base.string());
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Folder readFolder(const fs::path& dir) {
    Folder all;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        all[e.path().filename().string()] = Bytes(std::istreambuf_iterator<char>(in), {});
    }
    return all;
}

void writeFolder(const fs::path& dir, const Folder& files) {
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
    for (const auto& [name, bytes] : files) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

DiskImage imageOf(const Folder& files) {
    DiskImage img;
    img.folders = {kDir};
    for (const auto& [name, bytes] : files) img.files[paths::join(kDir, name)] = bytes;
    return img;
}

DiskImage movementImage(const fixtures::MovementOptions& options) {
    ScratchDir dir;
    fixtures::writeMovementTable(dir.file("movimento.db"), options);
    return imageOf(readFolder(dir.path()));
}

namespace {

unsigned u16(const Bytes& b, std::size_t at) {
    if (at + 2 > b.size()) throw std::runtime_error("the file is cut short");
    return static_cast<unsigned>(b[at] | (b[at + 1] << 8));
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && paths::equalsNoCase(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

const Bytes* findNoCase(const Folder& f, const std::string& name) {
    for (const auto& [n, b] : f)
        if (paths::equalsNoCase(n, name)) return &b;
    return nullptr;
}

// The checker's verdict on these files as a folder of their own, with the stamps this program's
// engine writes and CNPJ_IDX in case-insensitive order.
check::Report checkFolder(const Folder& files) {
    ScratchDir dir;
    writeFolder(dir.path(), files);
    check::Options options;
    options.strictStamps = true;
    options.caseInsensitive = {"CNPJ_IDX"};
    return check::checkTable(dir.file("movimento.db"), options);
}

}  // namespace

int fileTypeOf(const Bytes& table) {
    if (table.size() < 6) throw std::runtime_error("the file is too short for a header");
    return table[4];
}

std::vector<Bytes> recordsOf(const Bytes& t) {
    unsigned recordSize = u16(t, 0), headerSize = u16(t, 2);
    if (t.size() < 0x58 || recordSize == 0 || headerSize == 0) throw std::runtime_error("not a table header");
    unsigned blockSize = t[5] * 1024u;
    std::uint32_t count = static_cast<std::uint32_t>(u16(t, 6) | (u16(t, 8) << 16));
    unsigned first = u16(t, 0x0E);
    std::vector<Bytes> records;
    std::vector<bool> seen(65536, false);
    unsigned prev = 0;
    for (unsigned blk = first; blk != 0;) {
        if (seen[blk]) throw std::runtime_error("the block chain loops at block " + std::to_string(blk));
        seen[blk] = true;
        std::size_t at = headerSize + static_cast<std::size_t>(blk - 1) * blockSize;
        unsigned next = u16(t, at), back = u16(t, at + 2);
        int last = static_cast<std::int16_t>(u16(t, at + 4));
        if (back != prev) throw std::runtime_error("block " + std::to_string(blk) + " does not link back");
        if (last < -static_cast<int>(recordSize) || last % static_cast<int>(recordSize) != 0)
            throw std::runtime_error("block " + std::to_string(blk) + " has a bad record count");
        int n = last / static_cast<int>(recordSize) + 1;
        for (int i = 0; i < n; ++i) {
            std::size_t r = at + 6 + static_cast<std::size_t>(i) * recordSize;
            if (r + recordSize > t.size()) throw std::runtime_error("a record lies past the end of the file");
            records.emplace_back(t.begin() + static_cast<std::ptrdiff_t>(r), t.begin() + static_cast<std::ptrdiff_t>(r + recordSize));
        }
        prev = blk;
        blk = next;
    }
    if (records.size() != count)
        throw std::runtime_error("the chain holds " + std::to_string(records.size()) + " records, the header says " + std::to_string(count));
    std::sort(records.begin(), records.end());
    return records;
}

void addIndex(TTable& table, Addition which) {
    if (which == Addition::Primary)
        table.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
    else
        table.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {TIndexOption::ixCaseInsensitive});
}

const char* nameOf(Addition which) { return which == Addition::Primary ? "primary" : "CNPJ_IDX"; }

std::string openAndClose(os::FileSystem& fs, const std::string& path) {
    TTable t(fs);
    t.TableName = path;
    try {
        t.Open();
        t.Close();
    } catch (const Exception& e) {
        return e.Message().empty() ? "(an empty message)" : e.Message();
    }
    return {};
}

Verdict judge(const Folder& before, const Folder& after, Addition which) {
    auto failed = [](std::string why) { return Verdict{Outcome::Failed, std::move(why)}; };
    if (after == before) return {Outcome::Unchanged, {}};
    for (const auto& [name, bytes] : after)
        if (endsWith(name, ".atuatmp") || endsWith(name, ".atuajnl")) return failed("a leftover " + name);
    for (const auto& [name, bytes] : before)
        if (!findNoCase(after, name)) return failed(name + " is gone");
    const Bytes* db = findNoCase(after, "movimento.db");
    try {
        if (recordsOf(*db) != recordsOf(*findNoCase(before, "movimento.db")))
            return failed("the records differ from the records before");
        if (fileTypeOf(*db) != 0) return failed("the table changed but is not keyed");
    } catch (const std::exception& e) {
        return failed(std::string("movimento.db cannot be read: ") + e.what());
    }
    if (!findNoCase(after, "movimento.px")) return failed("movimento.db changed but has no .PX");
    if (which == Addition::Secondary && (!findNoCase(after, "movimento.xg0") || !findNoCase(after, "movimento.yg0")))
        return failed("the files changed but there is no .XG0/.YG0 pair");
    for (const auto& [name, bytes] : after) {
        bool family = paths::equalsNoCase(paths::stem(name), "movimento");
        if (!findNoCase(before, name) && !family) return failed("an unexpected new file " + name);
    }
    check::Report report = checkFolder(after);
    if (!report.ok()) return failed("the checker finds problems:\n" + report.text());
    bool primary = false, secondary = false;
    for (const auto& ix : report.indexes) {
        if (ix.name.empty() && paths::equalsNoCase(paths::extension(ix.file), ".px")) primary = true;
        if (paths::equalsNoCase(ix.name, "CNPJ_IDX") && ix.order == check::IndexOrder::CaseInsensitive) secondary = true;
    }
    if (!primary) return failed("the checker finds no primary index");
    if (which == Addition::Secondary && !secondary) return failed("the checker finds no case-insensitive CNPJ_IDX");
    return {Outcome::Complete, {}};
}

std::string headerTrustingReaderRefuses(const Folder& folder) {
    const Bytes* db = findNoCase(folder, "movimento.db");
    if (!db) return "there is no table";
    int type = 0;
    try {
        type = fileTypeOf(*db);
        recordsOf(*db);
    } catch (const std::exception& e) {
        return std::string("the table cannot be read: ") + e.what();
    }
    if (type != 0 && type != 2) return "movimento.db is not a table (file type " + std::to_string(type) + ")";
    // The files it looks at: the table, its .PX when keyed, and every secondary pair found by its .X.
    Folder seen{{"movimento.db", *db}};
    if (type == 0) {
        const Bytes* px = findNoCase(folder, "movimento.px");
        if (!px) return "the table is keyed but there is no .PX";
        seen["movimento.px"] = *px;
    }
    for (const auto& [name, bytes] : folder) {
        std::string ext = paths::extension(name);
        if (!paths::equalsNoCase(paths::stem(name), "movimento") || ext.size() != 4 || (ext[1] != 'X' && ext[1] != 'x')) continue;
        std::string partner = name;
        partner[partner.size() - 3] = ext[1] == 'X' ? 'Y' : 'y';
        const Bytes* y = findNoCase(folder, partner);
        if (!y) return name + " has no " + partner + " beside it";
        if (type == 2 && bytes.size() > 4 && (bytes[4] == 5 || bytes[4] == 8))
            return name + " is a maintained index beside a table without a primary index";
        seen[name] = bytes;
        seen[partner] = *y;
    }
    check::Report report = checkFolder(seen);
    if (!report.ok()) return "the files it reads disagree:\n" + report.text();
    return {};
}

void Tally::add(const Verdict& v, const std::string& where) {
    ++tried;
    switch (v.outcome) {
        case Outcome::Unchanged: ++unchanged; break;
        case Outcome::Complete: ++complete; break;
        case Outcome::Failed:
            ++failures;
            if (failed.size() < 5) failed.push_back(where + ": " + v.why);
            break;
    }
}

void Tally::merge(const Tally& o) {
    tried += o.tried;
    unchanged += o.unchanged;
    complete += o.complete;
    failures += o.failures;
    for (const auto& f : o.failed)
        if (failed.size() < 5) failed.push_back(f);
}

std::string Tally::line(const std::string& what) const {
    return what + ": " + std::to_string(tried) + " fault points tried, " + std::to_string(unchanged) +
           " left every file as it was, " + std::to_string(complete) + " completed the addition, " +
           std::to_string(failures) + " failures";
}

}  // namespace atua::faults

namespace atua::faults {

std::vector<SweepTable> sweepTables() {
    fixtures::MovementOptions o;
    std::size_t perBlock = fixtures::recordsPerBlock(o);
    return {{"0 records", 0, false},
            {"1 record", 1, false},
            {"one block (" + std::to_string(perBlock) + " records)", perBlock, false},
            {"several blocks (" + std::to_string(3 * perBlock + perBlock / 2) + " records)", 3 * perBlock + perBlock / 2, false},
            {"20000 records", 20000, true}};
}

DiskImage startImage(const SweepTable& table, Addition which) {
    fixtures::MovementOptions o;
    o.records = table.records;
    o.seed = 5;
    DiskImage unkeyed = movementImage(o);
    if (which == Addition::Primary) return unkeyed;
    return cleanRun(unkeyed, Addition::Primary)->current();
}

std::unique_ptr<FaultFileSystem> cleanRun(const DiskImage& start, Addition which) {
    auto fs = std::make_unique<FaultFileSystem>(start);
    TTable t(*fs);
    t.TableName = kTable;
    addIndex(t, which);
    return fs;
}

}  // namespace atua::faults
