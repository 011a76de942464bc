// Printing the sheet on GDI.
#include "report/quickrep.h"

namespace atua::report {

void TQuickRep::Print() {
    if (producing_) return;
    throw EPrinter("Printing is not available in this build yet");
}

}  // namespace atua::report
