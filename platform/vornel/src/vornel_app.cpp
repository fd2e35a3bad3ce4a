// Program folders, fonts and shell opening; see VNLUtilityApp.h. Any thread.
#include "vornel/VNLUtilityApp.h"

#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "heap_text.h"
#include "vornel/VNLUtilityString.h"

namespace {

std::wstring ModuleFileName() {
    // Long paths are possible; grow until the name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (length == 0) return std::wstring();
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        if (name.size() >= 32768) return std::wstring();
        name.resize(name.size() * 2);
    }
}

std::wstring InstallFolder() {
    const std::wstring module = ModuleFileName();
    const size_t slash = module.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : module.substr(0, slash + 1);
}

}  // namespace

wchar_t* VNLUtilityApp::GetProductInstallDir() { return vnl::HeapCopy(InstallFolder()); }
wchar_t* VNLUtilityApp::GetProductPluginsDir() { return vnl::HeapCopy(InstallFolder() + L"plugins\\"); }
wchar_t* VNLUtilityApp::GetProductThemesDir() { return vnl::HeapCopy(InstallFolder() + L"themes\\"); }
wchar_t* VNLUtilityApp::GetAppModule() { return vnl::HeapCopy(ModuleFileName()); }

HFONT VNLUtilityApp::GetFont(int sizePixels, bool bold, const wchar_t* face) {
    // A negative height asks for the character height, which is what a pixel size means.
    return CreateFontW(-sizePixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       face != nullptr ? face : L"Arial");
}

bool VNLUtilityApp::OpenFolder(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return false;
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

bool VNLUtilityApp::OpenUrl(const char* utf8Url) {
    if (utf8Url == nullptr || utf8Url[0] == '\0') return false;
    wchar_t* url = VNLUtilityString::ConvertUtf8ToUnicode(utf8Url);
    if (url == nullptr) return false;
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOWNORMAL));
    VNLUtilityString::Free(url);
    return result > 32;
}
