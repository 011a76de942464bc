// Power lost at every call of both index additions, and again at every call of the recovery
// that follows: the next open must find either the old files or the complete new ones.
//
// The crash runs on the in-memory FaultFileSystem (see fault_fs.h for what survives a power
// loss). The disk a restart finds is copied into a fresh FaultFileSystem and opened there by a
// new TTable, which runs recovery, exactly as the next start of the program would.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "engine/paradox/add_index.h"
#include "tests/faults/harness.h"

namespace atua::faults {
namespace {

constexpr std::uint32_t kSeeds[] = {11, 23, 47};

struct Sweep {
    Tally crash, recoveryCrash;
    std::uint64_t calls = 0;  // of a fault-free addition
};

std::string describe(const SweepTable& t, Addition which, std::uint64_t call, std::uint32_t seed) {
    return std::string(nameOf(which)) + ", " + t.label + ", power lost at call " + std::to_string(call) + ", seed " +
           std::to_string(seed);
}

// Opens the table found after a power loss and judges the folder; with `recoveryCrashes` the
// recovery itself also loses power at each of its calls first.
void reopenAndJudge(const DiskImage& disk, const Folder& before, Addition which, bool successReported,
                    const std::string& where, Tally& tally, Tally* recoveryCrashes, const std::string& trace) {
    FaultFileSystem after(disk);
    std::string err = openAndClose(after);
    Verdict v;
    if (!err.empty()) v = {Outcome::Failed, "the table does not open after the power loss: " + err};
    else v = judge(before, after.current().in(kDir), which);
    if (successReported && v.outcome == Outcome::Unchanged)
        v = {Outcome::Failed, "the addition had returned, yet the power loss undid it"};
    if (v.outcome == Outcome::Failed) v.why += "\n  calls before the crash:\n" + trace;
    tally.add(v, where);

    if (!recoveryCrashes || after.calls() == 0) return;
    // Recovery wrote something only when the disk held leftovers; sweep its calls then.
    bool leftovers = false;
    for (const auto& [name, bytes] : disk.in(kDir))
        if (name.find(".atua") != std::string::npos) leftovers = true;
    if (!leftovers) return;
    std::uint64_t recoveryCalls = after.calls();
    for (std::uint64_t call = 1; call <= recoveryCalls; ++call) {
        FaultFileSystem again(disk);
        again.powerLossAt(call, static_cast<std::uint32_t>(call * 7 + 1));
        try {
            openAndClose(again);
        } catch (const PowerLoss&) {
        }
        if (!again.crashed()) again.losePowerNow(static_cast<std::uint32_t>(call));
        FaultFileSystem last(again.diskAfterCrash());
        std::string err2 = openAndClose(last);
        Verdict v2;
        if (!err2.empty()) v2 = {Outcome::Failed, "the table does not open after the second power loss: " + err2};
        else v2 = judge(before, last.current().in(kDir), which);
        if (v.outcome == Outcome::Complete && v2.outcome == Outcome::Unchanged)
            v2 = {Outcome::Failed, "a committed addition was undone by a power loss during recovery"};
        recoveryCrashes->add(v2, where + ", then again at recovery call " + std::to_string(call));
    }
}

using Runner = std::function<void(os::FileSystem&)>;

Runner throughTable(Addition which) {
    return [which](os::FileSystem& fs) {
        TTable t(fs);
        t.TableName = kTable;
        addIndex(t, which);
    };
}

Sweep sweep(const SweepTable& table, Addition which, const DiskImage& start, const Runner& run) {
    Sweep s;
    Folder before = start.in(kDir);
    std::uint64_t total = 0;
    {
        FaultFileSystem dry(start);
        run(dry);
        total = dry.calls();
    }
    s.calls = total;
    // The large table with spilled sorts: about 150 crash points spread evenly over the calls;
    // every other table: every call. The large tables get two seeds each.
    const std::uint64_t points = kFewerPoints ? 25 : 150;
    std::uint64_t stride = table.sampled ? std::max<std::uint64_t>(1, total / points) : 1;
    std::size_t seeds = table.large ? 2 : std::size(kSeeds);
    for (std::uint64_t call = 1; call <= total + 1; call = call == total ? total + 1 : std::min(call + stride, total)) {
        for (std::size_t i = 0; i < seeds; ++i) {
            std::uint32_t seed = kSeeds[i];
            FaultFileSystem fs(start);
            bool beyond = call > total;  // the power goes out just after the addition returned
            if (!beyond) fs.powerLossAt(call, seed);
            std::string where = describe(table, which, call, seed);
            bool returned = false;
            try {
                run(fs);
                returned = true;
            } catch (const PowerLoss&) {
            } catch (const Exception& e) {
                s.crash.add({Outcome::Failed, "the engine turned the crash into its own error: " + e.Message()}, where);
                continue;
            }
            // A crash inside a cleanup that swallows every failure (removing sort runs once the
            // switch is done) lets the call return; the process would have died there, and the
            // disk image was fixed at that instant, so it is judged like any other crash.
            if (returned && !beyond && !fs.crashed()) {
                s.crash.add({Outcome::Failed, "the power loss was never reached"}, where);
                continue;
            }
            if (beyond) fs.losePowerNow(seed);
            reopenAndJudge(fs.diskAfterCrash(), before, which, beyond, where, s.crash,
                           table.large ? nullptr : &s.recoveryCrash, fs.trace(25));
        }
        if (call == total + 1) break;
    }
    return s;
}

class PowerLossSweep : public ::testing::TestWithParam<Addition> {};

TEST_P(PowerLossSweep, EveryCallOnEveryTableSize) {
    Addition which = GetParam();
    Tally all, allRecovery;
    for (const auto& table : sweepTables()) {
        Sweep s = sweep(table, which, startImage(table, which), throughTable(which));
        std::cout << s.crash.line(std::string("power loss, ") + nameOf(which) + ", " + table.label + ", " +
                                  std::to_string(s.calls) + " calls" + (table.sampled ? " (sampled)" : ""))
                  << "\n";
        for (const auto& f : s.crash.failed) ADD_FAILURE() << f;
        for (const auto& f : s.recoveryCrash.failed) ADD_FAILURE() << f;
        all.merge(s.crash);
        allRecovery.merge(s.recoveryCrash);
        EXPECT_GT(s.crash.tried, 0u);
    }
    std::cout << all.line(std::string("SUMMARY power loss during the ") + nameOf(which) + " addition") << "\n"
              << allRecovery.line(std::string("SUMMARY power loss during recovery after the ") + nameOf(which) + " addition")
              << std::endl;
    EXPECT_EQ(all.failures, 0u);
    EXPECT_EQ(allRecovery.failures, 0u);
    // Both kinds of ending must actually occur, or the sweep proves nothing.
    EXPECT_GT(all.unchanged, 0u);
    EXPECT_GT(all.complete, 0u);
}

// The large table again with a sort budget small enough that both sorts spill runs to scratch
// files, so the sweep also crosses the writing, reading and removing of runs.
TEST(PowerLossSweepSpilled, TwentyThousandRecordsWithSortRuns) {
    SweepTable table{"20000 records, sorts spilled to runs", 20000, true, true};
    paradox::EngineLimits limits;
    limits.sortBudgetBytes = 256 << 10;
    for (Addition which : {Addition::Primary, Addition::Secondary}) {
        paradox::IndexRequest req;
        if (which == Addition::Primary) {
            req.fields = {1};
            req.options = {TIndexOption::ixPrimary, TIndexOption::ixUnique};
        } else {
            req.name = "CNPJ_IDX";
            req.fields = {2};
            req.options = {TIndexOption::ixCaseInsensitive};
        }
        Sweep s = sweep(table, which, startImage(table, which),
                        [&](os::FileSystem& fs) { paradox::addIndex(fs, kTable, req, limits); });
        std::cout << s.crash.line(std::string("power loss, ") + nameOf(which) + ", " + table.label + ", " +
                                  std::to_string(s.calls) + " calls (sampled)")
                  << std::endl;
        for (const auto& f : s.crash.failed) ADD_FAILURE() << f;
        EXPECT_EQ(s.crash.failures, 0u);
        EXPECT_GT(s.crash.unchanged, 0u);
        EXPECT_GT(s.crash.complete, 0u);
    }
}

// The engine's file system with a look at the folder after every rename and removal, the
// moments at which another program could find the folder between two steps of a switch.
class RenamePoints final : public os::FileSystem {
public:
    RenamePoints(FaultFileSystem& fs, std::function<void()> look) : fs_(fs), look_(std::move(look)) {}
    std::unique_ptr<os::File> open(std::string_view path, os::Access access, os::Share share, os::Create create) override {
        return fs_.open(path, access, share, create);
    }
    bool exists(std::string_view path) override { return fs_.exists(path); }
    bool isDirectory(std::string_view path) override { return fs_.isDirectory(path); }
    void rename(std::string_view from, std::string_view to) override {
        fs_.rename(from, to);
        look_();
    }
    void remove(std::string_view path) override {
        fs_.remove(path);
        look_();
    }
    void syncDirectory(std::string_view dir) override { fs_.syncDirectory(dir); }
    std::vector<std::string> list(std::string_view dir) override { return fs_.list(dir); }
    bool heldByAnotherProcess(std::string_view path) override { return fs_.heldByAnotherProcess(path); }

private:
    FaultFileSystem& fs_;
    std::function<void()> look_;
};

struct SwitchCase {
    const char* name;
    Addition which;
    bool again;  // the table has both indexes already: the primary addition rebuilds them
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class ReaderBetweenRenames : public ::testing::TestWithParam<SwitchCase> {};

// The product may be started after a crash before this program has recovered. At every rename
// of a switch, in a complete addition and in the recovery after a power loss at any of those
// renames, and in the folder the power loss leaves, a reader that trusts the table header and
// looks for index files beside it finds a family that agrees with itself.
TEST_P(ReaderBetweenRenames, FindsAFamilyThatAgreesWithItself) {
    const SwitchCase& c = GetParam();
    for (const auto& table : sweepTables()) {
        SCOPED_TRACE(table.label);
        DiskImage start = startImage(table, c.again ? Addition::Secondary : c.which);
        if (c.again) {
            // The pair as another engine left it, agreeing with itself through a change counter of
            // its own (.X 0x2D, .Y 0x2C): the rebuilt pair is the same but for that, so an old .X
            // beside the new .Y contradicts it.
            start = cleanRun(start, Addition::Secondary)->current();
            auto& x = start.files.at(std::string(kDir) + "/movimento.xg0");
            auto& y = start.files.at(std::string(kDir) + "/movimento.yg0");
            x.at(0x2D) = y.at(0x2C) = static_cast<std::uint8_t>(x.at(0x2D) + 7);
        }
        ASSERT_EQ(headerTrustingReaderRefuses(start.in(kDir)), "") << "the folder before the addition";
        std::vector<std::uint64_t> renameCalls;
        int points = 0;
        auto lookAt = [&](FaultFileSystem& fs, const std::string& when) {
            ++points;
            std::string why = headerTrustingReaderRefuses(fs.current().in(kDir));
            if (!why.empty()) ADD_FAILURE() << when << ": " << why << "\n  calls so far:\n" << fs.trace(8);
        };
        {
            FaultFileSystem fs(start);
            RenamePoints watched(fs, [&] {
                renameCalls.push_back(fs.calls());
                lookAt(fs, "after call " + std::to_string(fs.calls()));
            });
            TTable t(watched);
            t.TableName = kTable;
            addIndex(t, c.which);
            ASSERT_EQ(headerTrustingReaderRefuses(fs.current().in(kDir)), "") << "the folder after the addition";
        }
        // The large table: its renames are looked at, the power losses there only in the full builds.
        if (table.large && kFewerPoints) renameCalls.clear();
        for (std::uint64_t call : renameCalls) {
            for (std::uint32_t seed : kSeeds) {
                FaultFileSystem fs(start);
                fs.powerLossAt(call, seed);
                try {
                    TTable t(fs);
                    t.TableName = kTable;
                    addIndex(t, c.which);
                } catch (const PowerLoss&) {
                }
                ASSERT_TRUE(fs.crashed());
                const DiskImage& disk = fs.diskAfterCrash();
                std::string why = headerTrustingReaderRefuses(disk.in(kDir));
                if (!why.empty()) ADD_FAILURE() << "power lost at call " << call << ", seed " << seed << ": " << why;
                FaultFileSystem after(disk);
                RenamePoints watched(after, [&] { lookAt(after, "recovery after a power loss at call " + std::to_string(call)); });
                EXPECT_EQ(openAndClose(watched), "");
                EXPECT_EQ(headerTrustingReaderRefuses(after.current().in(kDir)), "");
            }
        }
        EXPECT_GE(points, 3) << "the journal and at least two files";
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, ReaderBetweenRenames,
                         ::testing::Values(SwitchCase{"Primary", Addition::Primary, false},
                                           SwitchCase{"Secondary", Addition::Secondary, false},
                                           SwitchCase{"PrimaryAgainWithSecondary", Addition::Primary, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The sweep is able to fail: an addition that writes the new files over the old ones in place,
// without a journal, must be caught losing the table.
TEST(PowerLossSweepControl, CatchesAnAdditionThatWritesInPlace) {
    SweepTable table{"several blocks", 94, false};
    DiskImage start = startImage(table, Addition::Primary);
    DiskImage finished = cleanRun(start, Addition::Primary)->current();
    auto inPlace = [&](os::FileSystem& fs) {
        for (const auto& [path, bytes] : finished.files) {
            auto f = fs.open(path, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateOrTruncate);
            f->writeAt(0, bytes);
            f->sync();
        }
        fs.syncDirectory(kDir);
    };
    Sweep s = sweep(table, Addition::Primary, start, inPlace);
    EXPECT_GT(s.crash.failures, 0u) << s.crash.line("in-place writer");
    EXPECT_GT(s.crash.complete, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothAdditions, PowerLossSweep, ::testing::Values(Addition::Primary, Addition::Secondary),
                         [](const auto& info) { return std::string(info.param == Addition::Primary ? "Primary" : "Secondary"); });

}  // namespace
}  // namespace atua::faults
