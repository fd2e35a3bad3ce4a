#pragma once
// A theme colour from the user-defaults store "url" ("color:7", ...), or `fallback` when the store is not
// there or not read. UI thread.

#include <windows.h>

#include <vornel/VNLUserDefaults.h>

inline COLORREF ThemeColour(const char* key, COLORREF fallback) {
    VNLUserDefaults* theme = VNLUserDefaults::GetUserDefaults("url");
    return theme != nullptr && theme->IsOk() ? theme->GetRGB(key, fallback) : fallback;
}
