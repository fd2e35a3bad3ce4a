// A test module that the contacts scenarios drop into Trevane's plug-in folder beside the relay stand-in.
// With TREVANE_PROBE_SCENARIO=service it works the page against the device service Harlix (BuildServiceSteps);
// otherwise, with the relay in fixture mode: once the host's message loop runs it makes a device arrive and chooses the
// Contacts section, as the relay and the section list would, then works the contacts page as a user would: it waits for
// the fixture's contacts, searches, sorts, previews, deletes the previewed contact (answering the host's confirmation),
// creates, renames and fills a group, and saves a new contact in the editor twice (the fixture refuses the first save).
// It finds windows by class and control id and acts on a timer of the UI thread, so that it also acts inside the modal
// loops the page and the host open.
//
// It writes one line per check to the file named by TREVANE_PROBE_REPORT: "ok <check>" or
// "FAIL <check>: <what it saw>", "rect <name> x y width height" for the scenario's pixel probes, and
// "shot <name>" when the screen should be captured; it then waits for "<report>.<name>.done" before it goes
// on. "done" ends the report. Every wait has a deadline. UI thread only.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "command_names.h"
#include "device_record.h"
#include <wtl/window_text.h>

#include "probe_support.h"
#include "vnl_utf8.h"

namespace {

constexpr UINT_PTR kTimer = 1;
constexpr UINT kTickMs = 50;
constexpr DWORD kStepTimeoutMs = 20000;
const char kDevice[] = "fixture-device-1";

ModuleRecord* g_record = nullptr;
std::wstring g_reportPath;

std::string Utf8(const std::wstring& text) { return vnl::Utf8FromWide(text); }

void Report(const std::string& line) {
    FILE* raw = _wfopen(g_reportPath.c_str(), L"ab");
    if (raw == nullptr) return;
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    const std::string text = line + "\n";
    fwrite(text.data(), 1, text.size(), file.get());
}

void Check(bool ok, const std::string& check, const std::string& saw = std::string()) {
    Report(probe::CheckLine(ok, check, saw));
}

void ReportRect(const char* name, HWND window, const RECT* inner = nullptr) {
    RECT rect = {};
    if (inner != nullptr) {
        rect = *inner;
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    } else {
        GetWindowRect(window, &rect);
    }
    char line[160];
    std::snprintf(line, sizeof(line), "rect %s %ld %ld %ld %ld", name, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top);
    Report(line);
}

HWND FindInFrame(const wchar_t* className) { return probe::First(probe::InFrame(className)); }

// A visible dialog of this process whose title contains `text`.
HWND FindDialogWithText(const std::wstring& text) {
    for (HWND window : probe::TopLevelWindows()) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && probe::ClassOf(window) == L"#32770" &&
            wtl::WindowText(window).find(text) != std::wstring::npos) {
            return window;
        }
    }
    return nullptr;
}

using probe::PressLater;
int Rows(HWND list) { return probe::RowCount(list); }
std::wstring Cell(HWND list, int row, int column) { return probe::CellText(list, row, column); }

RECT RowRect(HWND list, int row) {
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    return bounds;
}

void ClickAt(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void ClickCheck(HWND list, int row) {
    const RECT r = RowRect(list, row);
    ClickAt(list, 8, (r.top + r.bottom) / 2);
}

void ClickRow(HWND list, int row) {
    const RECT r = RowRect(list, row);
    ClickAt(list, static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)) + 60, (r.top + r.bottom) / 2);
}

bool IsChecked(HWND list, int row) {
    const UINT state =
        static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) != 1;
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

