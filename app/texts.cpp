// Compiled with the execution character set Windows-1252.
#include "app/startup.h"

namespace atua::app {

// "N.º": the masculine ordinal indicator, byte 0xBA.
const std::string& ApplicationTitle() {
    static const std::string title = "Atualização N.º 01 TARVO";
    return title;
}

}  // namespace atua::app
