// Window enumeration with a callable: f(hwnd) returns true to go on, false to stop. The thunk is
// a real CALLBACK function, as the 32-bit calling convention requires.
#pragma once

#include <windows.h>

#include <utility>

namespace atua::app {

namespace detail {
template <class F>
BOOL CALLBACK EnumThunk(HWND hwnd, LPARAM p) {
    return (*reinterpret_cast<F*>(p))(hwnd) ? TRUE : FALSE;
}
}  // namespace detail

// Top-level windows of the calling thread.
template <class F>
void ForEachThreadWindow(F f) {
    EnumThreadWindows(GetCurrentThreadId(), detail::EnumThunk<F>, reinterpret_cast<LPARAM>(&f));
}

// Descendants of parent.
template <class F>
void ForEachChildWindow(HWND parent, F f) {
    EnumChildWindows(parent, detail::EnumThunk<F>, reinterpret_cast<LPARAM>(&f));
}

// Top-level windows of the desktop.
template <class F>
void ForEachTopLevelWindow(F f) {
    EnumWindows(detail::EnumThunk<F>, reinterpret_cast<LPARAM>(&f));
}

}  // namespace atua::app
