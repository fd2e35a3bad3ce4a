// The list-page plug-ins' stand-in host; see list_pages_harness.h.
#include "list_pages_harness.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace pages_test {
namespace {

std::map<std::wstring, PluginHost*>& Hosts() {
    static auto* hosts = new std::map<std::wstring, PluginHost*>();
    return *hosts;
}
PluginHost* g_registering = nullptr;  // the host whose plug-in is registering (it sends before it returns)

PluginHost* HostOf(const CommandMessage& message) {
    if (g_registering != nullptr) return g_registering;
    for (auto& entry : Hosts()) {
        if (entry.second->library == static_cast<HMODULE>(message.owner)) return entry.second;
        if (message.name != nullptr && entry.second->doName != nullptr &&
            std::string(message.name) == entry.second->doName) {
            return entry.second;
        }
    }
    return nullptr;
}

// Page commands under names the plug-ins do not own (the version question) go to whichever host's handler
// is set: each test sets only its own plug-in's.
void TRV_CALL HostSend(CommandMessage* message) {
    if (message->kind == COMMAND_KIND_REGISTER) {
        if (g_registering != nullptr && message->name != nullptr) g_registering->registered.push_back(message->name);
        return;
    }
    PluginHost* host = HostOf(*message);
    if (host == nullptr) {
        for (auto& entry : Hosts()) {
            if (entry.second->onSend) host = entry.second;
        }
    }
    if (host == nullptr) return;
    host->codes.push_back(message->code);
    if (host->onSend) host->onSend(*message);
}

}  // namespace

PluginHost& Plugin(const wchar_t* name, const char* showName, const char* doName) {
    auto it = Hosts().find(name);
    if (it != Hosts().end()) return *it->second;
    auto* host = new PluginHost();  // kept for the process: the plug-in keeps the record
    host->showName = showName;
    host->doName = doName;
    Hosts()[name] = host;
    ardena_test::Harness::Get();  // the parent window
    const std::wstring path = std::wstring(TRV_APP_DIR) + L"\\plugins\\" + name + L"\\lib" + name + L".dll";
    host->library = LoadLibraryW(path.c_str());
    auto registerModule = reinterpret_cast<RegisterModuleFunction>(
        reinterpret_cast<void*>(GetProcAddress(host->library, TRV_REGISTER_MODULE_EXPORT)));
    host->record.send = &HostSend;
    host->record.module = host->library;
    host->record.images = ardena_test::ThemeImages();
    g_registering = host;
    if (registerModule != nullptr) registerModule(&host->record);
    g_registering = nullptr;
    return *host;
}

HWND ShowPage(PluginHost& host, const wchar_t* device, const RECT& rect) {
    HWND parent = ardena_test::Harness::Get().parent;
    CommandMessage message{};
    message.name = host.showName;
    message.wideText = const_cast<wchar_t*>(device);
    message.window = parent;
    RECT area = rect;
    message.data = &area;
    if (host.record.receive == nullptr) return nullptr;
    host.record.receive(&message);
    message.window = parent;
    host.record.receive(&message);  // a known page: shown, its window answered
    ardena_test::Pump();
    return message.window == parent ? nullptr : message.window;
}

CommandMessage Reply(PluginHost& host, const wchar_t* device, int64_t code, void* extra) {
    CommandMessage message{};
    message.name = host.doName;
    message.wideText = const_cast<wchar_t*>(device);
    message.code = code;
    message.extra = extra;
    message.status = -1;
    host.record.receive(&message);
    ardena_test::Pump();
    return message;
}

size_t CountCodes(const PluginHost& host, int64_t code) {
    return static_cast<size_t>(std::count(host.codes.begin(), host.codes.end(), code));
}

void PressAndChoose(HWND button, int index) {
    // The press posts the command that opens the menu; the keys queued behind it are the menu's first input.
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ardena_test::QueueMenuChoice(GetParent(button), index);
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    ardena_test::Pump();
}

void SaveShot(HWND window, const char* name) {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TRV_PAGE_SHOTS", folder, MAX_PATH) == 0) return;
    std::wstring path = std::wstring(L"Z:") + folder + L"/" + std::wstring(name, name + strlen(name)) + L".bmp";
    std::replace(path.begin(), path.end(), L'/', L'\\');
    // Pages of other tests share the parent: this one goes on top of them.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    ardena_test::Pump();
    RECT rect = {};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        fwrite(&file, sizeof(file), 1, out);
        fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
        fwrite(bits, 1, stride * static_cast<size_t>(height), out);
        fclose(out);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace pages_test
