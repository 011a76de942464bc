// Window enumeration with a callable: f(hwnd) returns true to go on, false to stop. The thunk is
// a real CALLBACK function, as the 32-bit calling convention requires, and no exception crosses
// it: one thrown by f stops the enumeration and is thrown again once the system call returns.
#pragma once

#include <windows.h>

#include <exception>

namespace atua::app {

namespace detail {
template <class F>
struct Enumeration {
    F& f;
    std::exception_ptr error;
};

template <class F>
BOOL CALLBACK EnumThunk(HWND hwnd, LPARAM p) noexcept {
    auto& e = *reinterpret_cast<Enumeration<F>*>(p);
    try {
        return e.f(hwnd) ? TRUE : FALSE;
    } catch (...) {
        e.error = std::current_exception();
        return FALSE;
    }
}

template <class F, class Call>
void Enumerate(F& f, Call call) {
    Enumeration<F> e{f, nullptr};
    call(EnumThunk<F>, reinterpret_cast<LPARAM>(&e));
    if (e.error) std::rethrow_exception(e.error);
}
}  // namespace detail

// Top-level windows of the calling thread.
template <class F>
void ForEachThreadWindow(F f) {
    detail::Enumerate(f, [](WNDENUMPROC proc, LPARAM p) { EnumThreadWindows(GetCurrentThreadId(), proc, p); });
}

// Descendants of parent.
template <class F>
void ForEachChildWindow(HWND parent, F f) {
    detail::Enumerate(f, [parent](WNDENUMPROC proc, LPARAM p) { EnumChildWindows(parent, proc, p); });
}

// Top-level windows of the desktop.
template <class F>
void ForEachTopLevelWindow(F f) {
    detail::Enumerate(f, [](WNDENUMPROC proc, LPARAM p) { EnumWindows(proc, p); });
}

}  // namespace atua::app
