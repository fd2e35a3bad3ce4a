#pragma once
// A stand-in host for the contacts plug-in's Wine tests: it loads libArdena.dll once per process from the
// built plug-in folder, lends it the theme images of the built themes folder, keeps its registrations and
// records every request the plug-in sends (taking over the payloads as the host would), and offers the
// small steps the tests are made of: pages, host replies, clicks on controls found by id, list and tree
// reads, and a wait on a condition with a deadline. UI thread (the test's).

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "contact_records.h"
#include "image_cache.h"
#include "item_batch.h"
#include <wtl/window_text.h>

#include "probe_support.h"

namespace ardena_test {

// A request of the plug-in as the host received it.
struct HostRequest {
    int64_t code = 0;
    int64_t count = 0;
    HWND window = nullptr;
    std::vector<std::wstring> identifiers;   // 2, 3, 4: of the records; 6: the list; 19: the group's
    std::shared_ptr<iOSContact> contact;     // 10, 11
    std::shared_ptr<iOSContactGroup> group;  // 17, 18
};

struct Harness {
    HMODULE library = nullptr;
    ModuleRecord record{};
    HWND parent = nullptr;
    std::vector<CommandMessage> registrations;
    std::vector<HostRequest> requests;
    // Called after a request is recorded (the editor tests answer saves from here).
    std::function<void(const HostRequest&)> onRequest;

    static Harness& Get();
};

// The theme images of the built themes folder, loaded once and lent to every plug-in the tests load.
ImageCache* ThemeImages();

// Dispatches every message queued for this thread.
void Pump();
// Pumps until `condition` holds or `timeoutMs` passes; the condition's last answer.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// A page for `key` made (and shown) in the harness's parent at `rect`.
HWND ShowPage(const wchar_t* key, const RECT& rect = RECT{0, 0, 900, 520});
// Delivers ARDENA_COMMAND_DO_CONTACT with `code` and `extra` for `key`, then pumps.
void Reply(const wchar_t* key, int64_t code, void* extra = nullptr);

std::shared_ptr<iOSContact> Contact(const wchar_t* id, const wchar_t* first, const wchar_t* last,
                                    const wchar_t* phone = L"");
ItemBatch<iOSContact>* ContactBatch(int64_t sequence, const std::vector<std::shared_ptr<iOSContact>>& contacts);
std::shared_ptr<iOSContactGroup> Group(const wchar_t* id, const wchar_t* name, std::vector<std::wstring> members);
ItemBatch<iOSContactGroup>* GroupBatch(int64_t sequence, const std::vector<std::shared_ptr<iOSContactGroup>>& groups);

// Controls.
HWND Child(HWND page, int id);
// A press on an owner-drawn button (reported at button-down), then pumped.
void Press(HWND button);
// The same press without pumping: for timer steps inside a modal loop, whose own loop delivers the click.
using probe::CellText;
using probe::PressLater;
using probe::RowCount;
std::vector<std::wstring> Column(HWND list, int column);
bool IsRowChecked(HWND list, int row);
bool IsRowSelected(HWND list, int row);
// A click in the row's check column, or in its name column (the page previews the row).
void ClickCheck(HWND list, int row);
void ClickRow(HWND list, int row);
std::wstring PreviewText(HWND page);
std::vector<std::wstring> TreeTexts(HWND tree);
HTREEITEM TreeItem(HWND tree, int index);
using wtl::WindowText;
// The first visible top-level window of `className` that belongs to this process, or null.
HWND FindTopLevel(const wchar_t* className, const wchar_t* title = nullptr);

// Runs `step` on a timer of this thread every 20 ms until it returns true or `timeoutMs` passes; used to act
// inside the modal loops (menus, dialogs) that a press starts. Owned by the caller; stops when destroyed.
class TimerDriver {
public:
    TimerDriver(std::function<bool()> step, int timeoutMs);
    ~TimerDriver();
    bool Finished() const { return m_finished; }
    bool TimedOut() const { return m_timedOut; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    std::function<bool()> m_step;
    std::chrono::steady_clock::time_point m_deadline;
    UINT_PTR m_timer = 0;
    bool m_finished = false;
    bool m_timedOut = false;
    bool m_running = false;
};

// Queues the keys that choose the `index`-th entry (from 0) of the next popup menu: posted before the press
// that opens the menu, they are the first input its loop reads. `window` is any window of this thread.
void QueueMenuChoice(HWND window, int index);

// A shell drop of `paths` as the shell hands one over (the receiver ends it with DragFinish).
HDROP MakeDrop(const std::vector<std::wstring>& paths);

// Records the entries of every popup menu this thread opens (WM_INITMENUPOPUP), while it exists.
class MenuSpy {
public:
    MenuSpy();
    ~MenuSpy();
    const std::vector<std::vector<std::wstring>>& Menus() const { return m_menus; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook = nullptr;
    std::vector<std::vector<std::wstring>> m_menus;
};

}  // namespace ardena_test
