// The Win32 side of the plug-in loader: folder listing, library loading and the wide standard output.
// UI thread.
#include <windows.h>

#include <cstdio>

#include "plugin_loader.h"

namespace trv {
namespace {

class Win32PluginLibraryOps final : public PluginLibraryOps {
public:
    bool ListFolder(const std::wstring& pattern, std::vector<PluginFolderEntry>& entries) override {
        WIN32_FIND_DATAW data = {};
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return false;
        }
        do {
            entries.push_back(
                PluginFolderEntry{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return true;
    }

    TrvModule Load(const std::wstring& path, unsigned long& lastError) override {
        HMODULE module = LoadLibraryW(path.c_str());
        lastError = GetLastError();
        return module;
    }

    RegisterModuleFunction FindRegisterModule(TrvModule module) override {
        return reinterpret_cast<RegisterModuleFunction>(
            reinterpret_cast<void*>(GetProcAddress(module, TRV_REGISTER_MODULE_EXPORT)));
    }

    void Unload(TrvModule module) override { FreeLibrary(module); }

    void WriteLine(const std::wstring& line) override {
        fputws(line.c_str(), stdout);
        fputws(L"\n", stdout);
        fflush(stdout);
    }
};

}  // namespace

PluginLibraryOps& SystemPluginLibraryOps() {
    static Win32PluginLibraryOps* ops = new Win32PluginLibraryOps();
    return *ops;
}

}  // namespace trv
