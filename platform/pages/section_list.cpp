// The section list's stand-in (libQuarnel.dll): the column of sections on the left of the device page,
// filled from the record the host lends with QUARNEL_COMMAND_CREATE_WINDOW. A click on a selectable entry
// invokes QUARNEL_COMMAND_SELECT_ITEM with the entry's id; counters from QUARNEL_COMMAND_UPDATE_ITEM are
// shown after the texts, those of the current device only (section_counts.h); an entry too long for the
// list's width with its counter is drawn a step smaller, down to the smallest size that still reads. A
// section the host chooses (QUARNEL_COMMAND_SELECT_ITEM) becomes the highlighted entry without being sent
// back. An entry with children opens its first child. When the device page says
// that the current device changed, the list shows that device's counters and chooses its section again, so
// that the host shows and loads the page of the new device (the summary when the device left). The
// window's text holds the entries as shown, one per line, so that what the list shows can be read back
// without its pixels. Calls arrive on the host's UI thread.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <vornel/VNLUtilityApp.h>
#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>
#include <wtl/scroll.h>

#include "command_names.h"
#include "device_notice.h"
#include "page_records.h"
#include "section_counts.h"
#include "standin_module.h"

namespace {

constexpr int kImageSize = 16;
constexpr int kTextPixels = 16;
constexpr int kSmallestTextPixels = 11;
constexpr int kTextRightMargin = 4;
// A text that fits ends this far before the edge where it would be cut, so that a cut one is told apart.
constexpr int kFitSlack = 3;
constexpr int32_t kSummarySection = 0;
// Posted to the list itself: choose the selected section again, once the switch that asked for it is over.
constexpr UINT WM_RESELECT = WM_APP + 1;

struct Section {
    int32_t id;
    int32_t parentId;  // 0 for top-level entries
    std::wstring text;
    int32_t left;
    COLORREF colour;
    Gdiplus::Bitmap* image;  // borrowed from the host's cache
    bool selectable;
};

ModuleRecord* g_record = nullptr;

class SectionListWindow : public wtl::CWindowImpl<SectionListWindow> {
public:
    DECLARE_WND_CLASS_EX(L"QuarnelSectionList", 0, nullptr)
    BEGIN_MSG_MAP(SectionListWindow)
    MSG_WM_PAINT(OnPaint)
    MESSAGE_HANDLER_EX(WM_LBUTTONDOWN, OnButtonDown)
    MESSAGE_HANDLER_EX(WM_SIZE, OnSize)
    MESSAGE_HANDLER_EX(WM_VSCROLL, OnVScroll)
    MESSAGE_HANDLER_EX(WM_MOUSEWHEEL, OnMouseWheel)
    MESSAGE_HANDLER_EX(WM_RESELECT, OnReselect)
    END_MSG_MAP()

    std::vector<Section> sections;
    standin_pages::SectionCounts counts;
    int32_t rowHeight = 30;
    int32_t selected = -1;  // none until the user chooses one
    int32_t scrollTop = 0;  // pixels of the list above the window's top edge

    // The list is taller than the window when the main window is small: the scroll bar covers the rest.
    void UpdateScrollRange() {
        if (m_hWnd == nullptr) return;
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        const int32_t total = static_cast<int32_t>(sections.size()) * rowHeight;
        const int32_t page = client.bottom - client.top;
        scrollTop = std::max(0, std::min(scrollTop, total - page));
        SCROLLINFO info = {};
        info.cbSize = sizeof(info);
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = total > 0 ? total - 1 : 0;
        info.nPage = static_cast<UINT>(std::max(page, 0));
        info.nPos = scrollTop;
        SetScrollInfo(m_hWnd, SB_VERT, &info, TRUE);
    }

    void ScrollTo(int32_t top) {
        scrollTop = top;
        UpdateScrollRange();
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }

    std::wstring ShownText(const Section& section) const { return counts.ShownText(section.id, section.text); }

    // The host shows the chosen section's page (and asks the relay to load it) for its current device.
    void Choose(int32_t section) {
        selected = section;
        InvalidateRect(m_hWnd, nullptr, FALSE);
        CommandMessage message{};
        message.value4 = section;
        message.window = m_hWnd;
        standin_pages::Invoke(g_record, QUARNEL_COMMAND_SELECT_ITEM, message);
    }

