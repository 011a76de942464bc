// The two modal dialogs every part of the program uses: the information box and the
// confirmation dialog. Both are real dialogs of the program (not the system's message box), so
// their keys, access keys and result codes are the program's own.
#pragma once

#include <string_view>

#include "app/dialog_results.h"

namespace atua::app {

// The information box: the application title as caption, no icon, one "OK" button. Returns
// once it is dismissed, however that happens.
void ShowMessage(std::string_view text);

// The confirmation dialog: caption "Confirm", the question icon, "&Yes" and "&No". Returns
// mrYes, mrNo or mrClosed.
int MessageDlgConfirm(std::string_view question);

}  // namespace atua::app
