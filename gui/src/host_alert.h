#pragma once
// The host's notices shown before or outside the main window (configuration failure, crash report): a
// modal UiAlertDialog with the alert icon and one button, its images taken from the ImageCache. UI
// thread, or the crashing thread inside the crash filter.

#include <windows.h>

#include <string>

namespace trv {

struct AlertRequest {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring button = L"OK";
    int width = 0;
    int height = 0;
    bool centre = false;
};

// Shows the notice modally; returns the id of the control that closed it (5050 or 5051).
INT_PTR ShowHostAlert(const AlertRequest& request);

}  // namespace trv
