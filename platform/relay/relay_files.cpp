// The desktop's files as the relay's features reach them; see relay_files.h.
#include "relay_files.h"

#include <windows.h>

#include "relay_paths.h"
#include "vnl_utf8.h"

namespace relay {

bool WriteNewDesktopFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
    if (folder.empty() || bytes.size() > MAXDWORD) {
        return false;
    }
    const std::wstring path = folder + (folder.back() == L'\\' || folder.back() == L'/' ? L"" : L"\\") + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;  // there already, or the folder cannot take it
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    const bool closed = CloseHandle(file) != FALSE;
    if (!whole || !closed) {
        DeleteFileW(path.c_str());  // a half-written export is worse than none
        return false;
    }
    return true;
}

bool ReadWholeDesktopFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= limitBytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() ||
             (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
    }
    CloseHandle(file);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}

std::wstring ServicePathOfDesktopPath(const std::wstring& path) {
    std::wstring converted = ToServicePath(path);
    if (!converted.empty() || path.empty()) {
        return converted;
    }
    // Any other drive (the folder chooser offers the user's own folders on C:) is asked of Wine, which maps
    // every drive to a Linux folder; its answer is on the process heap, in UTF-8.
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto unixName =
        kernel != nullptr
            ? reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
            : nullptr;
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    if (name != nullptr) {
        converted = vnl::WideFromUtf8(name);
        HeapFree(GetProcessHeap(), 0, name);
    }
    return converted;
}

}  // namespace relay
