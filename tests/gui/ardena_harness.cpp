// The contacts plug-in's stand-in host; see ardena_harness.h.
#include "ardena_harness.h"

#include <objidl.h>
#include <shlobj.h>
#include <gdiplus.h>

#include <cstdlib>
#include <map>

#include "command_names.h"
#include "contact_codes.h"
#include "image_cache.h"
#include "wide_pair.h"
#include <wtl/window_text.h>

namespace ardena_test {
namespace {

std::map<UINT_PTR, TimerDriver*>& Drivers() {
    static auto* drivers = new std::map<UINT_PTR, TimerDriver*>();
    return *drivers;
}

// Takes over a request's payload as the host and the relay module would, keeping what the tests look at.
HostRequest Take(CommandMessage& message) {
    HostRequest request;
    request.code = message.code;
    request.count = message.count;
    request.window = message.window;
    switch (message.code) {
    case sdk::contacts::kRequestExportCsv:
    case sdk::contacts::kRequestBackupXml:
    case sdk::contacts::kRequestExportVcards: {
        std::unique_ptr<std::vector<iOSContact*>> records(static_cast<std::vector<iOSContact*>*>(message.data));
        if (records) {
            for (iOSContact* c : *records) request.identifiers.push_back(c != nullptr ? c->identifier : L"(null)");
        }
        break;
    }
    case sdk::contacts::kRequestDelete: {
        std::unique_ptr<std::vector<std::wstring>> ids(static_cast<std::vector<std::wstring>*>(message.data));
        if (ids) request.identifiers = *ids;
        break;
    }
    case sdk::contacts::kRequestSaveEdited:
    case sdk::contacts::kRequestSaveNew: request.contact.reset(static_cast<iOSContact*>(message.data)); break;
    case sdk::contacts::kRequestChangeGroup:
    case sdk::contacts::kRequestCreateGroup: request.group.reset(static_cast<iOSContactGroup*>(message.data)); break;
    case sdk::contacts::kRequestRemoveGroup:
        if (message.data != nullptr) {
            request.identifiers.push_back(static_cast<const wchar_t*>(message.data));
            std::free(message.data);
        }
        break;
    case sdk::contacts::kRequestCountries:
        if (message.data != nullptr) {
            auto* list = static_cast<std::vector<WideStringPair>*>(message.data);
            list->push_back({L"us", L"United States"});
            list->push_back({L"de", L"Germany"});
        }
        break;
    default: break;
    }
    return request;
}

Harness* g_harness = nullptr;  // set before the plug-in registers, which already sends

void __cdecl HostSend(CommandMessage* message) {
    if (g_harness == nullptr) return;
    Harness& harness = *g_harness;
    if (message->kind == COMMAND_KIND_REGISTER) {
        harness.registrations.push_back(*message);
        return;
    }
    if (message->name == nullptr || std::string(message->name) != ARDENA_COMMAND_DO_CONTACT) return;
    harness.requests.push_back(Take(*message));
    if (harness.onRequest) harness.onRequest(harness.requests.back());
}

}  // namespace

ImageCache* ThemeImages() {
    static ImageCache* cache = nullptr;
    if (cache != nullptr) return cache;
    auto* images = new ImageCache();  // lent to the plug-in for the life of the process
    // clang-format off
    const char* keys[] = {"common\\content-check-yes.png", "common\\content-check-no.png",
                          "contacts\\content-contacts-list.png", "contacts\\preview-contacts.png",
                          "contacts\\content-contacts-icloud.png", "contacts\\operate-expand-normal.png",
                          "contacts\\operate-expand-pressed.png", "contacts\\operate-shrink-normal.png",
                          "contacts\\operate-shrink-pressed.png", "contacts\\contact-edit-add-normal.png",
                          "contacts\\contact-edit-add-pressed.png", "contacts\\contact-edit-delete-normal.png",
                          "contacts\\contact-edit-delete-pressed.png", "common\\operate-add-normal.png",
                          "common\\operate-add-pressed.png", "common\\edit-normal.png", "common\\edit-pressed.png",
                          "common\\operate-export-normal.png", "common\\operate-export-pressed.png",
                          "common\\operate-import-normal.png", "common\\operate-import-pressed.png",
                          "common\\operate-delete-normal.png", "common\\operate-delete-pressed.png",
                          "common\\operate-refresh-normal.png", "common\\operate-refresh-pressed.png",
                          "common\\operate-search.png", "contacts\\operate-ok.png", "common\\close-normal.png",
                          "common\\close-pressed.png", "note\\content-notes-icloud.png", "bookmarks\\content-bookmarks-folder.png",
                          "bookmarks\\content-bookmarks-file.png", "bookmarks\\content-bookmarks-icloud.png"};
    // clang-format on
    for (const char* key : keys) {
        std::wstring path = std::wstring(TRV_APP_DIR) + L"\\themes\\";
        for (const char* p = key; *p; ++p) path.push_back(static_cast<wchar_t>(*p));
        auto* bitmap = Gdiplus::Bitmap::FromFile(path.c_str());
        if (bitmap != nullptr && bitmap->GetLastStatus() == Gdiplus::Ok) {
            (*images)[key] = bitmap;
        } else {
            delete bitmap;
        }
    }
    cache = images;
    return images;
}

Harness& Harness::Get() {
    static Harness* harness = [] {
        auto* h = new Harness();
        g_harness = h;
        h->library = LoadLibraryW((std::wstring(TRV_APP_DIR) + L"\\plugins\\Ardena\\libArdena.dll").c_str());
        auto registerModule = reinterpret_cast<RegisterModuleFunction>(
            reinterpret_cast<void*>(GetProcAddress(h->library, TRV_REGISTER_MODULE_EXPORT)));
        h->record.send = &HostSend;
        h->record.module = h->library;
        h->record.images = ThemeImages();
        h->parent = CreateWindowExW(0, L"STATIC", L"pages", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                    960, 600, nullptr, nullptr, nullptr, nullptr);
        if (registerModule != nullptr) registerModule(&h->record);
        return h;
    }();
    return *harness;
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Pump();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);  // until a message or the poll interval
    }
}

