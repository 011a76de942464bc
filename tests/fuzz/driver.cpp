// libFuzzer entry for one target, chosen at compile time (ATUA_FUZZ_TARGET).
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem = atua::fuzz::ATUA_FUZZ_TARGET(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "FAULT: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
