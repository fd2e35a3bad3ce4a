#pragma once
// What the Wine tests of the host's dialogs share: a bus with the host's table and the theme images, a
// main frame (window 1, runs WM_RUN_TASK) and main view (window 2) on screen, answering a modal dialog
// from inside its loop, reading its windows, pumping messages for a while, and screenshots of a window
// saved as BMP files under TRV_SCREENSHOT_DIR. UI thread of the test.

#include <windows.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "command_bus.h"

namespace dialog_test {

class HostWindows : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Invokes the host handler of `name`, as a module does.
    static void Invoke(const char* name, CommandMessage& message);

    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_current{m_bus};
    HWND m_frame = nullptr;
    HWND m_view = nullptr;
};

// Calls `answer` with the first visible dialog (class "#32770") of this thread once it is on screen and
// painted; the call runs from a timer, so from inside the modal loop of the dialog. One answer at a time.
void WhenDialogShows(std::function<void(HWND dialog)> answer);
// Whether an answer is still waiting for its dialog.
bool AnswerPending();

// Runs this thread's messages for `ms` milliseconds, or until `done` is true (checked after each message).
void Pump(int ms, const std::function<bool()>& done = nullptr);

std::wstring TextOf(HWND window);
RECT ClientRectIn(HWND child, HWND parent);  // the child's rectangle in the parent's client coordinates
SIZE SizeOf(HWND window);
// A press of an owner-drawn button as the mouse gives it (the buttons act on the button going down), and
// the messages it posts run.
void Press(HWND dialog, int id);
// Types `text` into an edit box character by character, as the keyboard does.
void Type(HWND edit, const std::wstring& text);

// The first and one past the last client x of `window` at which the screen shows `ink` (within a small
// distance on each channel, the core of smoothed glyphs; the one-pixel frame at either side is left out) in the
// client rows [top, bottom): the extent of what was drawn there in that colour; {0, 0} when nothing.
struct InkSpan {
    int left = 0;
    int right = 0;
    int Width() const { return right - left; }
};
InkSpan InkIn(HWND window, int top, int bottom, COLORREF ink);
// Width and height of `text` in `font`, as a dialog measures it.
SIZE TextSize(HFONT font, const std::wstring& text);

// Saves what the screen shows of `window` (and 8 pixels around it) as <TRV_SCREENSHOT_DIR>\<name>.bmp.
void Screenshot(HWND window, const std::wstring& name);

}  // namespace dialog_test
