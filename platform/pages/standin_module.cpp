// Shared helpers of the page stand-ins; see standin_module.h.
#include "standin_module.h"

#include <commctrl.h>

#include <cstring>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUserDefaults.h>
#include <vornel/VNLUtilityApp.h>
#include <wtl/GdiObjects.h>

#include "command_names.h"
#include "vnl_utf8.h"

namespace standin_pages {

void RegisterNames(ModuleRecord* record, CommandReceiver receiver, std::initializer_list<const char*> names) {
    record->receive = receiver;
    CommandMessage message{};
    message.kind = COMMAND_KIND_REGISTER;
    message.owner = record->module;
    for (const char* name : names) {
        message.name = name;
        record->send(&message);
    }
}

void Invoke(ModuleRecord* record, const char* name, CommandMessage& message) {
    if (record == nullptr || record->send == nullptr) {
        return;
    }
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    record->send(&message);
}

bool Is(const CommandMessage& message, const char* name) {
    return message.name != nullptr && std::strcmp(message.name, name) == 0;
}

COLORREF ThemeColour(const char* key, COLORREF fallback) {
    VNLUserDefaults* theme = VNLUserDefaults::GetUserDefaults("url");
    return theme != nullptr ? theme->GetRGB(key, fallback) : fallback;
}

void DrawLine(HDC dc, const std::wstring& text, RECT rect, COLORREF colour, int sizePixels, bool bold) {
    // GetFont makes a new font for each call: it is ours to delete once drawn.
    wtl::UniqueFont font(VNLUtilityApp::GetFont(sizePixels, bold, L"Arial"));
    wtl::SelectGuard selectFont(dc, font ? static_cast<HGDIOBJ>(font.get()) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

int InsertListRow(HWND list, int row, const std::vector<std::wstring>& cells, std::size_t columns) {
    int inserted = -1;
    for (std::size_t column = 0; column < columns; ++column) {
        const std::wstring text = column < cells.size() ? cells[column] : std::wstring();
        LVITEMW cell = {};
        cell.mask = LVIF_TEXT;
        cell.iItem = column == 0 ? row : inserted;
        cell.iSubItem = static_cast<int>(column);
        cell.pszText = const_cast<wchar_t*>(text.c_str());
        if (column == 0) {
            inserted = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&cell)));
            if (inserted < 0) return -1;
        } else {
            SendMessageW(list, LVM_SETITEMTEXTW, inserted, reinterpret_cast<LPARAM>(&cell));
        }
    }
    return inserted;
}

int ListTextWidth(HWND list, const std::wstring& text) {
    return static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void AskHowToFixConnection(ModuleRecord* record) {
    VNLUserDefaults* urls = VNLUserDefaults::GetUserDefaults("url");
    std::wstring address =
        vnl::WideFromUtf8(urls != nullptr ? VNLTakeText(urls->GetString("url:brand")) : std::string());
    CommandMessage message{};
    message.wideText = &address[0];
    Invoke(record, YESTAL_COMMAND_DEVICE_DETECT_SUPPORT, message);
}

}  // namespace standin_pages
