// atua-bench: what the index update costs and what it buys, on movement tables of 10k, 100k and
// 1M records written by the pxlib fixtures:
//  - time to add both indexes divided by the time to copy the table's files (read, write, fsync),
//    medians of three rounds that each copy the table and then index that copy;
//  - peak memory of the index addition, run in a child process of its own (its VmHWM);
//  - a lookup of one control code and one CNPJ through the new trees against a full scan.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/check/checker.h"
#include "engine/check/index_seek.h"
#include "engine/table.h"
#include "tests/fixtures/movement_table.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long peakKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

// What the update does with the closed table; prints this process's peak resident size. (The
// child's ru_maxrss would not do: Linux folds the forked parent's size into it at exec.)
int addIndexes(const std::string& path) {
    try {
        atua::TTable t;
        t.TableName = path;
        t.IndexDefs.Clear();
        t.AddIndex("", "mov_cd_controle", {atua::TIndexOption::ixPrimary, atua::TIndexOption::ixUnique});
        t.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {atua::TIndexOption::ixCaseInsensitive});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "atua-bench: index addition failed: %s\n", e.what());
        return 1;
    }
    std::printf("%ld\n", peakKiB());
    return 0;
}

struct ChildRun {
    double seconds = 0;
    long maxRssKiB = 0;
};

// Runs this program again as `--add-indexes PATH`, so the peak memory is the addition's alone.
ChildRun addIndexesInChild(const std::string& self, const std::string& path) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        execl(self.c_str(), self.c_str(), "--add-indexes", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[64];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
    ChildRun r;
    r.seconds = seconds(Clock::now() - start);
    r.maxRssKiB = std::strtol(text.c_str(), nullptr, 10);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the index addition failed");
    return r;
}

// cp with an fsync at the end of every file.
double copyFiles(const std::vector<fs::path>& files, const fs::path& to) {
    fs::create_directories(to);
    std::vector<char> buf(1 << 20);
    const auto start = Clock::now();
    for (const auto& f : files) {
        const int in = ::open(f.c_str(), O_RDONLY);
        const int out = ::open((to / f.filename()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) throw std::runtime_error("cannot copy " + f.string());
        for (ssize_t n; (n = ::read(in, buf.data(), buf.size())) > 0;)
            if (::write(out, buf.data(), static_cast<std::size_t>(n)) != n) throw std::runtime_error("short write");
        if (::fsync(out) != 0) throw std::runtime_error("fsync failed");
        ::close(in);
        ::close(out);
    }
    return seconds(Clock::now() - start);
}

std::vector<fs::path> tableFiles(const fs::path& dir) {
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) v.push_back(e.path());
    return v;
}

std::uint64_t bytesOf(const std::vector<fs::path>& files) {
    std::uint64_t n = 0;
    for (const auto& f : files) n += fs::file_size(f);
    return n;
}

// Mean time of `fn` over enough runs to fill about `budget` seconds (at least one run).
template <class Fn>
double timed(Fn fn, double budget) {
    int runs = 0;
    const auto start = Clock::now();
    do {
        fn();
        ++runs;
    } while (seconds(Clock::now() - start) < budget);
    return seconds(Clock::now() - start) / runs;
}

std::vector<std::uint8_t> longKey(std::int32_t v) {
    const std::uint32_t u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    return {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u)};
}

std::string findExt(const fs::path& dir, const std::string& upper) {
    for (const auto& f : tableFiles(dir)) {
        std::string e = f.extension().string();
        std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::toupper(c); });
        if (e == upper) return f.string();
    }
    throw std::runtime_error("no " + upper + " file in " + dir.string());
}

struct Row {
    std::size_t records;
    double tableMiB, copy, add, maxRssMiB;
    bool checked;
    double seekCode, scanCode, seekCnpj, scanCnpj;
    std::uint64_t seekBlocksCode, seekBlocksCnpj;
};

// The fixture's table: ANSIINTL (what pxlib writes) with CNPJs in one format, unless told.
struct Shape {
    atua::fixtures::SortOrder sortOrder = atua::fixtures::SortOrder::Ansiintl;
    atua::fixtures::CnpjKind cnpjKind = atua::fixtures::CnpjKind::Generated;
};

