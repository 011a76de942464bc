// The published sort orders: pointed cases with the weight that decides each, and random values
// checked against a sort-key construction of this test's own.
#include "engine/sortorder/sort_order.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace atua::sortorder {
namespace {

std::span<const std::uint8_t> bytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

const SortOrder& order(const char* name) {
    const SortOrder* o = SortOrder::find(name);
    if (!o) throw std::runtime_error(std::string("no sort order ") + name);
    return *o;
}

int sign(int v) { return (v > 0) - (v < 0); }

struct Case {
    const char* order;
    std::string a, b;
    bool caseInsensitive;
    int expected;  // sign of compare(a, b)
    const char* why;
};

// Byte values in Windows-1252 (ANSIINTL, ANSII850) or code page 437 (intl).
const Case kCases[] = {
    // Digits, punctuation, space: bytes 1..64 weigh as themselves with no secondary.
    {"ANSIINTL", "12.345.678/0001-90", "12345678000190", false, -1, "'.' (primary 46) before '3' (51)"},
    {"ANSIINTL", "12.345.678/0001-90", "123.456.789-00", false, -1, "CNPJ before CPF: '.' before '3' at the third byte"},
    {"ANSIINTL", "12345678/0001-90", "12345678-0001", false, 1, "'/' (47) after '-' (45)"},
    {"ANSIINTL", "", " 1", false, -1, "a blank is shorter than anything"},
    {"ANSIINTL", " 123", "123", false, -1, "a leading space (32) before a digit"},
    {"ANSIINTL", "1234", "12345", false, -1, "the value that runs out first sorts first"},
    {"ANSIINTL", "99999999999999", "EXTERIOR", false, -1, "letters weigh after digits (A = 65 > 9 = 57)"},
    {"ANSIINTL", "12ABC34", "12abd34", false, -1, "primaries over the whole value: C < D decides before case"},
    // Case: the same primary, the secondary puts lower case first (bytes put upper case first).
    {"ANSIINTL", "isento", "ISENTO", false, -1, "lower case secondary 1 before upper case 6"},
    {"ANSIINTL", "ISENTO", "isentos", false, -1, "primaries first: the shorter value wins over the secondary"},
    {"ANSIINTL", "Isento", "iSento", false, 1, "first secondary difference decides: I (6) after i (1)"},
    {"ANSIINTL", "a", "_", false, -1, "'_' weighs after the letters (primary 97), unlike its byte 95"},
    {"ANSIINTL", "Z", "[", false, -1, "'[' weighs after Z"},
    // Accents: secondary only, after the primaries of the whole value.
    {"ANSIINTL", "e", "\xE9", false, -1, "e (secondary 1) before \xE9 (3)"},
    {"ANSIINTL", "\xC9" "a", "Eb", false, -1, "primary a < b decides before the accent of \xC9"},
    {"ANSIINTL", "S\xC3O", "SAO", false, 1, "\xC3 (secondary 10) after A (6)"},
    {"ANSIINTL", "\xC5", "Z", false, 1, "\xC5 has a primary of its own after Z"},
    // Expanding letters: two elements, the first with the letter's own secondary.
    {"ANSIINTL", "ae", "\xE4", false, -1, "\xE4 weighs a+e with secondary 11 against a's 1"},
    {"ANSIINTL", "\xE4", "af", false, -1, "\xE4 as a+e: e before f"},
    {"ANSIINTL", "ss", "\xDF", false, -1, "\xDF weighs s+s with secondary 3 against s's 1"},
    {"ANSIINTL", "\xDF", "st", false, -1, "\xDF as s+s: s before t"},
    // Upper-case quirks of the driver's map (case-insensitive).
    {"ANSIINTL", "\xE9", "E", true, 0, "\xE9 upper-cases to E: alike"},
    {"ANSIINTL", "\xE3", "\xC3", true, 0, "\xE3 upper-cases to \xC3"},
    {"ANSIINTL", "A", "\xE3", true, -1, "\xE3 becomes \xC3 (secondary 10), not A (6)"},
    {"ANSIINTL", "e", "\xC9", true, -1, "\xC9 stays \xC9 (secondary 8) while e becomes E (6)"},
    {"ANSIINTL", "\xFF", "Y", true, 0, "\xFF upper-cases to Y"},
    {"ANSIINTL", "isento", "ISENTO", true, 0, "case-insensitive: alike"},
    // ANSII850: other secondaries, the 1252 upper-case map.
    {"ANSII850", "\xAA", "b", false, -1, "\xAA weighs as an a"},
    {"ANSII850", "\xE3", "A", false, -1, "\xE3 (secondary 8) before A (9)"},
    {"ANSII850", "A", "\xE1", true, -1, "\xE1 upper-cases to \xC1 (secondary 11), not to A (9)"},
    {"ANSII850", "a", "_", false, -1, "'_' after the letters"},
    {"ANSII850", "ue", "\xFC", false, -1, "\xFC weighs u+e with secondary 9"},
    {"ANSII850", "12.345.678/0001-90", "123.456.789-00", false, -1, "punctuation and digits as bytes"},
    // intl, code page 437.
    {"intl", "c", "\x87", false, -1, "\x87 (c cedilla) has secondary 2 under C"},
    {"intl", "ue", "\x81", false, -1, "\x81 (u diaeresis) weighs u+e with secondary 6"},
    {"intl", "ss", "\xE1", false, -1, "\xE1 (sharp s) weighs s+s"},
    {"intl", "\xA4", "o", false, -1, "\xA4 (n tilde) weighs as an n"},
    {"intl", "\x82", "e", true, 0, "\x82 (e acute) upper-cases to E"},
    {"intl", "12.345.678/0001-90", "12345678000190", false, -1, "punctuation and digits as bytes"},
};

TEST(SortOrder, PointedCases) {
    for (const Case& c : kCases) {
        const SortOrder& o = order(c.order);
        EXPECT_EQ(sign(o.compare(bytes(c.a), bytes(c.b), c.caseInsensitive)), c.expected)
            << c.order << ": '" << c.a << "' vs '" << c.b << "': " << c.why;
        EXPECT_EQ(sign(o.compare(bytes(c.b), bytes(c.a), c.caseInsensitive)), -c.expected) << c.order << ": reversed, " << c.why;
    }
}

TEST(SortOrder, FindsThePublishedOrdersOnly) {
    EXPECT_NE(SortOrder::find("ansiintl"), nullptr);
    EXPECT_NE(SortOrder::find("ANSII850", 1252), nullptr);
    EXPECT_NE(SortOrder::find("intl", 437), nullptr);
    EXPECT_EQ(SortOrder::find("intl", 850), nullptr) << "the weights are for code page 437";
    EXPECT_EQ(SortOrder::find("ascii"), nullptr);
    EXPECT_EQ(SortOrder::find("DBWINUS0"), nullptr);
    EXPECT_EQ(SortOrder::find("nordan40"), nullptr);
}

TEST(SortOrder, PlainValuesAreTheirOwnKeys) {
    const SortOrder& o = order("ANSIINTL");
    std::string v = "12.345.678/0001-90";
    v.resize(20, '\0');
    std::vector<std::uint8_t> key(SortOrder::keyWidth(v.size()), 0xEE);
    ASSERT_TRUE(o.plain(bytes(v)));
    o.sortKey(bytes(v), true, key.data());
    EXPECT_EQ(std::string(key.begin(), key.begin() + 20), v);
    EXPECT_TRUE(std::all_of(key.begin() + 20, key.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_FALSE(o.plain(bytes("ISENTO")));
}

TEST(SortOrder, OpenRules) {
    const SortOrder& o = order("ANSIINTL");
    EXPECT_NE(o.openRule(bytes("ISENTO"), bytes("ISENTO "), false), "");
    EXPECT_EQ(o.openRule(bytes("ISENTO"), bytes("isento"), true), "") << "alike after upper-casing: the key decides";
    EXPECT_EQ(o.openRule(bytes("ISENTO"), bytes("isento"), false), "");
    EXPECT_EQ(o.openRule(bytes("ae"), bytes("\xE4"), false), "");
}

TEST(SortOrder, StoredValuesShownInWindows1252) {
    struct Shown {
        std::string stored;
        std::uint16_t codePage;
        std::string shown;
    } const cases[] = {
        {"Concei\x87\x84o", 437, "Concei\xE7\xE4o"},  // 437's c cedilla and a diaeresis
        {"\x90\xC9X", 437, "\xC9?X"},                  // 437 E acute; no 1252 letter for a box-drawing byte
        {"S\xC3O", 1252, "S\xC3O"},
        {std::string("AB\0CD", 5), 1252, "AB"},        // the value ends at its first NUL
    };
    for (const auto& c : cases) EXPECT_EQ(toWindows1252(bytes(c.stored), c.codePage), c.shown) << c.stored;
}

// The test's own construction: each byte (upper-cased first if asked) becomes one element
// (primary, secondary), or two for an expanding byte; values compare on their primary lists
// (a list that is a prefix of the other first), then on their secondary lists.
int reference(const Table& t, const std::string& a, const std::string& b, bool ci) {
    auto elements = [&](const std::string& v) {
        std::vector<std::pair<int, int>> out;
        for (char ch : v) {
            auto c = static_cast<std::uint8_t>(ch);
            if (c == 0) break;
            if (ci) c = t.upper[c];
            const Weight& w = t.weights[c];
            out.emplace_back(w.primary, w.secondary);
            if (w.second) out.emplace_back(t.weights[w.second].primary, t.weights[w.second].secondary);
        }
        return out;
    };
    auto ea = elements(a), eb = elements(b);
    for (std::size_t i = 0; i < std::min(ea.size(), eb.size()); ++i)
        if (ea[i].first != eb[i].first) return ea[i].first < eb[i].first ? -1 : 1;
    if (ea.size() != eb.size()) return ea.size() < eb.size() ? -1 : 1;
    for (std::size_t i = 0; i < ea.size(); ++i)
        if (ea[i].second != eb[i].second) return ea[i].second < eb[i].second ? -1 : 1;
    return 0;
}

TEST(SortOrder, AgreesWithAnIndependentConstruction) {
    struct Alphabet {
        const char* order;
        std::string bytes;
    };
    const Alphabet alphabets[] = {
        {"ANSIINTL", " -./0123456789AEISTaeist_[\xC1\xC3\xC4\xC5\xC7\xC9\xDF\xE1\xE3\xE4\xE7\xE9\xF5\xFC\xFF\xD7"},
        {"ANSII850", " -./0123456789AEISTaeist_[\xAA\xBA\xC1\xC3\xC4\xC5\xC6\xC7\xC9\xDE\xDF\xE1\xE3\xE4\xE6\xE7\xE9\xFE\xFC"},
        {"intl", " -./0123456789AEISTaeist_[\x80\x81\x82\x84\x87\x8E\x90\x91\x92\x99\x9A\xA0\xA4\xA5\xE1\xED"},
    };
    std::mt19937 rng(20260711);
    for (const Alphabet& al : alphabets) {
        const SortOrder& o = order(al.order);
        std::uniform_int_distribution<std::size_t> pick(0, al.bytes.size() - 1), len(0, 6);
        auto value = [&] {
            std::string v;
            for (std::size_t n = len(rng); n > 0; --n) v += al.bytes[pick(rng)];
            return v;
        };
        for (int i = 0; i < 20000; ++i) {
            std::string a = value(), b = (i % 4 == 0) ? a.substr(0, a.size() / 2) + value() : value();
            const bool ci = i % 2 == 1;
            ASSERT_EQ(sign(o.compare(bytes(a), bytes(b), ci)), reference(o.table(), a, b, ci))
                << al.order << (ci ? " (case-insensitive)" : "") << ": '" << a << "' vs '" << b << "'";
        }
    }
}

}  // namespace
}  // namespace atua::sortorder