HTREEITEM LastTreeItem(HWND tree) {
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    HTREEITEM last = item;
    while (item != nullptr) {
        last = item;
        item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return last;
}

// The value edits of a property row of the editor, found from the row's delete button (its id is the row's).
std::vector<HWND> RowEdits(HWND view, int rowId, int lines) {
    HWND button = GetDlgItem(view, rowId);
    std::vector<std::pair<std::pair<LONG, LONG>, HWND>> found;
    if (button == nullptr) return {};
    RECT buttonRect = {};
    GetWindowRect(button, &buttonRect);
    const LONG top = buttonRect.top - 4;
    for (HWND child = GetWindow(view, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (_wcsicmp(name, L"Edit") != 0) continue;
        RECT rect = {};
        GetWindowRect(child, &rect);
        if (rect.top >= top && rect.top < top + lines * 28) found.push_back({{rect.top, rect.left}, child});
    }
    std::sort(found.begin(), found.end());
    std::vector<HWND> edits;
    for (const auto& entry : found) edits.push_back(entry.second);
    return edits;
}

// The scenario: steps run one per timer tick; a step answers true when it is done.
struct Probe {
    HWND page = nullptr;
    HWND list = nullptr;
    HWND tree = nullptr;
    HWND dialog = nullptr;
    int rowsBefore = 0;
    std::wstring previewedName;
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    DWORD stepStarted = 0;
    bool finished = false;
    bool running = false;
    std::string waitingShot;

    HWND Preview() const { return FindWindowExW(page, nullptr, L"DhContactDetailView", nullptr); }

    // A step that asks the scenario for a screenshot and waits until it is taken.
    std::function<bool()> Shot(const char* name) {
        return Await("shot", name, [this] {
            RedrawWindow(FindWindowW(L"TrevaneMainFrame", nullptr), nullptr, nullptr,
                         RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            if (dialog != nullptr)
                RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            GdiFlush();
        });
    }

    // A step that reports "<verb> <name>" and waits until the scenario has done its part, which it says
    // by making the file "<report>.<name>.done".
    std::function<bool()> Await(const char* verb, const char* name, std::function<void()> before = nullptr) {
        return [this, verb, name, before] {
            if (waitingShot.empty()) {
                if (before) before();
                waitingShot = name;
                Report(std::string(verb) + " " + name);
                return false;
            }
            const std::wstring done =
                g_reportPath + L"." + std::wstring(waitingShot.begin(), waitingShot.end()) + L".done";
            if (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
            waitingShot.clear();
            return true;
        };
    }

    void Tick() {
        if (finished || running) return;
        running = true;
        while (next < steps.size()) {
            if (stepStarted == 0) stepStarted = GetTickCount();
            bool done = false;
            try {
                done = steps[next]();
            } catch (...) {
                Check(false, "step " + std::to_string(next), "exception");
                done = true;
            }
            if (!done) {
                if (GetTickCount() - stepStarted > kStepTimeoutMs) {
                    Check(false, "step " + std::to_string(next), "timed out");
                    finished = true;
                    Report("done");
                }
                break;
            }
            ++next;
            stepStarted = 0;
        }
        if (next == steps.size() && !finished) {
            finished = true;
            Report("done");
        }
        running = false;
    }
};

Probe* g_probe = nullptr;

void Invoke(const char* name, CommandMessage& message) { probe::Invoke(g_record, name, message); }

void BuildSteps(Probe& p) {
    auto& s = p.steps;
    // A device arrives and the user chooses Contacts: the host asks the relay to load them.
    s.push_back([&p] {
        DeviceRecord device{kDevice, {{"ProductType", "iPhone10,1"}}};
        CommandMessage connected{};
        connected.data = &device;
        Invoke(ZERITH_COMMAND_DEVICE_CONNECTED, connected);
        CommandMessage select{};
        select.value4 = 2;  // Contacts
        Invoke(QUARNEL_COMMAND_SELECT_ITEM, select);
        p.page = FindInFrame(L"DhContactsDelegate");
        Check(p.page != nullptr && IsWindowVisible(p.page), "the contacts page is shown");
        p.list = GetDlgItem(p.page, 5011);
        p.tree = GetDlgItem(p.page, 5016);
        return true;
    });
    // The fixture's contacts arrive in batches and are sorted by name once loading has finished.
    s.push_back([&p] { return Rows(p.list) == 250 && Cell(p.list, 0, 1) == L"Aaron Aalto "; });
    s.push_back([&p] {
        Check(Rows(p.list) == 250, "250 fixture contacts listed", std::to_string(Rows(p.list)));
        const std::wstring preview = wtl::WindowText(p.Preview());
        Check(preview.find(L"Aaron Aalto") == 0, "the first row is previewed", Utf8(preview));
        const RECT row = RowRect(p.list, 0);
        ReportRect("row0", p.list, &row);
        ReportRect("page", p.page);
        return true;
    });
    s.push_back(p.Shot("contacts-page.png"));
    // Search narrows the rows.
    s.push_back([&p] {
        SetWindowTextW(GetDlgItem(p.page, 5006), L"quokka");
        PressLater(GetDlgItem(p.page, 5005));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 2; });
    s.push_back([&p] {
        Check(Cell(p.list, 0, 1).find(L"Quokka") != std::wstring::npos &&
                  Cell(p.list, 1, 1).find(L"Quokka") != std::wstring::npos,
              "search narrows the rows to the two Quokkas", Utf8(Cell(p.list, 0, 1)));
        SetWindowTextW(GetDlgItem(p.page, 5006), L"");
        PressLater(GetDlgItem(p.page, 5005));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 250; });
    // The first click on the name column sorts descending.
    s.push_back([&p] {
        HWND header = reinterpret_cast<HWND>(SendMessageW(p.list, LVM_GETHEADER, 0, 0));
        RECT rect = {};
        SendMessageW(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&rect));
        ClickAt(header, (rect.left + rect.right) / 2, 8);
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
        bool descending = true;
        for (int row = 1; row < Rows(p.list); ++row) {
            if (lstrcmpiW(Cell(p.list, row - 1, 1).c_str(), Cell(p.list, row, 1).c_str()) < 0) descending = false;
        }
        Check(descending && (item.fmt & HDF_SORTDOWN) != 0, "a header click sorts descending first",
              Utf8(Cell(p.list, 0, 1)));
        return true;
    });
    // A contact with an address, a note and two phones is found and previewed.
    s.push_back([&p] {
        SetWindowTextW(GetDlgItem(p.page, 5006), L"66 main st");
        PressLater(GetDlgItem(p.page, 5005));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 1; });
    s.push_back([&p] {
        p.previewedName = Cell(p.list, 0, 1);
        ClickRow(p.list, 0);
        const std::wstring preview = wtl::WindowText(p.Preview());
        Check(preview.find(p.previewedName) == 0 && preview.find(L"[Street Address]") != std::wstring::npos &&
                  preview.find(L"notes:  Met at the spring fair") != std::wstring::npos,
              "the clicked contact is previewed with its sections", Utf8(preview));
        ReportRect("preview", p.Preview());
        return true;
    });
    s.push_back(p.Shot("contacts-preview.png"));
    // Deleting the previewed contact: checked, "Delete", the host's confirmation answered "OK".
    s.push_back([&p] {
        Check(IsChecked(p.list, 0), "the clicked row is checked: checks follow the selection");
        PressLater(GetDlgItem(p.page, 5004));
        return true;
    });
    s.push_back([&p] {
        HWND confirm = FindDialogWithText(L"Do you really want to delete the checked contact(s)?");
        if (confirm == nullptr) return false;
        PressLater(GetDlgItem(confirm, 5051));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 0; });
    s.push_back([&p] {
        Check(wtl::WindowText(p.Preview()).empty(), "the deleted contact's preview is cleared",
              Utf8(wtl::WindowText(p.Preview())));
        SetWindowTextW(GetDlgItem(p.page, 5006), L"");
        PressLater(GetDlgItem(p.page, 5005));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 249; });
    // A group is created, renamed and filled.
    s.push_back([&p] {
        PressLater(GetDlgItem(p.page, 5001));  // unfold the group panel
        return true;
    });
    s.push_back([&p] { return IsWindowVisible(p.tree) != FALSE && TreeTexts(p.tree).size() == 3; });
    s.push_back([&p] {
        Check(TreeTexts(p.tree)[0] == L"Family (4)", "the fixture's groups are listed", Utf8(TreeTexts(p.tree)[0]));
        PressLater(GetDlgItem(p.page, 5017));  // add group
        return true;
    });
    s.push_back([&p] {
        HWND edit = reinterpret_cast<HWND>(SendMessageW(p.tree, TVM_GETEDITCONTROL, 0, 0));
        if (edit == nullptr) return false;
        SetWindowTextW(edit, L"Neighbours");
        SendMessageW(p.tree, TVM_ENDEDITLABELNOW, FALSE, 0);
        return true;
    });
    s.push_back([&p] { return TreeTexts(p.tree).size() == 4 && TreeTexts(p.tree)[3] == L"Neighbours (0)"; });
    s.push_back([&p] {
        Check(TreeTexts(p.tree).size() == 4 && TreeTexts(p.tree)[3] == L"Neighbours (0)", "a group is created");
        SendMessageW(p.tree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(LastTreeItem(p.tree)));
        HWND edit = reinterpret_cast<HWND>(SendMessageW(p.tree, TVM_GETEDITCONTROL, 0, 0));
        if (edit == nullptr) return false;
        SetWindowTextW(edit, L"Street Friends");
        SendMessageW(p.tree, TVM_ENDEDITLABELNOW, FALSE, 0);
        return true;
    });
    s.push_back([&p] { return TreeTexts(p.tree)[3] == L"Street Friends (0)"; });
    s.push_back([&p] {
        Check(TreeTexts(p.tree)[3] == L"Street Friends (0)", "the group is renamed", Utf8(TreeTexts(p.tree)[3]));
        SendMessageW(p.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(LastTreeItem(p.tree)));
        PressLater(GetDlgItem(p.page, 5000));  // "Add": every contact, to check the new members
        return true;
    });
    s.push_back([&p] { return IsWindowVisible(GetDlgItem(p.page, 5019)) != FALSE && Rows(p.list) == 249; });
    s.push_back([&p] {
        ClickCheck(p.list, 0);
        ClickCheck(p.list, 1);
        PressLater(GetDlgItem(p.page, 5019));  // OK
        return true;
    });
    s.push_back([&p] { return TreeTexts(p.tree)[3] == L"Street Friends (2)" && Rows(p.list) == 2; });
    s.push_back([&p] {
        Check(TreeTexts(p.tree)[3] == L"Street Friends (2)" && Rows(p.list) == 2,
              "the group is filled with the two checked contacts", Utf8(TreeTexts(p.tree)[3]));
        SendMessageW(GetDlgItem(p.page, 5015), TVM_SELECTITEM, TVGN_CARET,
                     SendMessageW(GetDlgItem(p.page, 5015), TVM_GETNEXTITEM, TVGN_ROOT, 0));
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 249; });
    // The editor saves a new contact with two phones and an address; the first save is refused.
    s.push_back([&p] {
        p.rowsBefore = Rows(p.list);
        PressLater(GetDlgItem(p.page, 5000));  // "New": the editor runs modally from here on
        return true;
    });
    s.push_back([&p] { return (p.dialog = FindDialogWithText(L"New")) != nullptr; });
    s.push_back([&p] {
        SetWindowTextW(GetDlgItem(p.dialog, 4011), L"Nina");
        SetWindowTextW(GetDlgItem(p.dialog, 4013), L"Berg");
        PressLater(GetDlgItem(GetDlgItem(p.dialog, 4020), 5100));  // a second phone row
        return true;
    });
    s.push_back([&p] {
        HWND view = GetDlgItem(p.dialog, 4020);
        const std::vector<HWND> first = RowEdits(view, 5101, 1);
        const std::vector<HWND> second = RowEdits(view, 5102, 1);
        const std::vector<HWND> address = RowEdits(view, 5401, 2);
        if (first.size() != 1 || second.size() != 1 || address.size() != 4) return false;
        SetWindowTextW(first[0], L"555-0100");
        SetWindowTextW(second[0], L"555-0199");
        SetWindowTextW(address[0], L"1 Main St");
        SetWindowTextW(address[1], L"Springfield");
        ReportRect("editor", p.dialog);
        return true;
    });
    s.push_back(p.Shot("contacts-editor.png"));
    s.push_back([&p] {
        PressLater(GetDlgItem(p.dialog, 4002));  // OK: the fixture refuses this save
        return true;
    });
    s.push_back([&p] {
        Check(IsWindow(p.dialog) != FALSE, "a refused save leaves the editor open");
        PressLater(GetDlgItem(p.dialog, 4002));  // OK again
        return true;
    });
    s.push_back([&p] { return IsWindow(p.dialog) == FALSE && Rows(p.list) == p.rowsBefore + 1; });
    s.push_back([&p] {
        p.dialog = nullptr;
        bool found = false;
        for (int row = 0; row < Rows(p.list); ++row) found = found || Cell(p.list, row, 1) == L"Nina Berg ";
        Check(found, "the saved contact is listed once the device took it");
        return true;
    });
}

// The section list's entries as it shows them (its window text), or empty before it exists.
std::wstring SectionTexts() {
    HWND list = FindInFrame(L"QuarnelSectionList");
    return list != nullptr ? wtl::WindowText(list) : std::wstring();
}

// With the relay in service mode and one simulated iPhone: the device's own contacts are listed and
// counted, a contact saved in the editor is listed with the device's id, and the device's departure
// empties the page. The scenario says when the device is ready ("await device") and detaches it when
// asked ("await detached").
void BuildServiceSteps(Probe& p) {
    auto& s = p.steps;
    s.push_back(p.Await("await", "device"));
    s.push_back([&p] {
        CommandMessage select{};
        select.value4 = 2;  // Contacts
        Invoke(QUARNEL_COMMAND_SELECT_ITEM, select);
        p.page = FindInFrame(L"DhContactsDelegate");
        Check(p.page != nullptr && IsWindowVisible(p.page), "the contacts page is shown");
        p.list = GetDlgItem(p.page, 5011);
        return true;
    });
    s.push_back([&p] { return Rows(p.list) == 250 && SectionTexts().find(L"(250)") != std::wstring::npos; });
    s.push_back([&p] {
        Check(Rows(p.list) == 250 && SectionTexts().find(L"(250)") != std::wstring::npos,
              "the device's 250 contacts are listed and counted", Utf8(SectionTexts()));
        ReportRect("page", p.page);
        return true;
    });
    s.push_back(p.Shot("contacts-service.png"));
    s.push_back([&p] {
        p.rowsBefore = Rows(p.list);
        PressLater(GetDlgItem(p.page, 5000));  // "New": the editor runs modally from here on
        return true;
    });
    s.push_back([&p] { return (p.dialog = FindDialogWithText(L"New")) != nullptr; });
    s.push_back([&p] {
        HWND view = GetDlgItem(p.dialog, 4020);
        const std::vector<HWND> phone = RowEdits(view, 5101, 1);
        const std::vector<HWND> address = RowEdits(view, 5401, 2);
        if (phone.size() != 1 || address.size() != 4) return false;
        SetWindowTextW(GetDlgItem(p.dialog, 4011), L"Nina");
        SetWindowTextW(GetDlgItem(p.dialog, 4013), L"Berg");
        SetWindowTextW(phone[0], L"555-0100");
        SetWindowTextW(address[0], L"1 Main St");
        SetWindowTextW(address[1], L"Springfield");
        PressLater(GetDlgItem(p.dialog, 4002));  // OK
        return true;
    });
    s.push_back([&p] { return IsWindow(p.dialog) == FALSE && Rows(p.list) == p.rowsBefore + 1; });
    s.push_back([&p] { return SectionTexts().find(L"(251)") != std::wstring::npos; });
    s.push_back([&p] {
        p.dialog = nullptr;
        bool found = false;
        for (int row = 0; row < Rows(p.list); ++row) found = found || Cell(p.list, row, 1) == L"Nina Berg ";
        Check(found, "the saved contact is listed and counted once the device took it");
        return true;
    });
    // "Edit" on the contact that carries every kind of field, only its middle name changed.
    s.push_back([&p] {
        for (int row = 0; row < Rows(p.list); ++row) {
            if (Cell(p.list, row, 1) != L"Dr. Quentin Ann Rowe Jr. ") continue;
            ClickRow(p.list, row);
            PressLater(GetDlgItem(p.page, 5007));
            return true;
        }
        return false;
    });
    s.push_back([&p] { return (p.dialog = FindDialogWithText(L"Edit")) != nullptr; });
    s.push_back([&p] {
        HWND middle = GetDlgItem(p.dialog, 4012);
        if (middle == nullptr || wtl::WindowText(middle) != L"Ann") return false;
        SetWindowTextW(middle, L"Beth");
        PressLater(GetDlgItem(p.dialog, 4002));  // OK
        return true;
    });
    s.push_back([&p] { return IsWindow(p.dialog) == FALSE; });
    s.push_back([&p] {
        p.dialog = nullptr;
        bool found = false;
        for (int row = 0; row < Rows(p.list); ++row) found = found || Cell(p.list, row, 1) == L"Dr. Quentin Beth Rowe Jr. ";
        Check(found, "the edited contact is listed with its new middle name once the device took it");
        return true;
    });
    s.push_back(p.Shot("contacts-service-edited.png"));
    s.push_back(p.Await("await", "detached"));
    // With no device left, no section shows a count: the departed device's counts are not shown.
    s.push_back([&p] { return Rows(p.list) == 0 && SectionTexts().find(L"Contacts (") == std::wstring::npos; });
    s.push_back([&p] {
        Check(Rows(p.list) == 0 && SectionTexts().find(L"Contacts (") == std::wstring::npos,
              "the device's departure empties the page and its counter", Utf8(SectionTexts()));
        return true;
    });
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimer && g_probe != nullptr) {
        g_probe->Tick();
        if (g_probe->finished) KillTimer(window, kTimer);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    g_record = record;
    record->receive = &probe::IgnoreCommand;
    wchar_t path[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"TREVANE_PROBE_REPORT", path, 1024);
    if (length == 0 || length >= 1024) return;
    g_reportPath = path;
    g_probe = new Probe();  // lives as long as the process
    wchar_t scenario[32] = {};
    const DWORD scenarioLength = GetEnvironmentVariableW(L"TREVANE_PROBE_SCENARIO", scenario, 32);
    if (scenarioLength > 0 && scenarioLength < 32 && std::wcscmp(scenario, L"service") == 0) {
        BuildServiceSteps(*g_probe);
    } else {
        BuildSteps(*g_probe);
    }
    HWND window = probe::RegisterProbe(record, L"TrevaneContactsProbe", &ProbeWindowProc);
    if (window != nullptr) SetTimer(window, kTimer, kTickMs, nullptr);
}
