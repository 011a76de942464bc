// Real process death: the update's two additions run in a child process on the real file
// system, and the child is killed with SIGKILL at a random moment, many times. Each time the
// next open (recovery) must find the old files, the complete primary index, or both indexes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "engine/os/file_system.h"
#include "engine/paths.h"
#include "tests/faults/harness.h"

namespace atua::faults {
namespace {

using Clock = std::chrono::steady_clock;

// Runs both additions in a child; returns its pid. The child never returns.
pid_t startUpdate(const std::string& path) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    int code = 0;
    try {
        TTable t(os::realFileSystem());
        t.TableName = path;
        addIndex(t, Addition::Primary);
        addIndex(t, Addition::Secondary);
    } catch (...) {
        code = 3;
    }
    ::_exit(code);
}

int finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(ProcessKill, SigkillAtRandomMomentsNeverLosesARecord) {
    ScratchDir scratch(false);  // a real disk: its syncs take the time they take
    std::string path = scratch.file("movimento.db");
    fixtures::MovementOptions o;
    o.records = 20000;
    o.seed = 17;
    Folder before = movementImage(o).in(kDir);

    // How long an undisturbed update takes.
    writeFolder(scratch.path(), before);
    auto t0 = Clock::now();
    int status = finish(startUpdate(path));
    auto full = Clock::now() - t0;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the undisturbed update failed";
    ASSERT_EQ(judge(before, readFolder(scratch.path()), Addition::Secondary).outcome, Outcome::Complete);

    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> when(0.0, 1.2);
    const int kills = kFewerPoints ? 20 : 150;
    int unchanged = 0, primaryOnly = 0, both = 0, finishedFirst = 0, leftovers = 0, failures = 0;
    for (int i = 0; i < kills; ++i) {
        writeFolder(scratch.path(), before);
        auto delay = std::chrono::duration_cast<std::chrono::microseconds>(full * when(rng));
        pid_t pid = startUpdate(path);
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int st = finish(pid);
        if (WIFEXITED(st)) ++finishedFirst;
        for (const auto& [name, bytes] : readFolder(scratch.path()))
            if (name.find(".atua") != std::string::npos) {
                ++leftovers;
                break;
            }

        std::string err = openAndClose(os::realFileSystem(), path);
        Folder after = readFolder(scratch.path());
        std::string where = "kill " + std::to_string(i) + " after " + std::to_string(delay.count()) + " us";
        if (!err.empty()) {
            ++failures;
            ADD_FAILURE() << where << ": the table does not open after the kill: " << err;
            continue;
        }
        Verdict second = judge(before, after, Addition::Secondary);
        Verdict first = judge(before, after, Addition::Primary);
        bool secondaryFiles = false;
        for (const auto& [name, bytes] : after)
            if (paths::equalsNoCase(paths::extension(name), ".xg0") || paths::equalsNoCase(paths::extension(name), ".yg0"))
                secondaryFiles = true;
        if (second.outcome == Outcome::Unchanged) ++unchanged;
        else if (second.outcome == Outcome::Complete) ++both;
        else if (first.outcome == Outcome::Complete && !secondaryFiles) ++primaryOnly;
        else {
            ++failures;
            ADD_FAILURE() << where << ": " << second.why;
        }
    }
    std::cout << "SUMMARY process kills: " << kills << " SIGKILLs at random moments of a "
              << std::chrono::duration_cast<std::chrono::milliseconds>(full).count() << " ms update of 20000 records: "
              << unchanged << " left every file as it was, " << primaryOnly << " had the primary index complete, " << both
              << " had both indexes complete (" << finishedFirst << " of the children had already finished; " << leftovers
              << " kills left temporary files or a journal for recovery), " << failures
              << " failures" << std::endl;
    EXPECT_EQ(failures, 0);
    // The kills must land inside the update, not only before or after it.
    EXPECT_GT(unchanged + primaryOnly, 0);
    EXPECT_GT(primaryOnly + both - finishedFirst, 0);
}

}  // namespace
}  // namespace atua::faults
