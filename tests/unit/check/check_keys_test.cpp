// How the checker orders alpha keys: byte order for 'ascii' sort orders, Windows-1252 upper case
// for case-insensitive indexes, and only collation-neutral differences for other sort orders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/check/keys.h"

namespace atua::check {
namespace {

struct KeyCase {
    const char* a;
    const char* b;
    bool binary;
    bool caseInsensitive;
    Verdict expected;
};

class AlphaOrder : public ::testing::TestWithParam<KeyCase> {};

TEST_P(AlphaOrder, Compares) {
    const KeyCase& c = GetParam();
    KeyLayout layout;
    layout.parts.push_back({0, 8, true, false});
    layout.size = 8;
    std::uint8_t a[8] = {}, b[8] = {};
    std::memcpy(a, c.a, std::strlen(c.a));
    std::memcpy(b, c.b, std::strlen(c.b));
    EXPECT_EQ(compareKeys(a, b, layout, Ordering{c.binary, c.caseInsensitive}), c.expected) << c.a << " / " << c.b;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AlphaOrder,
    ::testing::Values(
        // 'ascii' sort orders: bytes, upper case before lower case; shorter first.
        KeyCase{"ABC", "abc", true, false, Verdict::Less}, KeyCase{"abc", "ABD", true, false, Verdict::Greater},
        KeyCase{"AB", "ABC", true, false, Verdict::Less}, KeyCase{"12.3", "12.3", true, false, Verdict::Equal},
        // Case-insensitive: Windows-1252 upper case, accented letters included.
        KeyCase{"abc", "ABC", true, true, Verdict::Equal}, KeyCase{"abc", "ABD", true, true, Verdict::Less},
        KeyCase{"\xE7\xE3o", "\xC7\xC3O", true, true, Verdict::Equal},  // "ção" / "ÇÃO"
        KeyCase{"\xFF", "\x9F", true, true, Verdict::Equal},            // ÿ / Ÿ
        KeyCase{"\xF7", "\xD7", true, true, Verdict::Greater},          // ÷ is not ×'s lower case
        // Unknown collations: digits and different letters decide; case and accents do not.
        KeyCase{"12.345", "12.346", false, false, Verdict::Less}, KeyCase{"ab", "AC", false, false, Verdict::Less},
        KeyCase{"B", "a", false, false, Verdict::Greater}, KeyCase{"a", "A", false, false, Verdict::Unknown},
        KeyCase{"1", "A", false, false, Verdict::Unknown}, KeyCase{"e", "\xE9", false, false, Verdict::Unknown},
        KeyCase{"a-1", "a.1", false, false, Verdict::Unknown}, KeyCase{"a", "A", false, true, Verdict::Equal},
        KeyCase{"Ab", "aB", false, false, Verdict::Unknown}, KeyCase{"aB1", "Ab2", false, false, Verdict::Less}));

TEST(KeyOrder, NumbersAndDescendingParts) {
    // A long key (sign bit toggled, big-endian) then a descending alpha part.
    KeyLayout layout;
    layout.parts.push_back({0, 4, false, false});
    layout.parts.push_back({4, 2, true, true});
    layout.size = 6;
    const std::uint8_t minusOne[6] = {0x7F, 0xFF, 0xFF, 0xFF, 'A', 0};
    const std::uint8_t one[6] = {0x80, 0x00, 0x00, 0x01, 'A', 0};
    const std::uint8_t oneB[6] = {0x80, 0x00, 0x00, 0x01, 'B', 0};
    const Ordering bytes{true, false};
    EXPECT_EQ(compareKeys(minusOne, one, layout, bytes), Verdict::Less);
    EXPECT_EQ(compareKeys(one, oneB, layout, bytes), Verdict::Greater);
    EXPECT_EQ(compareKeys(one, one, layout, bytes), Verdict::Equal);
    EXPECT_EQ(showKey(minusOne, layout.prefix(1), {}), "7fffffff");
}

TEST(SortOrders, OnlyAsciiTypesAreBinary) {
    EXPECT_TRUE(binarySortOrder("ascii"));
    EXPECT_TRUE(binarySortOrder("DBWINUS0"));
    EXPECT_FALSE(binarySortOrder("ANSIINTL"));
    EXPECT_FALSE(binarySortOrder("ANSII850"));
    EXPECT_FALSE(binarySortOrder("intl"));
}

}  // namespace
}  // namespace atua::check
