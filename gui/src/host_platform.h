#pragma once
// What the host's routing handlers need of the windowing system: rectangles of windows and of the work
// area, moving the main frame and placing the main view, the host's shared dialogs, posting to the main
// view and the section list's font. The Win32
// implementation serves the program; the native tests of the routing put a fake in its place, so that the
// handlers themselves are the same code in both builds.
//
// Threads: the handlers call it on whichever thread invoked them; the Win32 implementation only reads
// window geometry or posts when called off the UI thread, and the layout handlers run on the UI thread.

#include <cstdint>
#include <string>
#include <vector>

#include "command_message.h"
#include "page_records.h"
#include "wide_pair.h"

namespace trv {

class HostPlatform {
public:
    virtual ~HostPlatform() = default;
    // The client rectangle of `window` (left and top 0); all zero when the window is not there.
    virtual TrvRect ClientRect(TrvWindow window) = 0;
    // The main frame's (window 1) rectangle in screen coordinates.
    virtual TrvRect FrameRect() = 0;
    // The desktop work area of the monitor the frame is on, in screen coordinates.
    virtual TrvRect WorkArea() = 0;
    virtual void MoveFrame(const TrvRect& rect) = 0;
    // Gives the main view (window 2) the size at 0,0 and shows it.
    virtual void PlaceView(int32_t width, int32_t height) = 0;
    // Creates the host's shared dialogs on `view` and files them in the dialog registry.
    virtual void CreateHostDialogs(TrvWindow view) = 0;
    // Lays the notice sheet (dialog 2) out again after the view's size changed.
    virtual void LayOutNoticeSheet() = 0;
    // Shows `text` on the notice sheet.
    virtual void ShowNotice(const std::wstring& text) = 0;
    // Posts WM_POSTED_COMMAND with a copy of `name` and the plain value to the main view.
    virtual bool PostValueToView(const char* name, int32_t value) = 0;
    // The section list's font: the base library's "Arial" 16, borrowed.
    virtual void* SectionFont() = 0;

    // The questions of the feature relays and the backup manager. `owner` null: over the main view (window
    // 2). Without windows (native builds) nothing is shown and every question is answered "no".
    // A notice such as "Nothing is checked." (240 x 100, "OK").
    virtual void ShowAlert(const std::wstring& text, TrvWindow owner) {
        (void)text;
        (void)owner;
    }
    // A confirmation ("OK" and "Cancel"); true only when the user accepted.
    virtual bool Confirm(const std::wstring& question, int32_t width, int32_t height, TrvWindow owner) {
        (void)question;
        (void)width;
        (void)height;
        (void)owner;
        return false;
    }
    // The folder the user chooses; empty when none.
    virtual std::wstring ChooseFolder(TrvWindow owner, const std::wstring& title) {
        (void)owner;
        (void)title;
        return std::wstring();
    }
    // The files the user chooses in the open-file dialog; empty when none.
    virtual std::vector<std::wstring> ChooseFiles(const std::wstring& title, const std::wstring& filterName,
                                                  const std::wstring& pattern, bool multiple) {
        (void)title;
        (void)filterName;
        (void)pattern;
        (void)multiple;
        return {};
    }
    // The two-field input dialog ("OK", "Cancel", `height` high, 400 wide) with the labels `labels` (an
    // empty label hides its field) and the initial texts `entered`; true when the user confirmed, with
    // what was typed (untrimmed) in `entered`.
    virtual bool AskTwoTexts(const WideStringPair& labels, int32_t height, WideStringPair& entered) {
        (void)labels;
        (void)height;
        (void)entered;
        return false;
    }
    // The one-line input dialog (300 x 120) with `label`; true when the user confirmed, with what was
    // typed (untrimmed) in `entered`. A `masked` line (a password) shows a dot for each typed character.
    virtual bool AskLine(const std::wstring& label, TrvWindow owner, bool masked, std::wstring& entered) {
        (void)label;
        (void)owner;
        (void)masked;
        (void)entered;
        return false;
    }
};

// A copy of `text` on the shared C heap (malloc), for answers that the receiving module frees with free;
// null when memory runs out.
wchar_t* HeapWideCopy(const std::wstring& text);

// The platform of this process: the Win32 one in the program, a do-nothing one in native builds, or the
// one a test made current.
HostPlatform& CurrentHostPlatform();

// Makes `platform` current for its lifetime (tests only).
class ScopedHostPlatform {
public:
    explicit ScopedHostPlatform(HostPlatform& platform);
    ~ScopedHostPlatform();
    ScopedHostPlatform(const ScopedHostPlatform&) = delete;
    ScopedHostPlatform& operator=(const ScopedHostPlatform&) = delete;

private:
    HostPlatform* m_previous;
};

}  // namespace trv
