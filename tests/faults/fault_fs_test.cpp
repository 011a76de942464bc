// The fault-injecting file system keeps its promises: what survives a power loss, what fails
// when, and what Windows would refuse.
#include <gtest/gtest.h>

#include <string>

#include "tests/faults/fault_fs.h"

namespace atua::faults {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

DiskImage oneFile() {
    DiskImage img;
    img.folders = {"/t"};
    img.files["/t/a"] = bytes("original");
    return img;
}

void write(os::File& f, std::uint64_t at, std::string_view s) {
    f.writeAt(at, std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

TEST(FaultFileSystem, SyncedDataAndSyncedNamesSurviveEveryPowerLoss) {
    for (std::uint32_t seed = 0; seed < 50; ++seed) {
        FaultFileSystem fs(oneFile());
        {
            auto f = fs.open("/t/b.tmp", os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateNew);
            write(*f, 0, "new content");
            f->sync();
        }
        fs.rename("/t/b.tmp", "/t/b");
        fs.syncDirectory("/t");
        fs.losePowerNow(seed);
        const DiskImage& d = fs.diskAfterCrash();
        EXPECT_EQ(d.files.at("/t/a"), bytes("original"));
        EXPECT_EQ(d.files.at("/t/b"), bytes("new content"));
        EXPECT_EQ(d.files.count("/t/b.tmp"), 0u);
    }
}

TEST(FaultFileSystem, UnsyncedWritesAndRenamesMayEachBeLost) {
    int lostWrite = 0, keptWrite = 0, undoneRename = 0, keptRename = 0, otherContent = 0;
    for (std::uint32_t seed = 0; seed < 400; ++seed) {
        FaultFileSystem fs(oneFile());
        {
            auto f = fs.open("/t/a", os::Access::ReadWrite, os::Share::Exclusive, os::Create::OpenExisting);
            write(*f, 0, "OVERWRIT");
        }
        fs.rename("/t/a", "/t/c");
        fs.losePowerNow(seed);
        const DiskImage& d = fs.diskAfterCrash();
        ASSERT_EQ(d.files.size(), 1u) << "a rename is atomic: one name or the other, never both or none";
        const Bytes& content = d.files.begin()->second;
        (d.files.count("/t/a") ? undoneRename : keptRename)++;
        if (content == bytes("original")) ++lostWrite;
        else if (content == bytes("OVERWRIT")) ++keptWrite;
        else ++otherContent;  // torn or garbled
        // The process itself saw everything.
        EXPECT_EQ(fs.current().files.at("/t/c"), bytes("OVERWRIT"));
    }
    EXPECT_GT(lostWrite, 0);
    EXPECT_GT(keptWrite, 0);
    EXPECT_GT(otherContent, 0);
    EXPECT_GT(undoneRename, 0);
    EXPECT_GT(keptRename, 0);
}

TEST(FaultFileSystem, ASyncedFileWhoseNameWasNotSyncedCanVanish) {
    int vanished = 0;
    for (std::uint32_t seed = 0; seed < 50; ++seed) {
        FaultFileSystem fs(oneFile());
        auto f = fs.open("/t/new", os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateNew);
        write(*f, 0, "x");
        f->sync();
        fs.losePowerNow(seed);
        if (!fs.diskAfterCrash().files.count("/t/new")) ++vanished;
    }
    EXPECT_GT(vanished, 0);
}

TEST(FaultFileSystem, CrashesAtTheChosenCallAndStaysDead) {
    FaultFileSystem fs(oneFile());
    fs.powerLossAt(3, 1);
    auto f = fs.open("/t/a", os::Access::ReadWrite, os::Share::Shared, os::Create::OpenExisting);  // call 1
    EXPECT_EQ(f->size(), 8u);                                                                        // call 2
    EXPECT_THROW(write(*f, 0, "lost"), PowerLoss);                                                   // call 3
    EXPECT_TRUE(fs.crashed());
    EXPECT_EQ(fs.diskAfterCrash().files.at("/t/a"), bytes("original"));
    EXPECT_THROW(fs.exists("/t/a"), PowerLoss);
    EXPECT_EQ(fs.calls(), 3u);
}

TEST(FaultFileSystem, InjectedErrorsHitTheNthCallOnceOrForGood) {
    for (bool persistent : {false, true}) {
        FaultFileSystem fs(oneFile());
        fs.failAt({Op::Write, 2, os::OsError::Kind::DiskFull, persistent});
        auto f = fs.open("/t/a", os::Access::ReadWrite, os::Share::Shared, os::Create::OpenExisting);
        write(*f, 0, "1");
        try {
            write(*f, 0, "22");
            ADD_FAILURE() << "the second write must fail";
        } catch (const os::OsError& e) {
            EXPECT_EQ(e.kind(), os::OsError::Kind::DiskFull);
            EXPECT_NE(std::string(e.what()).find("/t/a"), std::string::npos) << e.what();
        }
        if (persistent) EXPECT_THROW(write(*f, 0, "3"), os::OsError);
        else EXPECT_NO_THROW(write(*f, 0, "3"));
    }
}

TEST(FaultFileSystem, RefusesWhatWindowsRefuses) {
    FaultFileSystem fs(oneFile());
    {
        auto held = fs.open("/t/a", os::Access::Read, os::Share::Shared, os::Create::OpenExisting);
        EXPECT_THROW(fs.rename("/t/a", "/t/b"), os::OsError);
        EXPECT_THROW(fs.remove("/t/a"), os::OsError);
        EXPECT_THROW(fs.open("/t/a", os::Access::ReadWrite, os::Share::Exclusive, os::Create::OpenExisting), os::OsError);
        EXPECT_NO_THROW(fs.open("/t/a", os::Access::Read, os::Share::Shared, os::Create::OpenExisting));
    }
    EXPECT_NO_THROW(fs.open("/t/a", os::Access::ReadWrite, os::Share::Exclusive, os::Create::OpenExisting));
    fs.holdByAnotherProcess("/t/a", false);
    EXPECT_TRUE(fs.heldByAnotherProcess("/t/a"));
    EXPECT_THROW(fs.open("/t/a", os::Access::ReadWrite, os::Share::Exclusive, os::Create::OpenExisting), os::OsError);
    fs.setReadOnly("/t/a");
    EXPECT_THROW(fs.open("/t/a", os::Access::ReadWrite, os::Share::Shared, os::Create::OpenExisting), os::OsError);
}

// The memory disk cannot hold a file of gigabytes: a write or a truncation past 1 GiB is a full
// disk and changes nothing (in a 32-bit build an offset past 4 GiB would otherwise wrap).
TEST(FaultFileSystem, WritesFarPastTheEndAreAFullDisk) {
    for (std::uint64_t at : {std::uint64_t{1} << 30, (std::uint64_t{1} << 32) + 2, std::uint64_t{1} << 40}) {
        SCOPED_TRACE(std::to_string(at));
        FaultFileSystem fs(oneFile());
        auto f = fs.open("/t/a", os::Access::ReadWrite, os::Share::Exclusive, os::Create::OpenExisting);
        try {
            write(*f, at, "x");
            ADD_FAILURE() << "the write went through";
        } catch (const os::OsError& e) {
            EXPECT_EQ(e.kind(), os::OsError::Kind::DiskFull);
        }
        EXPECT_THROW(f->truncate(at + 1), os::OsError);
        EXPECT_EQ(f->size(), 8u);
        f.reset();
        EXPECT_EQ(fs.current().files.at("/t/a"), bytes("original"));
    }
}

}  // namespace
}  // namespace atua::faults
