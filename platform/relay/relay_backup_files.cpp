// The desktop's backup folders for the relay's backup requests; see relay_backups.h. UI thread.
#include <windows.h>

#include <string>
#include <vector>

#include "relay_backups.h"
#include "relay_paths.h"

namespace relay {
namespace {

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

// Deletes `folder` (no trailing separator) and everything below it; links are removed, never followed.
bool DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    bool whole = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                  (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            whole = (isFolder ? DeleteTree(path) : DeleteFileW(path.c_str()) != FALSE) && whole;
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(folder.c_str()) != FALSE && whole;
}

class Win32BackupFiles final : public BackupFiles {
public:
    bool DeleteBackupFolder(const std::wstring& desktopPath) override {
        std::wstring folder = desktopPath;
        while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
        // Only a backup folder is deleted: a key that names anything else deletes nothing.
        if (folder.size() < 4 || !IsFile(folder + L"\\Info.plist")) return false;
        return DeleteTree(folder);
    }

    // The device service keeps its backups under the user's configuration folder; the relay names the
    // same folder so that the dialog shows where a backup goes by default.
    std::wstring DefaultBackupFolder() override {
        std::wstring config = Environment(L"XDG_CONFIG_HOME");
        if (config.empty() || config[0] != L'/') {
            const std::wstring home = Environment(L"HOME");
            if (home.empty()) return std::wstring();
            config = home + L"/.config";
        }
        while (config.size() > 1 && config.back() == L'/') config.pop_back();
        return ToDesktopPath(config + L"/Apple Computer/MobileSync/Backup/");
    }
};

}  // namespace

BackupFiles& DesktopBackupFiles() {
    static Win32BackupFiles files;
    return files;
}

}  // namespace relay
