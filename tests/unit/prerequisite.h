// For tests that need something from outside the repository (the reference files the original
// engine wrote, a tool): when it is absent the test is skipped with the reason, except under
// CI=true, where it fails, so a CI run never passes without what it was meant to test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace atua::test {

inline bool RunningInCi() {
    const char* ci = std::getenv("CI");
    return ci && (std::string_view(ci) == "true" || std::string_view(ci) == "1");
}

}  // namespace atua::test

// In a test body: REQUIRE_PREREQUISITE(present, "what is missing" << detail);
#define REQUIRE_PREREQUISITE(present, what)                    \
    if (present) {                                             \
    } else if (::atua::test::RunningInCi())                    \
        FAIL() << what << " (required under CI=true)";         \
    else                                                       \
        GTEST_SKIP() << what
