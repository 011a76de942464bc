#include "engine/check/index_seek.h"

#include <cctype>
#include <cstring>

namespace atua::check {
namespace {

std::string siblingWithExtension(const std::string& path, const std::string& ext) {
    const auto dot = path.rfind('.');
    const auto slash = path.find_last_of("/\\");
    const std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path : path.substr(0, dot);
    // Keep the case style of the table's own extension.
    const bool lower = dot != std::string::npos && dot + 1 < path.size() && std::islower(static_cast<unsigned char>(path[dot + 1]));
    std::string e = ext;
    if (lower)
        for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return stem + "." + e;
}

// Data block where the first record not below `search` may be: at each level the last entry
// whose key is below it (or the first entry).
std::uint32_t descend(ParadoxFile& tree, const KeyLayout& prefix, std::span<const std::uint8_t> search,
                      const Ordering& o, std::uint64_t& reads) {
    const Header& h = tree.header();
    if (h.levels == 0) return 0;
    std::uint32_t n = h.root;
    std::vector<std::uint8_t> buf;
    for (int level = h.levels; level >= 1; --level) {
        tree.block(n, buf);
        ++reads;
        const BlockHead bh = blockHead(buf);
        const int count = recordsInBlock(bh, h.recordSize);
        if (count <= 0) return 0;
        const std::size_t keySize = h.recordSize - 6u;
        const std::uint8_t* pick = buf.data() + 6;
        for (int i = 1; i < count; ++i) {
            const std::uint8_t* e = buf.data() + 6 + static_cast<std::size_t>(i) * h.recordSize;
            if (compareKeys(e, search.data(), prefix, o) != Verdict::Less) break;
            pick = e;
        }
        n = pdxBlockNumber(pick + keySize);
    }
    return n;
}

// Records from `start` on, along the chain, whose key prefix equals `search`.
std::vector<RecordBytes> collect(ParadoxFile& data, std::uint32_t start, const KeyLayout& prefix,
                                 std::span<const std::uint8_t> search, const Ordering& o, std::uint64_t& reads) {
    std::vector<RecordBytes> out;
    const std::size_t rs = data.header().recordSize;
    std::vector<std::uint8_t> buf;
    for (std::uint32_t n = start; n != 0;) {
        data.block(n, buf);
        ++reads;
        const BlockHead bh = blockHead(buf);
        const int count = recordsInBlock(bh, static_cast<std::uint32_t>(rs));
        for (int i = 0; i < count; ++i) {
            const std::uint8_t* rec = buf.data() + 6 + static_cast<std::size_t>(i) * rs;
            const Verdict v = compareKeys(rec, search.data(), prefix, o);
            if (v == Verdict::Equal) out.emplace_back(rec, rec + rs);
            else if (v == Verdict::Greater) return out;
        }
        n = bh.next;
    }
    return out;
}

}  // namespace

struct TableLookup::Secondary {
    ParadoxFile x;
    ParadoxFile y;
};

TableLookup::TableLookup(const std::string& tablePath)
    : db_(tablePath), px_(siblingWithExtension(tablePath, "PX")) {}

// The table's own order: binary, or the published weights of its sort order. Keys are looked up
// as the engine wrote them (an unpublished order is searched as bytes).
Ordering TableLookup::ordering(bool caseInsensitive) const {
    Ordering o = orderingFor(db_.header().sortOrder, db_.header().codePage);
    if (!o.weights) o.binary = true;
    o.caseInsensitive = caseInsensitive;
    return o;
}

std::optional<RecordBytes> TableLookup::byPrimaryKey(std::span<const std::uint8_t> key) {
    const KeyLayout pk = KeyLayout::leading(db_.header().fields, static_cast<std::size_t>(db_.header().keyFields));
    const Ordering o = ordering(false);
    const std::uint32_t start = descend(px_, pk, key, o, blocksRead_);
    if (start == 0) return std::nullopt;
    auto found = collect(db_, start, pk, key, o, blocksRead_);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<RecordBytes> TableLookup::bySecondary(const std::string& indexFile, std::span<const std::uint8_t> value,
                                                  bool caseInsensitive) {
    auto& open = secondaries_[indexFile];
    if (!open) {
        std::string treePath = indexFile;
        const auto dot = treePath.rfind('.');
        treePath[dot + 1] = treePath[dot + 1] == 'x' ? 'y' : 'Y';
        open = std::make_shared<Secondary>(Secondary{ParadoxFile(indexFile), ParadoxFile(treePath)});
    }
    ParadoxFile& x = open->x;
    ParadoxFile& y = open->y;
    const Header& xh = x.header();
    const int pkFields = db_.header().keyFields;
    const std::size_t m = xh.fields.size() - static_cast<std::size_t>(pkFields) - 1;
    const KeyLayout xl = KeyLayout::leading(xh.fields, static_cast<std::size_t>(xh.keyFields));
    const KeyLayout prefix = xl.prefix(m);
    const Ordering o = ordering(caseInsensitive);
    std::vector<RecordBytes> out;
    const std::uint32_t start = descend(y, prefix, value, o, blocksRead_);
    if (start == 0) return out;
    for (const RecordBytes& xr : collect(x, start, prefix, value, o, blocksRead_)) {
        const std::span<const std::uint8_t> key(xr.data() + prefix.size, xl.size - prefix.size);
        if (auto rec = byPrimaryKey(key)) out.push_back(std::move(*rec));
    }
    return out;
}

std::vector<RecordBytes> TableLookup::scan(int field, std::span<const std::uint8_t> value, bool caseInsensitive) {
    const Header& h = db_.header();
    std::uint32_t offset = 0;
    for (int i = 0; i + 1 < field; ++i) offset += static_cast<std::uint32_t>(h.fields[i].stored);
    KeyLayout one;
    one.parts.push_back({0, static_cast<std::uint32_t>(h.fields[field - 1].stored), h.fields[field - 1].type == 0x01, false});
    one.size = one.parts[0].size;
    const Ordering o = ordering(caseInsensitive);
    std::vector<RecordBytes> out;
    std::vector<std::uint8_t> buf;
    for (std::uint32_t n = h.firstBlock; n != 0;) {
        db_.block(n, buf);
        ++blocksRead_;
        const BlockHead bh = blockHead(buf);
        const int count = recordsInBlock(bh, h.recordSize);
        for (int i = 0; i < count; ++i) {
            const std::uint8_t* rec = buf.data() + 6 + static_cast<std::size_t>(i) * h.recordSize;
            if (compareKeys(rec + offset, value.data(), one, o) == Verdict::Equal) out.emplace_back(rec, rec + h.recordSize);
        }
        n = bh.next;
    }
    return out;
}

}  // namespace atua::check
