#pragma once
// The desktop's one way of reading a window's text into a string. Header-only, so that the test probes,
// which link nothing of the desktop, read texts the same way. UI thread (or any thread for a window of
// another process, as the probes read them).

#include <windows.h>

#include <string>

namespace wtl {

inline std::wstring WindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

}  // namespace wtl
