#pragma once
// Window geometry helpers. UI thread.

#include <windows.h>

#include "vornel_export.h"

class VNL_API VNLUtilityWindow {
public:
    // The window's rectangle in its parent's client coordinates (screen coordinates for a top-level
    // window); empty for an invalid window.
    static RECT GetWindowRelativeRect(HWND window);
};
