// File questions and the folder chooser; see VNLUtilityFile.h.
#include "vornel/VNLUtilityFile.h"

#include <shlobj.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "vnl_size_text.h"
#include "heap_text.h"

bool VNLUtilityFile::IsFileExist(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

wchar_t* VNLUtilityFile::SelectFolder(HWND owner, const wchar_t* caption) {
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = caption;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) return nullptr;
    wchar_t path[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (!ok) return nullptr;
    return vnl::HeapCopy(path);
}

wchar_t* VNLUtilityFile::QVGetFormatSizeFromBytes(uint64_t bytes) { return vnl::HeapCopy(vnl::FormatByteSize(bytes)); }
