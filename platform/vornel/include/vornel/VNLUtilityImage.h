#pragma once
// Images through GDI+ (started by the program before the first call). Returned bitmaps are new objects
// owned by the caller (delete). UI thread by convention; GDI+ itself allows any.

#include "vornel_export.h"

namespace Gdiplus {
class Bitmap;
}

class VNL_API VNLUtilityImage {
public:
    // The image file as a 32-bit ARGB bitmap held in memory (the file is not kept open), with the given
    // resolution in dots per inch; null when the file is missing or not an image.
    static Gdiplus::Bitmap* GetBitmap(const wchar_t* path, int dpiX, int dpiY);
    // A gray copy with the same alpha; null for a null bitmap.
    static Gdiplus::Bitmap* ConvertToGray(Gdiplus::Bitmap* bitmap);
};
