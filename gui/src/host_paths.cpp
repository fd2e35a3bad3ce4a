// Host file-system names; see host_paths.h.
#include "host_paths.h"

#include <cwctype>

namespace trv {

std::wstring LogFolderPath(const std::wstring& tempFolder, const std::wstring& brand, const std::wstring& date) {
    return tempFolder + brand + L"\\" + date;
}

std::vector<std::wstring> FolderLevels(const std::wstring& folder) {
    std::wstring path = folder;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    // Skip the root: "C:\" or "\\server\share\", which cannot be created.
    size_t start = 0;
    if (path.size() >= 2 && path[1] == L':') {
        start = 3;
    } else if (path.compare(0, 2, L"\\\\") == 0) {
        const size_t server = path.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? std::wstring::npos : path.find(L'\\', server + 1);
        start = share == std::wstring::npos ? path.size() : share + 1;
    }
    std::vector<std::wstring> levels;
    for (size_t at = start; at < path.size();) {
        size_t next = path.find_first_of(L"\\/", at);
        if (next == std::wstring::npos) next = path.size();
        if (next > at) levels.push_back(path.substr(0, next));
        at = next + 1;
    }
    return levels;
}

std::wstring DumpPathIn(const std::wstring& logFolder, const std::wstring& startTime) {
    return logFolder + L"\\" + startTime + L".dmp";
}

std::wstring FolderOfPath(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::wstring PreferencesPathFor(const std::wstring& appDataFolder, const std::wstring& brand,
                                const std::wstring& installFolder,
                                const std::function<bool(const std::wstring&)>& fileExists) {
    const std::wstring base = appDataFolder + brand + L"\\";
    const size_t at = installFolder.find(base);
    if (at == std::wstring::npos) {
        return std::wstring();
    }
    // The preferences folder is the product's own folder right below the base: for the install folder
    // "AppData\Solvak\X\bin\" it is "AppData\Solvak\X\".
    const size_t slash = installFolder.find(L'\\', at + base.size());
    if (slash == std::wstring::npos) {
        return std::wstring();
    }
    const std::wstring folder = installFolder.substr(0, slash + 1);
    const std::wstring recommended = folder + L"Preferences-Recommend.json";
    return fileExists(recommended) ? recommended : folder + L"Preferences.json";
}

bool IsIgnoredLogEntry(const std::wstring& name) { return !name.empty() && name[0] == L'.'; }

bool IsCrashReportArchive(const std::wstring& name) {
    std::wstring lower;
    for (wchar_t c : name) {
        lower.push_back(static_cast<wchar_t>(std::towlower(c)));
    }
    return lower.find(L".zip") != std::wstring::npos;
}

}  // namespace trv