HWND ShowPage(const wchar_t* key, const RECT& rect) {
    Harness& harness = Harness::Get();
    CommandMessage message{};
    message.name = ARDENA_COMMAND_SHOW_WINDOW;
    message.wideText = const_cast<wchar_t*>(key);
    message.window = harness.parent;
    RECT area = rect;
    message.data = &area;
    harness.record.receive(&message);
    message.window = harness.parent;
    harness.record.receive(&message);  // a known page: shown, its window answered
    Pump();
    return message.window == harness.parent ? nullptr : message.window;
}

void Reply(const wchar_t* key, int64_t code, void* extra) {
    CommandMessage message{};
    message.name = ARDENA_COMMAND_DO_CONTACT;
    message.wideText = const_cast<wchar_t*>(key);
    message.code = code;
    message.extra = extra;
    Harness::Get().record.receive(&message);
    Pump();
}

std::shared_ptr<iOSContact> Contact(const wchar_t* id, const wchar_t* first, const wchar_t* last,
                                    const wchar_t* phone) {
    auto c = std::make_shared<iOSContact>();
    c->identifier = id;
    c->firstName = first;
    c->lastName = last;
    c->recordKind = L"person";
    if (*phone != L'\0') {
        auto entry = std::make_shared<iOSContactProperty>();
        entry->kind = CONTACT_KIND_PHONE;
        entry->labelKey = L"mobile";
        entry->value = phone;
        c->phones.push_back(entry);
    }
    return c;
}

ItemBatch<iOSContact>* ContactBatch(int64_t sequence, const std::vector<std::shared_ptr<iOSContact>>& contacts) {
    auto* batch = new ItemBatch<iOSContact>();
    batch->sequence = sequence;
    batch->items = contacts;
    return batch;
}

std::shared_ptr<iOSContactGroup> Group(const wchar_t* id, const wchar_t* name, std::vector<std::wstring> members) {
    auto group = std::make_shared<iOSContactGroup>();
    group->identifier = id;
    group->name = name;
    group->members = std::move(members);
    return group;
}

ItemBatch<iOSContactGroup>* GroupBatch(int64_t sequence, const std::vector<std::shared_ptr<iOSContactGroup>>& groups) {
    auto* batch = new ItemBatch<iOSContactGroup>();
    batch->sequence = sequence;
    batch->items = groups;
    return batch;
}

