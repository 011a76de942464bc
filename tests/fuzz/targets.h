// The fuzz targets: each takes one input and returns what went wrong ("" when nothing did).
// The libFuzzer drivers abort on a non-empty answer; the replay test reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace atua::fuzz {

// The input is a whole movimento.db: open, refresh and close it, then add both indexes (with a
// sort budget small enough to spill runs). Every refusal must be the engine's own exception,
// name the table and leave every file as it was; what the engine writes must open again.
std::string openTable(const std::uint8_t* data, std::size_t size);

// The first byte picks one file of a keyed movement table's family (.PX, .XG0, .YG0, .X02,
// .Y02; its remainder by 5) and one of the three additions the family holds (the quotient), the
// rest replaces the file. The checker reads the whole family, then the engine makes that addition
// again (rebuilding or refusing what it finds).
std::string indexFile(const std::uint8_t* data, std::size_t size);

// The input is a journal left by an interrupted switch (made intact when the first byte is
// even), beside temporary files and a file of another table; opening the table recovers.
// Nothing outside the table's own family may be touched.
std::string recovery(const std::uint8_t* data, std::size_t size);

// The keyed family the index-file and recovery targets start from: file name -> bytes.
std::map<std::string, std::vector<std::uint8_t>> baseFamily();
// The index-file target's member names, in selector order.
std::vector<std::string> familyMembers();

}  // namespace atua::fuzz
