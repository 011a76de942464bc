// How text keys are ordered under a table's sort order (language driver), and when we may not
// know it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/paradox/header.h"
#include "engine/sortorder/sort_order.h"

namespace atua::paradox {

class Collation {
public:
    static Collation forTable(const TableHeader& h);

    // True when the driver orders text by plain byte value ('ascii'-type drivers).
    bool binary() const { return binary_; }
    // The published weights of the driver, or nullptr (a binary driver, or one not published).
    const sortorder::SortOrder* weighed() const { return weighed_; }
    int codePage() const { return codePage_; }
    const std::string& name() const { return name_; }
    // Case folding used for case-insensitive keys: the driver's own upper-case map where it is
    // published, otherwise the code page's.
    std::uint8_t fold(std::uint8_t c) const { return upper_[c]; }
    void foldInPlace(std::span<std::uint8_t> text) const {
        for (auto& c : text) c = upper_[c];
    }
    // For two sorted adjacent keys whose first difference is the bytes a < b (already folded
    // when the key is case-insensitive): is byte order certainly the driver's order here?
    bool pairIsSafe(std::uint8_t a, std::uint8_t b, bool caseInsensitive) const;

private:
    bool binary_ = false;
    const sortorder::SortOrder* weighed_ = nullptr;
    int codePage_ = 0;
    bool foldKnown_ = false;  // the code page's upper-casing is known for every byte
    std::string name_;
    std::array<std::uint8_t, 256> upper_{};
};

}  // namespace atua::paradox
