// The two modal dialogs every part of the program uses: the information box and the
// confirmation dialog. Both are real dialogs of the program (not the system's message box), so
// their keys, access keys and result codes are the program's own.
#pragma once

#include <string_view>

namespace atua::app {

// Dialog result codes.
inline constexpr int mrOk = 1;
inline constexpr int mrClosed = 2;  // title-bar close button, Alt+F4, or the quit message
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// The information box: the application title as caption, no icon, one "OK" button. Returns
// once it is dismissed, however that happens.
void ShowMessage(std::string_view text);

// The confirmation dialog: caption "Confirm", the question icon, "&Yes" and "&No". Returns
// mrYes, mrNo or mrClosed.
int MessageDlgConfirm(std::string_view question);

}  // namespace atua::app
