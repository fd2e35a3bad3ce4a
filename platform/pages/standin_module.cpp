// Shared helpers of the page stand-ins; see standin_module.h.
#include "standin_module.h"

#include <cstring>

#include <vornel/VNLUserDefaults.h>
#include <vornel/VNLUtilityApp.h>
#include <wtl/GdiObjects.h>

namespace pages {

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
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

std::wstring ModelName(const std::string& productType) {
    static const struct {
        const char* type;
        const wchar_t* model;
    } kModels[] = {
        {"iPhone8,1", L"iPhone 6s"},       {"iPhone8,2", L"iPhone 6s Plus"}, {"iPhone8,4", L"iPhone SE"},
        {"iPhone9,1", L"iPhone 7"},        {"iPhone9,3", L"iPhone 7"},       {"iPhone9,2", L"iPhone 7 Plus"},
        {"iPhone9,4", L"iPhone 7 Plus"},   {"iPhone10,1", L"iPhone 8"},      {"iPhone10,4", L"iPhone 8"},
        {"iPhone10,2", L"iPhone 8 Plus"},  {"iPhone10,5", L"iPhone 8 Plus"}, {"iPhone10,3", L"iPhone X"},
        {"iPhone10,6", L"iPhone X"},       {"iPhone11,2", L"iPhone XS"},     {"iPhone11,6", L"iPhone XS Max"},
        {"iPhone11,8", L"iPhone XR"},      {"iPhone12,1", L"iPhone 11"},     {"iPhone12,3", L"iPhone 11 Pro"},
        {"iPhone12,5", L"iPhone 11 Pro Max"},
    };
    for (const auto& entry : kModels) {
        if (productType == entry.type) return entry.model;
    }
    return std::wstring(productType.begin(), productType.end());  // product types are ASCII
}

}  // namespace pages
