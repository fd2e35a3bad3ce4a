// System folders and local time text; see VNLUtilitySys.h. Any thread.
#include "vornel/VNLUtilitySys.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>

#include "heap_text.h"

wchar_t* VNLUtilitySys::GetAppDataDir() {
    wchar_t path[MAX_PATH + 1] = {};
    size_t length = 0;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
        length = wcslen(path);
        if (length > 0 && path[length - 1] != L'\\') {
            path[length++] = L'\\';
            path[length] = L'\0';
        }
    }
    return vnl::HeapCopy(std::wstring(path, length));
}

wchar_t* VNLUtilitySys::GetNowDateTime(wchar_t* buffer, size_t count, const wchar_t* format) {
    if (buffer == nullptr || count == 0) return buffer;
    buffer[0] = L'\0';
    if (format == nullptr) return buffer;
    const time_t now = time(nullptr);
    struct tm local = {};
    if (localtime_s(&local, &now) != 0) return buffer;
    // The system runtime may fill a too-small buffer without a terminator and still report the count;
    // anything that does not fit whole is no answer.
    const size_t written = wcsftime(buffer, count, format, &local);
    if (written == 0 || written >= count) {
        buffer[0] = L'\0';
    } else {
        buffer[written] = L'\0';
    }
    return buffer;
}
