#include "engine/check/keys.h"

#include <algorithm>
#include <cstring>

namespace atua::check {

std::uint8_t upper1252(std::uint8_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<std::uint8_t>(c - 0x20);
    switch (c) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: return c;
    }
}

bool binarySortOrder(const std::string& s) {
    std::string u;
    for (char c : s) u.push_back(static_cast<char>(upper1252(static_cast<std::uint8_t>(c))));
    return u == "ASCII" || u == "DBWINUS0";
}

Ordering orderingFor(const std::string& sortOrder, std::uint16_t codePage) {
    Ordering o;
    o.binary = binarySortOrder(sortOrder);
    if (!o.binary) o.weights = sortorder::SortOrder::find(sortOrder, codePage);
    return o;
}

KeyLayout KeyLayout::leading(const std::vector<Field>& fields, std::size_t count) {
    KeyLayout k;
    for (std::size_t i = 0; i < count && i < fields.size(); ++i) {
        KeyPart p;
        p.offset = k.size;
        p.size = static_cast<std::uint32_t>(fields[i].stored);
        p.alpha = fields[i].type == 0x01;
        p.descending = (static_cast<std::uint16_t>(fields[i].number) & 0x8000u) != 0;
        k.parts.push_back(p);
        k.size += p.size;
    }
    return k;
}

KeyLayout KeyLayout::prefix(std::size_t count) const {
    KeyLayout k;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        k.parts.push_back(parts[i]);
        k.size = parts[i].offset + parts[i].size;
    }
    return k;
}

namespace {
bool digit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool letter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
Verdict flip(Verdict v, bool descending) {
    if (!descending) return v;
    if (v == Verdict::Less) return Verdict::Greater;
    if (v == Verdict::Greater) return Verdict::Less;
    return v;
}
}  // namespace

Verdict compareKeys(const std::uint8_t* a, const std::uint8_t* b, const KeyLayout& layout,
                    const Ordering& o) {
    for (const KeyPart& p : layout.parts) {
        const std::uint8_t* x = a + p.offset;
        const std::uint8_t* y = b + p.offset;
        if (!p.alpha) {
            int c = std::memcmp(x, y, p.size);
            if (c != 0) return flip(c < 0 ? Verdict::Less : Verdict::Greater, p.descending);
            continue;
        }
        if (o.weights) {
            std::span<const std::uint8_t> vx(x, p.size), vy(y, p.size);
            const int c = o.weights->compare(vx, vy, o.caseInsensitive);
            if (!o.weights->openRule(vx, vy, o.caseInsensitive, c).empty()) return Verdict::Unknown;
            if (c != 0) return flip(c < 0 ? Verdict::Less : Verdict::Greater, p.descending);
            continue;
        }
        bool caseOnly = false;  // so far the part differs at most in the case of ASCII letters
        for (std::uint32_t i = 0; i < p.size; ++i) {
            std::uint8_t cx = o.caseInsensitive ? upper1252(x[i]) : x[i];
            std::uint8_t cy = o.caseInsensitive ? upper1252(y[i]) : y[i];
            if (cx == cy) continue;
            if (o.binary) return flip(cx < cy ? Verdict::Less : Verdict::Greater, p.descending);
            // A dictionary collation weighs letters before their case: a case difference
            // decides nothing yet, the next real difference does.
            if (letter(cx) && letter(cy) && upper1252(cx) == upper1252(cy)) {
                caseOnly = true;
                continue;
            }
            if (digit(cx) && digit(cy)) return flip(cx < cy ? Verdict::Less : Verdict::Greater, p.descending);
            if (letter(cx) && letter(cy))
                return flip(upper1252(cx) < upper1252(cy) ? Verdict::Less : Verdict::Greater, p.descending);
            return Verdict::Unknown;
        }
        if (caseOnly) return Verdict::Unknown;
    }
    return Verdict::Equal;
}

std::string showKey(const std::uint8_t* key, const KeyLayout& layout, const std::vector<Field>& fields) {
    std::string s;
    for (std::size_t i = 0; i < layout.parts.size(); ++i) {
        const KeyPart& p = layout.parts[i];
        const std::uint8_t* v = key + p.offset;
        if (!s.empty()) s += ", ";
        const std::uint8_t type = i < fields.size() ? fields[i].type : 0;
        if (std::all_of(v, v + p.size, [](std::uint8_t c) { return c == 0; })) {
            s += "(blank)";
        } else if (type == 0x01) {
            s += '"';
            for (std::uint32_t j = 0; j < p.size && v[j] != 0; ++j) s += static_cast<char>(v[j]);
            s += '"';
        } else if ((type == 0x04 || type == 0x16 || type == 0x02) && p.size == 4) {
            s += std::to_string(pdxLong(v));
        } else if (type == 0x03 && p.size == 2) {
            s += std::to_string(pdxShort(v));
        } else {
            static const char* hex = "0123456789abcdef";
            for (std::uint32_t j = 0; j < p.size; ++j) {
                s += hex[v[j] >> 4];
                s += hex[v[j] & 15];
            }
        }
    }
    return s;
}

}  // namespace atua::check
