// The POSIX file layer: 64-bit offsets and folder listings whatever the width of the build.
#include <gtest/gtest.h>

#include <string>

#include "engine/os/file_system.h"
#include "test_support.h"

namespace atua::test {
namespace {

// A sparse file written and read at offsets that do not fit 32 bits (a 32-bit off_t would put
// them near the start of the file).
TEST(PosixFileSystem, OffsetsPastFourGiBReachTheirPlace) {
    TempDir dir;
    auto& fs = os::realFileSystem();
    const std::string path = dir.file("big.db");
    const std::uint64_t far = (std::uint64_t{1} << 32) + 5;
    const Bytes mark = {'a', 'b', 'c'};
    {
        auto f = fs.open(path, os::Access::ReadWrite, os::Share::Exclusive, os::Create::CreateNew);
        f->writeAt(far, mark);
        EXPECT_EQ(f->size(), far + mark.size());
        Bytes back(3), start(8, 0xEE);
        f->readAt(far, back);
        EXPECT_EQ(back, mark);
        f->readAt(0, start);
        EXPECT_EQ(start, Bytes(8, 0)) << "the write landed near the start of the file";
        f->truncate(far);
        EXPECT_EQ(f->size(), far);
    }
    EXPECT_EQ(fs.list(dir.path().string()), std::vector<std::string>{"big.db"});
}

}  // namespace
}  // namespace atua::test
