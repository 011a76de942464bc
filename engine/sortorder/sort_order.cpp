#include "engine/sortorder/sort_order.h"

#include <algorithm>
#include <cstring>

namespace atua::sortorder {
namespace {

#include "engine/sortorder/sort_order_tables.inc"

std::size_t valueLength(std::span<const std::uint8_t> v) {
    std::size_t n = 0;
    while (n < v.size() && v[n] != 0) ++n;
    return std::min(n, SortOrder::kMaxValue);
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

using KeyBuffer = std::array<std::uint8_t, SortOrder::keyWidth(SortOrder::kMaxValue)>;

}  // namespace

SortOrder::SortOrder(const Table& t) : t_(&t) {
    for (int c = 1; c < 256; ++c) {
        const Weight& w = t.weights[static_cast<std::size_t>(c)];
        plain_[static_cast<std::size_t>(c)] = w.primary == c && w.secondary == 0 && w.second == 0 && t.upper[static_cast<std::size_t>(c)] == c;
    }
}

const SortOrder* SortOrder::find(std::string_view name, std::uint16_t codePage) {
    static const std::array<SortOrder, std::size(kTables)> orders = [] {
        return std::array<SortOrder, std::size(kTables)>{SortOrder(*kTables[0]), SortOrder(*kTables[1]), SortOrder(*kTables[2])};
    }();
    for (const SortOrder& o : orders)
        if (equalNoCase(o.name(), name) && (codePage == 0 || codePage == o.codePage())) return &o;
    return nullptr;
}

void SortOrder::sortKey(std::span<const std::uint8_t> value, bool caseInsensitive, std::uint8_t* out) const {
    const std::size_t width = keyWidth(value.size());
    const std::size_t n = valueLength(value);
    if (plain(value.first(n))) {
        std::memcpy(out, value.data(), n);
        std::memset(out + n, 0, width - n);
        return;
    }
    std::array<std::uint8_t, 2 * kMaxValue> secondaries;
    std::size_t p = 0, s = 0;
    auto put = [&](const Weight& w) {
        out[p++] = w.primary;
        if (w.secondary) secondaries[s++] = w.secondary;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = caseInsensitive ? t_->upper[value[i]] : value[i];
        const Weight& w = t_->weights[c];
        put(w);
        if (w.second) put(t_->weights[w.second]);
    }
    out[p++] = 0;  // below every primary: a value that runs out first sorts first
    std::memcpy(out + p, secondaries.data(), s);
    std::memset(out + p + s, 0, width - p - s);
}

int SortOrder::compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive) const {
    const std::size_t na = std::min(a.size(), kMaxValue), nb = std::min(b.size(), kMaxValue);
    if (plain(a.first(na)) && plain(b.first(nb))) {
        // Their own keys: the bytes up to the first NUL, a value that runs out first sorting first.
        const std::size_t la = valueLength(a), lb = valueLength(b);
        const int c = std::memcmp(a.data(), b.data(), std::min(la, lb));
        return c != 0 ? c : (la > lb) - (la < lb);
    }
    KeyBuffer ka, kb;
    sortKey(a.first(na), caseInsensitive, ka.data());
    sortKey(b.first(nb), caseInsensitive, kb.data());
    const std::size_t wa = keyWidth(na), wb = keyWidth(nb);
    // Keys are zero-padded: the shorter is compared as if padded further.
    const std::size_t w = std::max(wa, wb);
    std::fill(ka.begin() + static_cast<std::ptrdiff_t>(wa), ka.begin() + static_cast<std::ptrdiff_t>(w), 0);
    std::fill(kb.begin() + static_cast<std::ptrdiff_t>(wb), kb.begin() + static_cast<std::ptrdiff_t>(w), 0);
    return std::memcmp(ka.data(), kb.data(), w);
}

std::string SortOrder::openRule(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive) const {
    return openRule(a, b, caseInsensitive, compare(a, b, caseInsensitive));
}

std::string SortOrder::openRule(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive,
                                int order) const {
    const std::size_t na = valueLength(a), nb = valueLength(b);
    auto at = [&](std::span<const std::uint8_t> v, std::size_t i) { return caseInsensitive ? t_->upper[v[i]] : v[i]; };
    auto sameUpTo = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            if (at(a, i) != at(b, i)) return false;
        return true;
    };
    if (na == nb && sameUpTo(na)) return {};  // the same value (after upper-casing): the key decides
    std::size_t ta = na, tb = nb;
    while (ta > 0 && a[ta - 1] == ' ') --ta;
    while (tb > 0 && b[tb - 1] == ' ') --tb;
    if (ta == tb && sameUpTo(ta)) return "they differ only in trailing spaces";
    if (order == 0) return "they weigh alike at every level of the sort order";
    return {};
}

namespace {
// Code page 437 bytes 0x80..0xFF in Windows-1252 ('?': no such letter there).
constexpr char k437[] =
    "\xC7\xFC\xE9\xE2\xE4\xE0\xE5\xE7\xEA\xEB\xE8\xEF\xEE\xEC\xC4\xC5"
    "\xC9\xE6\xC6\xF4\xF6\xF2\xFB\xF9\xFF\xD6\xDC\xA2\xA3\xA5?\x83"
    "\xE1\xED\xF3\xFA\xF1\xD1\xAA\xBA\xBF?\xAC\xBD\xBC\xA1\xAB\xBB"
    "????????????????"
    "????????????????"
    "????????????????"
    "?\xDF????\xB5?????????"
    "?\xB1????\xF7?\xB0?\xB7??\xB2?\xA0";
static_assert(sizeof k437 == 129);
}  // namespace

std::string toWindows1252(std::span<const std::uint8_t> value, std::uint16_t codePage) {
    std::string out;
    for (std::uint8_t c : value) {
        if (c == 0) break;
        out += codePage == 437 && c >= 0x80 ? k437[c - 0x80] : static_cast<char>(c);
    }
    return out;
}

}  // namespace atua::sortorder
