// An I/O error ("disk full" or "I/O error", once or for good) at every open, read, write, sync,
// truncate, rename, remove and folder sync of both index additions. The user must get the
// engine's own message naming the table; once the disk works again the next open must find
// either the old files or the complete new ones.
#include <gtest/gtest.h>

#include <iostream>

#include "tests/faults/harness.h"

namespace atua::faults {
namespace {

constexpr Op kFailingOps[] = {Op::Open, Op::Read, Op::Write, Op::Sync, Op::Truncate, Op::Rename, Op::Remove, Op::SyncDir};
constexpr os::OsError::Kind kKinds[] = {os::OsError::Kind::DiskFull, os::OsError::Kind::Io};

std::string describe(const SweepTable& t, Addition which, const IoFault& f) {
    return std::string(nameOf(which)) + ", " + t.label + ", " + opName(f.op) + " #" + std::to_string(f.nth) + " fails with " +
           (f.kind == os::OsError::Kind::DiskFull ? "disk full" : "I/O error") + (f.persistent ? " for good" : " once");
}

Verdict oneFault(const DiskImage& start, const Folder& before, Addition which, const IoFault& fault, Tally& messages,
                 const std::string& where) {
    FaultFileSystem fs(start);
    fs.failAt(fault);
    bool returned = false;
    std::string message;
    {
        TTable t(fs);
        t.TableName = kTable;
        try {
            addIndex(t, which);
            returned = true;
        } catch (const Exception& e) {
            message = e.Message();
        } catch (const std::exception& e) {
            return {Outcome::Failed, std::string("a failure that is not the engine's own escaped: ") + e.what()};
        }
    }
    if (!returned) {
        // The message the error report shows: a sentence naming the table.
        Verdict m{Outcome::Complete, {}};
        if (message.find(kTable) == std::string::npos) m = {Outcome::Failed, "the message does not name the table: " + message};
        messages.add(m, where);
    }
    // A broken disk may keep the next open from finishing recovery, but not from failing cleanly.
    if (fault.persistent) {
        try {
            openAndClose(fs);
        } catch (const std::exception& e) {
            return {Outcome::Failed, std::string("opening on the broken disk threw a foreign failure: ") + e.what()};
        }
    }
    fs.clearFaults();
    std::string err = openAndClose(fs);
    if (!err.empty()) return {Outcome::Failed, "the table does not open once the disk works again: " + err};
    Verdict v = judge(before, fs.current().in(kDir), which);
    if (returned && v.outcome == Outcome::Unchanged) v = {Outcome::Failed, "the addition reported success but changed nothing"};
    if (v.outcome == Outcome::Failed) v.why += "\n  calls:\n" + fs.trace(25);
    return v;
}

class IoErrorSweep : public ::testing::TestWithParam<Addition> {};

TEST_P(IoErrorSweep, EveryCallOfEveryKindOnEveryTableSize) {
    Addition which = GetParam();
    Tally all, messages;
    for (const auto& table : sweepTables()) {
        DiskImage start = startImage(table, which);
        Folder before = start.in(kDir);
        auto clean = cleanRun(start, which);
        Tally t;
        for (Op op : kFailingOps) {
            int n = clean->count(op);
            // The large table: reads and writes sampled at about 40 points each.
            int stride = table.large ? std::max(1, n / 40) : 1;
            for (int nth = 1; nth <= n; nth = nth == n ? n + 1 : std::min(nth + stride, n)) {
                for (auto kind : kKinds) {
                    for (bool persistent : {false, true}) {
                        IoFault f{op, nth, kind, persistent};
                        std::string where = describe(table, which, f);
                        t.add(oneFault(start, before, which, f, messages, where), where);
                    }
                }
            }
        }
        std::cout << t.line(std::string("I/O errors, ") + nameOf(which) + ", " + table.label) << "\n";
        for (const auto& f : t.failed) ADD_FAILURE() << f;
        all.merge(t);
    }
    std::cout << all.line(std::string("SUMMARY I/O errors during the ") + nameOf(which) + " addition") << "\n"
              << "SUMMARY messages: " << messages.tried << " failures reported, " << messages.failures
              << " without the table's name" << std::endl;
    for (const auto& f : messages.failed) ADD_FAILURE() << f;
    EXPECT_EQ(all.failures, 0u);
    EXPECT_EQ(messages.failures, 0u);
    EXPECT_GT(all.unchanged, 0u);
    EXPECT_GT(messages.tried, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothAdditions, IoErrorSweep, ::testing::Values(Addition::Primary, Addition::Secondary),
                         [](const auto& info) { return std::string(info.param == Addition::Primary ? "Primary" : "Secondary"); });

}  // namespace
}  // namespace atua::faults
