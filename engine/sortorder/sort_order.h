// The order of text under the Paradox sort orders (language drivers) whose tables were
// published: a multi-level comparison over per-byte weights. A standalone module, so that the
// engine, the checker and the lookups order alpha keys with one and the same comparison.
//
// The comparison, as the published driver algorithm defines it: every byte has a primary
// weight (its base letter: a = A = á = Ã), an optional secondary weight (case and accent) and
// may expand to two weighted elements (ä as a+e). Two values are compared on their primaries
// over the whole value first (a value that runs out first is the smaller), then on their
// secondaries, position by position. A case-insensitive key is upper-cased through the driver's
// own map before it is weighed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace atua::sortorder {

struct Weight {
    std::uint8_t primary = 0;    // 0 only for byte 0
    std::uint8_t secondary = 0;  // 0 = none
    std::uint8_t second = 0;     // the byte whose weights an expanding byte's second half takes; 0 = none
};

struct Table {
    const char* name;
    std::uint16_t codePage;
    const char* source;  // the published file the data comes from
    std::array<Weight, 256> weights;
    std::array<std::uint8_t, 256> upper;
    std::array<std::uint8_t, 256> lower;
};

class SortOrder {
public:
    // The published sort order with that name (any case), or nullptr. A code page other than the
    // table's (0 = not recorded) finds nothing: the weights are per code page.
    static const SortOrder* find(std::string_view name, std::uint16_t codePage = 0);

    std::string_view name() const { return t_->name; }
    std::uint16_t codePage() const { return t_->codePage; }
    const Table& table() const { return *t_; }
    std::uint8_t upper(std::uint8_t c) const { return t_->upper[c]; }
    std::uint8_t lower(std::uint8_t c) const { return t_->lower[c]; }

    // Longest values: Paradox alpha fields hold at most 255 bytes.
    static constexpr std::size_t kMaxValue = 255;
    // Bytes of the sort key of a value of `size` bytes: primaries (two per expanding byte), an
    // end mark, secondaries.
    static constexpr std::size_t keyWidth(std::size_t size) { return 4 * size + 1; }

    // Writes the sort key of `value` (up to its first NUL) to out[0, keyWidth(value.size())),
    // zero-padded. Keys compared as bytes order values as the driver does. caseInsensitive:
    // the value is upper-cased through the driver's map first.
    void sortKey(std::span<const std::uint8_t> value, bool caseInsensitive, std::uint8_t* out) const;

    // True when the sort key of `value` is the value itself, zero-padded: every byte before the
    // first NUL weighs as itself, has no secondary weight and is its own upper case (controls,
    // space, punctuation, digits and @ in every published table).
    bool plain(std::span<const std::uint8_t> value) const {
        for (std::uint8_t c : value) {
            if (c == 0) return true;
            if (!plain_[c]) return false;
        }
        return true;
    }

    // <0, 0, >0: a before, alike, after b.
    int compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive) const;

    // When the order of a and b rests on a rule the published material leaves open, what it is;
    // otherwise empty. Open: values that differ but weigh alike at every level (the driver's
    // last tie-break between an expansion and its spelled-out form is not in the key order we
    // can confirm), and values that differ only in trailing spaces (whether the engine pads with
    // spaces is not published).
    std::string openRule(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive) const;
    // The same when compare(a, b, caseInsensitive) is known already.
    std::string openRule(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, bool caseInsensitive, int order) const;

private:
    explicit SortOrder(const Table& t);
    const Table* t_;
    std::array<bool, 256> plain_{};
};

// A stored value as Windows-1252 text (what the program's messages are made of): bytes of code
// page 437 become their Windows-1252 letter where it has one and '?' where not; other code pages
// are taken as Windows-1252. The value ends at its first NUL.
std::string toWindows1252(std::span<const std::uint8_t> value, std::uint16_t codePage);

}  // namespace atua::sortorder
