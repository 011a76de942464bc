// Every kept fuzz input, run through the same target function as the fuzzer runs it. Under the
// sanitizer build this is the AddressSanitizer/UndefinedBehaviorSanitizer replay.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/fuzz/targets.h"

namespace atua::fuzz {
namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    std::function<std::string(const std::uint8_t*, std::size_t)> run;
};

void replayFolder(const Target& t, const fs::path& dir) {
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    int inputs = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(t.run(bytes.data(), bytes.size()), "") << e.path().filename();
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << "no kept inputs in " << dir;
}

class Replay : public ::testing::TestWithParam<Target> {};

TEST_P(Replay, EveryKeptInputRunsClean) { replayFolder(GetParam(), fs::path(ATUA_FUZZ_INPUTS) / GetParam().name); }

INSTANTIATE_TEST_SUITE_P(Targets, Replay,
                         ::testing::Values(Target{"openTable", openTable}, Target{"indexFile", indexFile},
                                           Target{"recovery", recovery}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace atua::fuzz
