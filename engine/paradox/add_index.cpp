#include "engine/paradox/add_index.h"

namespace atua::paradox {

void addIndex(os::FileSystem&, const std::string& path, const IndexRequest&, const EngineLimits&) {
    throw EDBEngineError("Adding an index to table " + path + " is not available in this build yet");
}

void recoverInterruptedUpdate(os::FileSystem&, const std::string&) {}

}  // namespace atua::paradox