HWND Child(HWND page, int id) { return GetDlgItem(page, id); }

void Press(HWND button) {
    PressLater(button);
    Pump();
}

std::vector<std::wstring> Column(HWND list, int column) {
    std::vector<std::wstring> texts;
    for (int row = 0; row < RowCount(list); ++row) texts.push_back(CellText(list, row, column));
    return texts;
}

bool IsRowChecked(HWND list, int row) {
    const UINT state =
        static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) != 1;
}

bool IsRowSelected(HWND list, int row) {
    return (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

namespace {
RECT RowRect(HWND list, int row) {
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    return bounds;
}
void Click(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
}
}  // namespace

void ClickCheck(HWND list, int row) {
    const RECT r = RowRect(list, row);
    Click(list, 8, (r.top + r.bottom) / 2);
}

void ClickRow(HWND list, int row) {
    const RECT r = RowRect(list, row);
    const int nameLeft = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    Click(list, nameLeft + 60, (r.top + r.bottom) / 2);
}

std::wstring PreviewText(HWND page) {
    return wtl::WindowText(FindWindowExW(page, nullptr, L"DhContactDetailView", nullptr));
}

std::vector<std::wstring> TreeTexts(HWND tree) {
    std::vector<std::wstring> texts;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    while (item != nullptr) {
        wchar_t buffer[256] = {};
        TVITEMW tv = {};
        tv.mask = TVIF_TEXT | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = buffer;
        tv.cchTextMax = 256;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        texts.push_back(buffer);
        item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return texts;
}

HTREEITEM TreeItem(HWND tree, int index) {
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    for (int i = 0; i < index && item != nullptr; ++i) {
        item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return item;
}

namespace {
struct TopLevelSearch {
    const wchar_t* className;
    const wchar_t* title;
    HWND found;
};
BOOL CALLBACK VisitTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TopLevelSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && wcscmp(name, search->className) == 0 &&
        (search->title == nullptr || wtl::WindowText(window) == search->title)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindTopLevel(const wchar_t* className, const wchar_t* title) {
    TopLevelSearch search{className, title, nullptr};
    EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TimerDriver::TimerDriver(std::function<bool()> step, int timeoutMs)
    : m_step(std::move(step)), m_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {
    m_timer = SetTimer(nullptr, 0, 20, &TimerDriver::Tick);
    Drivers()[m_timer] = this;
}

TimerDriver::~TimerDriver() {
    KillTimer(nullptr, m_timer);
    Drivers().erase(m_timer);
}

void CALLBACK TimerDriver::Tick(HWND, UINT, UINT_PTR id, DWORD) {
    auto it = Drivers().find(id);
    if (it == Drivers().end()) return;
    TimerDriver* driver = it->second;
    if (driver->m_finished || driver->m_running) return;  // a step may start a modal loop of its own
    driver->m_running = true;
    if (driver->m_step()) {
        driver->m_finished = true;
    } else if (std::chrono::steady_clock::now() >= driver->m_deadline) {
        driver->m_finished = true;
        driver->m_timedOut = true;
        // Whatever modal loop is open ends, so that the test can report instead of hanging.
        EndMenu();
        if (HWND dialog = FindTopLevel(L"#32770")) PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    driver->m_running = false;
}

HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const std::wstring& path : paths) chars += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    wchar_t* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        path.copy(out, path.size());
        out += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

void QueueMenuChoice(HWND window, int index) {
    for (int i = 0; i <= index; ++i) PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
}

namespace {
MenuSpy* g_spy = nullptr;
}  // namespace

MenuSpy::MenuSpy() {
    g_spy = this;
    m_hook = SetWindowsHookExW(WH_CALLWNDPROC, &MenuSpy::Hook, nullptr, GetCurrentThreadId());
}

MenuSpy::~MenuSpy() {
    if (m_hook != nullptr) UnhookWindowsHookEx(m_hook);
    g_spy = nullptr;
}

LRESULT CALLBACK MenuSpy::Hook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && g_spy != nullptr && call != nullptr && call->message == WM_INITMENUPOPUP) {
        HMENU menu = reinterpret_cast<HMENU>(call->wParam);
        std::vector<std::wstring> entries;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = {};
            GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            entries.push_back(text);
        }
        g_spy->m_menus.push_back(entries);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace ardena_test
