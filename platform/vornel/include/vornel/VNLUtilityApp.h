#pragma once
// The program's folders, fonts and shell opening. Folder paths end with a backslash so that names are
// appended directly; every returned path is a heap copy freed with VNLUtilityString::Free. Fonts are new
// GDI objects owned by the caller. Thread-safe.

#include <windows.h>

#include "vornel_export.h"

class VNL_API VNLUtilityApp {
public:
    static wchar_t* GetProductInstallDir();  // the folder of the program file
    static wchar_t* GetProductPluginsDir();  // install folder + "plugins\"
    static wchar_t* GetProductThemesDir();   // install folder + "themes\"
    static wchar_t* GetAppModule();          // the program's full file name
    // A font of `sizePixels` character height; null when the system refuses. The caller deletes it.
    static HFONT GetFont(int sizePixels, bool bold, const wchar_t* face);
    static bool OpenFolder(const wchar_t* path);
    static bool OpenUrl(const char* utf8Url);
};
