#pragma once
// File questions and the folder chooser. Returned strings are heap copies freed with
// VNLUtilityString::Free. UI thread for SelectFolder, any thread otherwise.

#include <windows.h>

#include <cstdint>

#include "vornel_export.h"

class VNL_API VNLUtilityFile {
public:
    // True for an existing file (not a folder).
    static bool IsFileExist(const wchar_t* path);
    // The chosen folder, or null when the user cancels.
    static wchar_t* SelectFolder(HWND owner, const wchar_t* caption);
    static wchar_t* QVGetFormatSizeFromBytes(uint64_t bytes);
};
