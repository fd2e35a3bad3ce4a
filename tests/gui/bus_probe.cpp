// A test module that the Trevane scenarios drop into the plug-in folder: once the host's message loop runs,
// it drives the bus from inside the running host as the relay module and the section list would (a device
// arrives, the contacts section is chosen, the list pages are shown by their sections, the title bar's
// maximise button is pressed twice, the longest section entries are counted and a section is chosen by
// the host), looks at the windows that result, and writes one line per check to the file named by TREVANE_PROBE_REPORT:
// "ok <check>" or "FAIL <check>: <what it saw>", then "done". Runs on the host's UI thread.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "command_names.h"
#include "device_record.h"
#include "probe_support.h"

namespace {

constexpr UINT kRunProbe = WM_APP + 1;
const char kDevice[] = "probe-device-1";

ModuleRecord* g_record = nullptr;
std::string g_report;

void Check(bool ok, const std::string& check, const std::string& saw = std::string()) {
    g_report += probe::CheckLine(ok, check, saw) + "\n";
}

void Invoke(const char* name, CommandMessage& message) { probe::Invoke(g_record, name, message); }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Describe(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " + std::to_string(rect.right - rect.left) +
           "x" + std::to_string(rect.bottom - rect.top);
}

void ProbeBus() {
    CommandMessage folder{};
    Invoke(ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR, folder);
    const std::wstring path = folder.wideText != nullptr ? folder.wideText : L"";
    const std::wstring suffix = L"\\Solvak Trevane\\";
    Check(path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0,
          "personal folder answered");
    std::free(folder.wideText);  // the host's heap copy, on the shared heap

    CommandMessage unknown{};
    unknown.code = 5;
    unknown.kind = COMMAND_KIND_INVOKE;
    unknown.name = "PROBE_COMMAND_NOBODY";
    const CommandMessage before = unknown;
    g_record->send(&unknown);
    Check(std::memcmp(&before, &unknown, sizeof(before)) == 0, "unknown name leaves the record untouched");
}

void ProbeDeviceAndPages() {
    DeviceRecord device{kDevice, {{"ProductType", "iPhone10,1"}}};
    CommandMessage connected{};
    connected.data = &device;
    Invoke(ZERITH_COMMAND_DEVICE_CONNECTED, connected);

    const std::vector<HWND> pages = probe::InFrame(L"DhContactsDelegate");
    Check(pages.size() == 1, "one contacts page for the device", std::to_string(pages.size()) + " pages");
    HWND page = probe::First(pages);
    if (page == nullptr) return;
    const std::wstring container = probe::ClassOf(GetParent(page));
    Check(container == L"YestalPageContainer", "contacts page inside the page container", Narrow(container));
    Check(!IsWindowVisible(page), "contacts page made hidden");

    CommandMessage select{};
    select.value4 = 2;  // Contacts
    Invoke(QUARNEL_COMMAND_SELECT_ITEM, select);
    Check(IsWindowVisible(page) != FALSE, "contacts section shows the contacts page");
    RECT pageRect = {};
    RECT containerRect = {};
    GetClientRect(page, &pageRect);
    GetClientRect(GetParent(page), &containerRect);
    Check(EqualRect(&pageRect, &containerRect) != FALSE, "contacts page fills the container",
          Describe(pageRect) + " in " + Describe(containerRect));
    Check(probe::InFrame(L"DhContactsDelegate").size() == 1, "showing makes no second page");
}

// The list pages' plug-ins, loaded from the plug-in folder: choosing their sections shows their pages in the
// container, one page each; Contacts is chosen again at the end.
void ProbeListPages() {
    const struct {
        int section;
        const wchar_t* page;
    } kPages[] = {
        {4, L"DhNoteDelegate"}, {6, L"DhBookmarkDelegate"}, {10, L"DhRecordingDelegate"}, {11, L"DhRingtoneDelegate"}};
    for (const auto& entry : kPages) {
        CommandMessage select{};
        select.value4 = entry.section;
        Invoke(QUARNEL_COMMAND_SELECT_ITEM, select);
        const std::vector<HWND> pages = probe::InFrame(entry.page);
        const std::string what = Narrow(entry.page);
        Check(pages.size() == 1, what + ": one page for the device", std::to_string(pages.size()) + " pages");
        HWND page = probe::First(pages);
        if (page == nullptr) continue;
        Check(IsWindowVisible(page) != FALSE, what + ": shown by its section");
        RECT pageRect = {};
        RECT containerRect = {};
        GetClientRect(page, &pageRect);
        GetClientRect(GetParent(page), &containerRect);
        Check(EqualRect(&pageRect, &containerRect) != FALSE, what + ": fills the container", Describe(pageRect));
    }
    CommandMessage contacts{};
    contacts.value4 = 2;
    Invoke(QUARNEL_COMMAND_SELECT_ITEM, contacts);
}

void ProbeMaximise() {
    HWND frame = FindWindowW(L"TrevaneMainFrame", nullptr);
    HWND pageWindow = probe::First(probe::InFrame(L"DhContactsDelegate"));
    RECT before = {};
    GetWindowRect(frame, &before);
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);

