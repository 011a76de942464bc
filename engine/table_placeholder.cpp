#include "engine/table.h"

namespace atua {
namespace {
[[noreturn]] void unavailable() { throw EDBEngineError("The table engine is not available in this build"); }
}  // namespace
struct TTable::Impl {};
const TFieldDef* TFieldDefs::Find(std::string_view) const { return nullptr; }
TTable::TTable() : fs_(*static_cast<os::FileSystem*>(nullptr)) {}
TTable::TTable(os::FileSystem& fs) : fs_(fs) {}
TTable::~TTable() = default;
bool TTable::Active() const { return false; }
void TTable::SetActive(bool active) { if (active) unavailable(); }
void TTable::AddIndex(std::string_view, std::string_view, TIndexOptions, std::string_view) { unavailable(); }
void TTable::Refresh() { unavailable(); }
std::int64_t TTable::RecordCount() const { return 0; }
}  // namespace atua
