#include "engine/paradox/collation.h"

#include "engine/paths.h"

namespace atua::paradox {
namespace {

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool isUpper(std::uint8_t c) { return c >= 'A' && c <= 'Z'; }
bool isLower(std::uint8_t c) { return c >= 'a' && c <= 'z'; }
bool isLetter(std::uint8_t c) { return isUpper(c) || isLower(c); }

// Drivers whose order is the byte order of the code page: Paradox 'ascii' (DOS) and its ANSI
// counterpart DBWINUS0.
bool isBinaryDriver(const std::string& name) {
    return paths::equalsNoCase(name, "ascii") || paths::equalsNoCase(name, "DBWINUS0");
}

}  // namespace

Collation Collation::forTable(const TableHeader& h) {
    Collation c;
    c.name_ = h.sortOrderName;
    c.binary_ = isBinaryDriver(h.sortOrderName);
    for (int i = 0; i < 256; ++i) c.upper_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    for (int i = 'a'; i <= 'z'; ++i) c.upper_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i - 32);
    if (h.codePage == 1252) {
        // Windows-1252 upper-casing: the Latin-1 letters, plus s/z/oe with caron/ligature and y diaeresis.
        for (int i = 0xE0; i <= 0xFE; ++i)
            if (i != 0xF7) c.upper_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i - 32);
        c.upper_[0x9A] = 0x8A;
        c.upper_[0x9C] = 0x8C;
        c.upper_[0x9E] = 0x8E;
        c.upper_[0xFF] = 0x9F;
        c.foldKnown_ = true;
    }
    c.codePage_ = h.codePage;
    if (!c.binary_) c.weighed_ = sortorder::SortOrder::find(h.sortOrderName, static_cast<std::uint16_t>(h.codePage));
    if (c.weighed_) {
        for (int i = 0; i < 256; ++i) c.upper_[static_cast<std::size_t>(i)] = c.weighed_->upper(static_cast<std::uint8_t>(i));
        c.foldKnown_ = true;
    }
    return c;
}

bool Collation::pairIsSafe(std::uint8_t a, std::uint8_t b, bool caseInsensitive) const {
    if (binary_) return !caseInsensitive || foldKnown_ || (a < 0x80 && b < 0x80);
    // Unknown weights: only differences that every dictionary order ranks like bytes.
    if (isDigit(a) && isDigit(b)) return true;
    if (isUpper(a) && isUpper(b)) return true;
    if (isLower(a) && isLower(b)) return true;
    if (a == 0 && (isDigit(b) || isLetter(b))) return true;  // a shorter value first
    return false;
}

}  // namespace atua::paradox