    CommandMessage press{};
    Invoke(LUNDER_COMMAND_PRESS_MAX_OR_RESET, press);
    RECT maximised = {};
    GetWindowRect(frame, &maximised);
    Check(EqualRect(&maximised, &work) != FALSE, "maximise fills the work area", Describe(maximised));
    if (pageWindow != nullptr) {
        RECT page = {};
        GetClientRect(pageWindow, &page);
        // The view less the rules (2) and the title bar (83), less the section list (200).
        const LONG width = (work.right - work.left) - 2 - 200;
        const LONG height = (work.bottom - work.top) - 83;
        Check(page.right == width && page.bottom == height, "pages follow the maximised frame", Describe(page));
    }

    CommandMessage again{};
    Invoke(LUNDER_COMMAND_PRESS_MAX_OR_RESET, again);
    RECT restored = {};
    GetWindowRect(frame, &restored);
    Check(EqualRect(&restored, &before) != FALSE, "second press restores the frame exactly", Describe(restored));
    if (pageWindow != nullptr) {
        RECT page = {};
        GetClientRect(pageWindow, &page);
        // The frame opens at a size that fits the screen: the page is the frame's, less the same parts.
        const LONG width = (before.right - before.left) - 2 - 200;
        const LONG height = (before.bottom - before.top) - 83;
        Check(page.right == width && page.bottom == height, "pages follow the restored frame", Describe(page));
    }
}

// Dark pixels (text) of `list` in the columns [left, right) of the section row `index`, as painted now.
int DarkPixels(HWND list, int index, int left, int right) {
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(list);
    int dark = 0;
    for (int y = index * 30 + 4; y < index * 30 + 26; ++y) {
        for (int x = left; x < right; ++x) {
            const COLORREF colour = GetPixel(dc, x, y);
            if (colour != CLR_INVALID && GetRValue(colour) + GetGValue(colour) + GetBValue(colour) < 384) ++dark;
        }
    }
    ReleaseDC(list, dc);
    return dark;
}

// The section list with the longest entries counted in five digits: each shows whole, its last character
// clear of the edge where the list cuts its texts. Then the host chooses a section (a section update of
// the relay module): the list highlights it and does not hand it back, so the page shown stays.
void ProbeSectionList() {
    HWND list = probe::First(probe::InFrame(L"QuarnelSectionList"));
    HWND contacts = probe::First(probe::InFrame(L"DhContactsDelegate"));
    Check(list != nullptr && contacts != nullptr, "the section list and the contacts page are there");
    if (list == nullptr || contacts == nullptr) return;
    const struct {
        const char* relay;
        int64_t code;
        int row;
        const char* text;
    } kCounts[] = {{ZERITH_COMMAND_DO_RECORDING, 82, 10, "Voice Memos (12345)"},
                   {ZERITH_COMMAND_DO_VIDEO, 88, 15, "Music Videos (12345)"},
                   {ZERITH_COMMAND_DO_BOOKMARK, 100, 6, "Bookmarks (12345)"}};
    for (const auto& entry : kCounts) {
        CommandMessage count{};
        count.code = entry.code;
        count.value3 = 12345;
        count.text = kDevice;
        Invoke(entry.relay, count);
    }
    wchar_t shown[2048] = {};
    GetWindowTextW(list, shown, 2048);
    RECT client = {};
    GetClientRect(list, &client);
    const int edge = static_cast<int>(client.right) - 4;  // the list's texts end 4 pixels before its right edge
    for (const auto& entry : kCounts) {
        const std::wstring text(entry.text, entry.text + std::strlen(entry.text));
        Check(std::wstring(shown).find(text + L"\n") != std::wstring::npos, std::string(entry.text) + " listed",
              Narrow(shown));
        // A text that fits ends 3 pixels before the edge where a longer one is cut.
        const int inside = DarkPixels(list, entry.row, 40, edge - 3);
        const int atEdge = DarkPixels(list, entry.row, edge - 3, edge);
        Check(inside > 0 && atEdge == 0, std::string(entry.text) + " fits the list's width",
              std::to_string(inside) + " text pixels, " + std::to_string(atEdge) + " at the edge");
    }

    CommandMessage chosen{};
    chosen.text = kDevice;
    chosen.value4 = 5;  // Calendars
    Invoke(ZERITH_COMMAND_UPDATE_SECTION_TYPE, chosen);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(list);
    const COLORREF row = GetPixel(dc, 4, 5 * 30 + 15);
    const COLORREF other = GetPixel(dc, 4, 3 * 30 + 15);
    ReleaseDC(list, dc);
    Check(row != other && GetBValue(row) > GetRValue(row) + 40, "the host's section is highlighted",
          std::to_string(row) + " against " + std::to_string(other));
    Check(IsWindowVisible(contacts) != FALSE, "the host's section is not chosen again: the shown page stays");
    // Back to the section the page shows.
    chosen.value4 = 2;
    Invoke(ZERITH_COMMAND_UPDATE_SECTION_TYPE, chosen);
}

void WriteReport() {
    wchar_t path[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"TREVANE_PROBE_REPORT", path, 1024);
    if (length == 0 || length >= 1024) return;
    FILE* raw = _wfopen(path, L"wb");
    if (raw == nullptr) return;
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    g_report += "done\n";
    fwrite(g_report.data(), 1, g_report.size(), file.get());
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunProbe) {
        try {
            ProbeBus();
            ProbeDeviceAndPages();
            ProbeListPages();
            ProbeMaximise();
            ProbeSectionList();
        } catch (...) {
            Check(false, "probe", "exception");
        }
        WriteReport();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    g_record = record;
    HWND window = probe::RegisterProbe(record, L"TrevaneBusProbe", &ProbeWindowProc);
    if (window != nullptr) PostMessageW(window, kRunProbe, 0, 0);
}
