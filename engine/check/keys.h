// How the checker compares keys: field by field over the bytes as stored.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/check/paradox_file.h"
#include "engine/sortorder/sort_order.h"

namespace atua::check {

// Windows-1252 upper case (a-z, the accented letters, š œ ž ÿ).
std::uint8_t upper1252(std::uint8_t c);

// 'ascii'-type sort orders (plain byte order); for all others the collation's weights are unknown.
bool binarySortOrder(const std::string& sortOrder);

struct KeyPart {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    bool alpha = false;
    bool descending = false;
};

struct KeyLayout {
    std::vector<KeyPart> parts;
    std::uint32_t size = 0;  // bytes of the whole key
    // The first `count` fields of a record with these fields.
    static KeyLayout leading(const std::vector<Field>& fields, std::size_t count);
    KeyLayout prefix(std::size_t count) const;
};

struct Ordering {
    bool binary = true;         // the sort order is plain byte order
    bool caseInsensitive = false;  // alpha parts compared after upper-casing
    // The published weights of the sort order (the engine's own comparison); nullptr when the
    // order is binary or its weights are not published.
    const sortorder::SortOrder* weights = nullptr;
};

// The ordering of a table's alpha keys under its sort order (name and code page of its header).
Ordering orderingFor(const std::string& sortOrder, std::uint16_t codePage);

enum class Verdict { Less, Equal, Greater, Unknown };

// a versus b. With a binary sort order the answer is always known. With published weights alpha
// parts are compared as the engine compares them, and a pair whose order rests on a rule the
// published material leaves open is Unknown. With another sort order an alpha difference is
// decided only where it is collation-neutral: the first differing bytes that are not the same
// ASCII letter in another case are two ASCII digits, or two different ASCII letters; anything
// else (punctuation, accents, a difference of case alone) is Unknown.
Verdict compareKeys(const std::uint8_t* a, const std::uint8_t* b, const KeyLayout& layout,
                    const Ordering& ordering);

std::string showKey(const std::uint8_t* key, const KeyLayout& layout, const std::vector<Field>& fields);

}  // namespace atua::check
