#pragma once
// System folders and the local time as text. Thread-safe.

#include <cstddef>

#include "vornel_export.h"

class VNL_API VNLUtilitySys {
public:
    // The user's application-data folder with a trailing backslash (heap copy), "" when unknown.
    static wchar_t* GetAppDataDir();
    // Writes the local time in the wcsftime `format` into `buffer` (always terminated); returns `buffer`.
    static wchar_t* GetNowDateTime(wchar_t* buffer, size_t count, const wchar_t* format);
};
