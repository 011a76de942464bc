#include <gtest/gtest.h>
#include "update/atualiza_movimento.h"
TEST(Placeholder, Builds) { EXPECT_EQ(atua::update::mrYes, 6); }
