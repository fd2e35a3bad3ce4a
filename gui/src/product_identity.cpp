// Product identity texts and the personal folder; see product_identity.h.
#include "product_identity.h"

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#endif

namespace trv {
namespace {

// The stored name uses '|' where the displayed name has a blank.
constexpr char kStoredProductName[] = "Solvak|Trevane";
constexpr char kVersion[] = "2.6.21";
// Pinned to the release's build date rather than __DATE__, so that every build shows the same year.
constexpr char kBuildDate[] = "Jan  8 2020";

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::string ProductNameA() {
    std::string name = kStoredProductName;
    for (char& c : name) {
        if (c == '|') {
            c = ' ';
        }
    }
    return name;
}

std::wstring ProductNameW() { return Widen(ProductNameA()); }
std::wstring BrandWordW() { return L"Solvak"; }
std::string VersionA() { return kVersion; }
std::wstring VersionW() { return Widen(kVersion); }

std::wstring BuildYearW() {
    const std::string date = kBuildDate;
    return Widen(date.substr(date.find_last_of(' ') + 1));
}

std::wstring DocumentsFolder() {
#ifdef _WIN32
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return path;
    }
#endif
    return std::wstring();
}

std::wstring PersonalProductFolderIn(const std::wstring& documents) {
    return documents + L"\\" + ProductNameW() + L"\\";
}

std::wstring PersonalProductFolder() {
    std::wstring folder = PersonalProductFolderIn(DocumentsFolder());
#ifdef _WIN32
    // An existing folder is the usual case; the result does not matter to the caller.
    CreateDirectoryW(folder.c_str(), nullptr);
#endif
    return folder;
}

std::wstring SingleInstanceMutexName() { return L"Global_" + ProductNameW() + L"_" + VersionW(); }

}  // namespace trv
