// Little-endian header integers and the Paradox "sortable" field encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace atua::paradox {

inline std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline void put16(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A Paradox Short as stored in records and index entries: big-endian, top bit toggled.
inline void putShortField(std::span<std::uint8_t> b, std::size_t at, std::int16_t v) {
    auto u = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000u);
    b[at] = static_cast<std::uint8_t>(u >> 8);
    b[at + 1] = static_cast<std::uint8_t>(u);
}
inline std::int16_t shortField(std::span<const std::uint8_t> b, std::size_t at) {
    auto u = static_cast<std::uint16_t>(((b[at] << 8) | b[at + 1]) ^ 0x8000u);
    return static_cast<std::int16_t>(u);
}

}  // namespace atua::paradox