Row measure(const std::string& self, const fs::path& root, std::size_t records, const Shape& shape = {}) {
    Row row{};
    row.records = records;
    const fs::path dir = root / ("t" + std::to_string(records));
    fs::create_directories(dir);
    atua::fixtures::MovementOptions o;
    o.records = records;
    o.seed = 42;
    o.sortOrder = shape.sortOrder;
    o.cnpjKind = shape.cnpjKind;
    const auto written = atua::fixtures::writeMovementTable((dir / "movimento.db").string(), o);

    // Three rounds side by side: copy the unindexed table to a folder of its own (timed), then
    // add the indexes to that copy (timed, in a child). Medians of the three.
    const auto original = tableFiles(dir);
    row.tableMiB = static_cast<double>(bytesOf(original)) / (1 << 20);
    std::vector<double> copies, adds;
    std::string table;
    for (int round = 0; round < 3; ++round) {
        const fs::path copyDir = root / ("round" + std::to_string(round));
        fs::remove_all(copyDir);
        copies.push_back(copyFiles(original, copyDir));
        table = (copyDir / "movimento.db").string();
        const ChildRun run = addIndexesInChild(self, table);
        adds.push_back(run.seconds);
        row.maxRssMiB = std::max(row.maxRssMiB, static_cast<double>(run.maxRssKiB) / 1024.0);
        if (round < 2) fs::remove_all(copyDir);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    row.copy = median(copies);
    row.add = median(adds);
    const fs::path indexed = fs::path(table).parent_path();

    atua::check::Options opts;
    opts.strictStamps = true;
    opts.caseInsensitive = {"CNPJ_IDX"};
    const auto report = atua::check::checkTable(table, opts);
    row.checked = report.ok();
    if (!row.checked) std::fputs(report.text().c_str(), stderr);

    // One record from the middle of what was written.
    const auto& probe = written[written.size() / 2];
    const auto code = longKey(probe.controle);
    std::vector<std::uint8_t> cnpj(atua::fixtures::kCnpjSize, 0);
    std::copy(probe.cnpj.begin(), probe.cnpj.end(), cnpj.begin());
    const std::string xg = findExt(indexed, ".XG0");
    atua::check::TableLookup lookup(table);

    std::size_t sink = 0;
    auto blocks0 = lookup.blocksRead();
    sink += lookup.byPrimaryKey(code).has_value();
    row.seekBlocksCode = lookup.blocksRead() - blocks0;
    blocks0 = lookup.blocksRead();
    sink += lookup.bySecondary(xg, cnpj, true).size();
    row.seekBlocksCnpj = lookup.blocksRead() - blocks0;
    row.seekCode = timed([&] { sink += lookup.byPrimaryKey(code).has_value(); }, 0.2);
    row.scanCode = timed([&] { sink += lookup.scan(1, code, false).size(); }, 0.5);
    row.seekCnpj = timed([&] { sink += lookup.bySecondary(xg, cnpj, true).size(); }, 0.2);
    row.scanCnpj = timed([&] { sink += lookup.scan(2, cnpj, true).size(); }, 0.5);
    if (sink == 0) std::fputs("atua-bench: the lookups found nothing\n", stderr);
    fs::remove_all(dir);
    fs::remove_all(indexed);
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--add-indexes") == 0) return addIndexes(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--write-table") == 0) {
        // A fixture to profile the addition on: atua-bench --write-table N PATH, then --add-indexes
        // on copies of it.
        atua::fixtures::MovementOptions o;
        o.records = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
        o.seed = 42;
        atua::fixtures::writeMovementTable(argv[3], o);
        return 0;
    }
    std::vector<std::size_t> sizes = {10'000, 100'000, 1'000'000};
    fs::path root = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc) {
            sizes = {static_cast<std::size_t>(std::strtoull(argv[++i], nullptr, 10))};
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            root = argv[++i];
        } else {
            std::fprintf(stderr, "usage: atua-bench [--records N] [--dir FOLDER] | --write-table N PATH | --add-indexes PATH\n");
            return 2;
        }
    }
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    root /= "atua-bench-" + std::to_string(::getpid());
    fs::create_directories(root);
    std::printf("Index update of movimento.db (pxlib fixture: long key, A18 CNPJ, date, money, A40; shuffled keys)\n");
    std::printf("folder %s\n\n", root.c_str());
    std::printf("%9s %8s %8s %8s %9s %9s %6s %10s %10s %8s %10s %10s %8s\n", "records", "table", "copy", "add", "add/copy",
                "peak mem", "check", "seek code", "scan code", "ratio", "seek cnpj", "scan cnpj", "ratio");
    int rc = 0;
    auto print = [&](const Row& r, const char* label) {
        std::printf("%9zu %6.1fMB %7.3fs %7.3fs %9.2f %6.1fMiB %6s %8.1fus %8.1fus %7.0fx %8.1fus %8.1fus %7.0fx %s\n", r.records,
                    r.tableMiB, r.copy, r.add, r.add / r.copy, r.maxRssMiB, r.checked ? "ok" : "FAIL", r.seekCode * 1e6,
                    r.scanCode * 1e6, r.scanCode / r.seekCode, r.seekCnpj * 1e6, r.scanCnpj * 1e6, r.scanCnpj / r.seekCnpj, label);
        std::printf("%9s blocks read per lookup: code %llu, CNPJ %llu (tree, index, table)\n", "",
                    static_cast<unsigned long long>(r.seekBlocksCode), static_cast<unsigned long long>(r.seekBlocksCnpj));
        std::fflush(stdout);
        if (!r.checked) rc = 1;
    };
    try {
        for (std::size_t n : sizes) print(measure(self, root, n), "");
        // The largest size again under the binary 'ascii' ANSI driver and under ANSIINTL's
        // published weights, CNPJs and CPFs mixed in every format, and then with every kind of
        // value (letters, accents, cases: the sort keys are built and sorted the general way).
        using atua::fixtures::CnpjKind;
        using atua::fixtures::SortOrder;
        const std::size_t n = sizes.back();
        const Row ascii = measure(self, root, n, {SortOrder::Dbwinus0, CnpjKind::CpfAndCnpj});
        print(ascii, "ascii (DBWINUS0), CNPJ and CPF mixed");
        const Row intl = measure(self, root, n, {SortOrder::Ansiintl, CnpjKind::CpfAndCnpj});
        print(intl, "ANSIINTL, CNPJ and CPF mixed");
        const Row every = measure(self, root, n, {SortOrder::Ansiintl, CnpjKind::EveryKind});
        print(every, "ANSIINTL, every kind of value");
        std::printf("\nANSIINTL / ascii addition time at %zu records: %.2f (CNPJ and CPF mixed), %.2f (every kind of value)\n", n,
                    intl.add / ascii.add, every.add / ascii.add);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "atua-bench: %s\n", e.what());
        rc = 1;
    }
    fs::remove_all(root);
    std::printf("\ngoals: add/copy <= 1.5 at 1M; peak memory < 64 MiB; seek >= 100x faster than scan at 100k;\n"
                "       ANSIINTL addition <= 1.5 x ascii at 1M\n");
    return rc;
}
