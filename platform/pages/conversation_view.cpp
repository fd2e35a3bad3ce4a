// The conversation window of the messages page; see conversation_view.h. The window and the list
// watcher are CWindowImpl objects: the watcher subclasses the page's list view and lets every message go
// on to it, and deletes itself with the list; the window's object is made once and kept for the process,
// its window made again when a conversation is opened after its user closed it.
#include "conversation_view.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include <vornel/VNLUtilityApp.h>
#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "relay_tables.h"
#include "standin_module.h"

namespace standin_pages {
namespace {

constexpr int kWidthPixels = 720;
constexpr int kHeightPixels = 480;
constexpr int kCellMarginPixels = 14;

class ConversationWindow : public wtl::CWindowImpl<ConversationWindow> {
public:
    DECLARE_WND_CLASS_EX(L"SorvadConversation", 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1))
    BEGIN_MSG_MAP(ConversationWindow)
    MESSAGE_HANDLER_EX(WM_SIZE, OnSize)
    END_MSG_MAP()

    // Makes the window (hidden) when it is not there; false when it cannot be made.
    bool Make(HWND owner) {
        if (m_hWnd != nullptr) return true;
        RECT ownerRect = {};
        GetWindowRect(owner, &ownerRect);
        const int left = ownerRect.left + std::max(0L, (ownerRect.right - ownerRect.left - kWidthPixels) / 2);
        const int top = ownerRect.top + std::max(0L, (ownerRect.bottom - ownerRect.top - kHeightPixels) / 2);
        const RECT rect = {left, top, left + kWidthPixels, top + kHeightPixels};
        if (Create(owner, rect, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN) == nullptr) return false;
        m_list =
            CreateWindowExW(0, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                            0, 0, 0, 0, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (m_list == nullptr) {
            DestroyWindow(m_hWnd);
            return false;
        }
        static HFONT font = VNLUtilityApp::GetFont(15, false, L"Arial");
        SendMessageW(m_list, WM_SETFONT,
                     reinterpret_cast<WPARAM>(font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_LABELTIP);
        for (size_t i = 0; i < std::size(relay::kConversation); ++i) {
            const relay::Column& column = relay::kConversation[i];
            LVCOLUMNW entry = {};
            entry.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
            entry.fmt = LVCFMT_LEFT;
            entry.cx = ListTextWidth(m_list, column.name) + 2 * kCellMarginPixels;
            entry.pszText = const_cast<wchar_t*>(column.name);
            SendMessageW(m_list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&entry));
        }
        Layout();
        return true;
    }

    void Fill(const TextItem& record) {
        const std::wstring with = record.fields.empty() ? std::wstring() : record.fields[0];
        SetWindowTextW(m_hWnd, (L"Conversation with " + with).c_str());
        SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
        SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
        std::vector<int> widths;
        for (const relay::Column& column : relay::kConversation) {
            widths.push_back(ListTextWidth(m_list, column.name) + 2 * kCellMarginPixels);
        }
        int row = 0;
        for (const std::vector<std::wstring>& message : record.details) {
            if (InsertListRow(m_list, row, message, widths.size()) < 0) continue;
            for (size_t column = 0; column < widths.size() && column < message.size(); ++column) {
                widths[column] =
                    std::max(widths[column], std::min(ListTextWidth(m_list, message[column]) + kCellMarginPixels,
                                                      relay::kConversation[column].maxWidthPixels));
            }
            ++row;
        }
        for (size_t column = 0; column < widths.size(); ++column) {
            SendMessageW(m_list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(widths[column], 0));
        }
        SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_list, nullptr, TRUE);
        ShowWindow(m_hWnd, SW_SHOWNORMAL);
        SetForegroundWindow(m_hWnd);
    }

private:
    void Layout() {
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        MoveWindow(m_list, 0, 0, client.right, client.bottom, TRUE);
    }

    LRESULT OnSize(WPARAM, LPARAM) {
        Layout();
        return 0;
    }

    void OnFinalMessage(HWND) override { m_list = nullptr; }

    HWND m_list = nullptr;
};

// Watches one page list for the gestures that open a row; every message goes on to the list.
class RowOpener : public wtl::CWindowImpl<RowOpener> {
public:
    BEGIN_MSG_MAP(RowOpener)
    MESSAGE_HANDLER_DECLINABLE(WM_LBUTTONDBLCLK, OnDoubleClick)
    MESSAGE_HANDLER_DECLINABLE(WM_KEYDOWN, OnKeyDown)
    END_MSG_MAP()

    explicit RowOpener(RowRecord recordOf) : m_recordOf(recordOf) {}

private:
    bool OnDoubleClick(WPARAM wParam, LPARAM lParam, LRESULT& result) {
        result = DefWindowProc(WM_LBUTTONDBLCLK, wParam, lParam);
        LVHITTESTINFO hit = {};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int row = static_cast<int>(SendMessageW(m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        Open(row);
        return true;
    }

    bool OnKeyDown(WPARAM wParam, LPARAM lParam, LRESULT& result) {
        result = DefWindowProc(WM_KEYDOWN, wParam, lParam);
        if (wParam == VK_RETURN) Open(static_cast<int>(SendMessageW(m_hWnd, LVM_GETNEXTITEM, -1, LVNI_SELECTED)));
        return true;
    }

    void Open(int row) {
        if (row < 0) return;
        if (const std::shared_ptr<const TextItem> record = m_recordOf(m_hWnd, row)) ShowConversation(m_hWnd, *record);
    }

    void OnFinalMessage(HWND) override { delete this; }

    RowRecord m_recordOf;
};

}  // namespace

void OpenDetailsOnDoubleClick(HWND list, RowRecord recordOf) {
    auto* opener = new RowOpener(recordOf);
    if (!opener->SubclassWindow(list)) delete opener;
}

bool ShowConversation(HWND owner, const TextItem& record) {
    static ConversationWindow* window = new ConversationWindow();  // kept for the process
    if (record.details.empty() || !window->Make(GetAncestor(owner, GA_ROOT))) return false;
    window->Fill(record);
    return true;
}

}  // namespace standin_pages