    // The host chose `section` (a page it shows by itself): it is highlighted, and not chosen again.
    void Highlight(int32_t section) {
        const bool known = std::any_of(sections.begin(), sections.end(), [section](const Section& entry) {
            return entry.id == section && entry.selectable;
        });
        if (!known || section == selected) return;
        selected = section;
        if (m_hWnd != nullptr) InvalidateRect(m_hWnd, nullptr, FALSE);
    }

    // After a counter changed: repaint and keep the window's text in step.
    void CountsChanged() {
        if (m_hWnd == nullptr) return;
        std::wstring shown;
        for (const Section& section : sections) shown += ShownText(section) + L"\n";
        SetWindowTextW(m_hWnd, shown.c_str());
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }

private:
    void OnPaint() {
        wtl::PaintDC paint(m_hWnd);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        wtl::UniqueBrush background(CreateSolidBrush(standin_pages::ThemeColour("color:9", RGB(0xF2, 0xF2, 0xF2))));
        if (background) FillRect(paint.get(), &client, background.get());
        wtl::UniqueBrush highlight(CreateSolidBrush(standin_pages::ThemeColour("color:12", RGB(0x6A, 0xAE, 0xF0))));
        Gdiplus::Graphics graphics(paint.get());
        for (size_t i = 0; i < sections.size(); ++i) {
            const Section& section = sections[i];
            const LONG top = static_cast<LONG>(i) * rowHeight - scrollTop;
            RECT row = {client.left, top, client.right, top + rowHeight};
            if (row.bottom <= client.top || row.top >= client.bottom) continue;
            if (section.id == selected && highlight) FillRect(paint.get(), &row, highlight.get());
            // Entries indented for an image show it left of the text; the others have no room for one.
            if (section.image != nullptr && section.left >= kImageSize + 8) {
                graphics.DrawImage(section.image, static_cast<INT>(section.left - kImageSize - 6),
                                   static_cast<INT>(row.top + (rowHeight - kImageSize) / 2), kImageSize, kImageSize);
            }
            const std::wstring text = ShownText(section);
            RECT textRect = {row.left + section.left, row.top, row.right - kTextRightMargin, row.bottom};
            standin_pages::DrawLine(paint.get(), text, textRect, section.colour,
                                    FittingTextPixels(paint.get(), text, textRect.right - textRect.left - kFitSlack),
                                    false);
        }
    }

    // The largest text size from the list's own down to the smallest at which `text` fits `room` pixels.
    static int FittingTextPixels(HDC dc, const std::wstring& text, LONG room) {
        for (int pixels = kTextPixels; pixels > kSmallestTextPixels; --pixels) {
            wtl::UniqueFont font(VNLUtilityApp::GetFont(pixels, false, L"Arial"));
            if (!font) return pixels;
            wtl::SelectGuard select(dc, font.get());
            SIZE extent = {};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            if (extent.cx <= room) return pixels;
        }
        return kSmallestTextPixels;
    }

    LRESULT OnButtonDown(WPARAM, LPARAM lParam) {
        const int y = static_cast<int16_t>(HIWORD(lParam)) + scrollTop;
        const int index = y < 0 ? -1 : y / rowHeight;
        if (index < 0 || index >= static_cast<int>(sections.size()) || !sections[index].selectable) {
            return 0;
        }
        Choose(FirstChildOr(sections[index].id));
        return 0;
    }

    // An entry with children ("Music", "Videos", "Photos") has no page of its own: a click on it chooses
    // its first child, whose page then shows in place of the page before.
    int32_t FirstChildOr(int32_t section) const {
        for (const Section& entry : sections) {
            if (entry.parentId == section && entry.parentId != 0 && entry.selectable) return entry.id;
        }
        return section;
    }

    LRESULT OnReselect(WPARAM, LPARAM) {
        // Without a device the host shows nothing: the summary is what the list offers next time.
        Choose(counts.Current().empty() || selected < 0 ? kSummarySection : selected);
        return 0;
    }

    LRESULT OnSize(WPARAM, LPARAM) {
        UpdateScrollRange();
        return 0;
    }

    LRESULT OnVScroll(WPARAM wParam, LPARAM) {
        int top = 0;
        if (wtl::ScrollRequestTarget(m_hWnd, SB_VERT, wParam, rowHeight, &top)) ScrollTo(top);
        return 0;
    }

