// The result codes the information box and the confirmation dialog end with. Plain constants
// without any Windows header, so the update (built natively as well) uses the same ones.
#pragma once

namespace atua::app {

inline constexpr int mrOk = 1;
inline constexpr int mrClosed = 2;  // title-bar close button, Alt+F4, or the quit message
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

}  // namespace atua::app