    LRESULT OnMouseWheel(WPARAM wParam, LPARAM) {
        const int notches = static_cast<int16_t>(HIWORD(wParam)) / WHEEL_DELTA;
        ScrollTo(scrollTop - notches * 3 * rowHeight);
        return 0;
    }
};

SectionListWindow* g_list = nullptr;  // made once, kept until the process ends

void CreateList(CommandMessage& message) {
    const auto* record = static_cast<const SectionListRecord*>(message.extra);
    if (g_list->m_hWnd != nullptr || record == nullptr || message.window == nullptr) {
        return;
    }
    g_list->rowHeight = record->rowValue > 0 ? record->rowValue : 30;
    // The record is lent for the call: everything the list shows is copied out of it.
    for (const SectionEntry& entry : record->entries) {
        if (entry.text == nullptr) continue;
        g_list->sections.push_back(Section{entry.id, entry.parentId, entry.text, entry.left,
                                           static_cast<COLORREF>(entry.textColour),
                                           static_cast<Gdiplus::Bitmap*>(entry.image), entry.selectable != 0});
    }
    const RECT rect = {record->left, record->top, record->left + record->width, record->top + record->height};
    if (g_list->Create(message.window, rect, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_VSCROLL) != nullptr) {
        message.window = *g_list;
        g_list->UpdateScrollRange();
        g_list->CountsChanged();
    }
}

void OnReset(const CommandMessage& message) {
    const auto* notice = static_cast<const standin_pages::DeviceNotice*>(message.extra);
    if (message.code != standin_pages::kDeviceNoticeCode || notice == nullptr) {
        g_list->counts.Clear();  // the relay's reset
        g_list->CountsChanged();
        return;
    }
    if (notice->arrived != nullptr) g_list->counts.Forget(notice->arrived);
    // The first device after none shows no page of another device: the section the host shows stays.
    const bool hadDevice = !g_list->counts.Current().empty();
    const bool changed = g_list->counts.SetCurrent(notice->current != nullptr ? notice->current : "");
    g_list->CountsChanged();
    if (changed && hadDevice && g_list->m_hWnd != nullptr) PostMessageW(*g_list, WM_RESELECT, 0, 0);
}

void __cdecl Receive(CommandMessage* message) {
    try {
        if (message == nullptr) return;
        if (standin_pages::Is(*message, QUARNEL_COMMAND_CREATE_WINDOW)) {
            CreateList(*message);
        } else if (standin_pages::Is(*message, QUARNEL_COMMAND_CHANGE_SIZE)) {
            const auto* rect = static_cast<const RECT*>(message->data);
            if (rect != nullptr && g_list->m_hWnd != nullptr) {
                MoveWindow(*g_list, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
            }
        } else if (standin_pages::Is(*message, QUARNEL_COMMAND_UPDATE_ITEM)) {
            // SectionCount: id, low half of the count, an unset word, high half; `text` names the device.
            const auto* words = static_cast<const uint32_t*>(message->extra);
            if (words != nullptr) {
                g_list->counts.Set(message->text != nullptr ? message->text : "", static_cast<int32_t>(words[0]),
                                   static_cast<int64_t>((static_cast<uint64_t>(words[3]) << 32) | words[1]));
                g_list->CountsChanged();
            }
        } else if (standin_pages::Is(*message, QUARNEL_COMMAND_RESET_NUMBER)) {
            OnReset(*message);
        } else if (standin_pages::Is(*message, QUARNEL_COMMAND_SELECT_ITEM)) {
            // The host's choice (a section update of the relay module, `value4` the section, `text` the device):
            // shown only, so that it does not come back to the host as the user's; one about another device
            // than the current one is not.
            const std::string device = message->text != nullptr ? message->text : "";
            if (device.empty() || g_list->counts.Current().empty() || device == g_list->counts.Current()) {
                g_list->Highlight(static_cast<int32_t>(message->value4));
            }
        }
    } catch (...) {
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) return;
    g_record = record;
    g_list = new SectionListWindow();
    standin_pages::RegisterNames(
        record, &Receive,
        {QUARNEL_COMMAND_CHANGE_SIZE, QUARNEL_COMMAND_CREATE_WINDOW, QUARNEL_COMMAND_RESET_NUMBER,
         QUARNEL_COMMAND_SELECT_ITEM, QUARNEL_COMMAND_UPDATE_ITEM});
}
