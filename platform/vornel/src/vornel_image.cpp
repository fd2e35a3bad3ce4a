// Images through GDI+; see VNLUtilityImage.h.
#include "vornel/VNLUtilityImage.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

Gdiplus::Bitmap* VNLUtilityImage::GetBitmap(const wchar_t* path, int dpiX, int dpiY) {
    if (path == nullptr) return nullptr;
    // Bitmap(file) keeps the file open for the bitmap's life; the copy below lets the theme folder be
    // replaced while the program runs.
    std::unique_ptr<Gdiplus::Bitmap> file(Gdiplus::Bitmap::FromFile(path));
    if (!file || file->GetLastStatus() != Gdiplus::Ok) return nullptr;
    const INT width = static_cast<INT>(file->GetWidth());
    const INT height = static_cast<INT>(file->GetHeight());
    if (width <= 0 || height <= 0) return nullptr;
    std::unique_ptr<Gdiplus::Bitmap> copy(new Gdiplus::Bitmap(width, height, PixelFormat32bppARGB));
    if (copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
    {
        Gdiplus::Graphics graphics(copy.get());
        graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        if (graphics.DrawImage(file.get(), 0, 0, width, height) != Gdiplus::Ok) return nullptr;
    }
    copy->SetResolution(static_cast<Gdiplus::REAL>(dpiX), static_cast<Gdiplus::REAL>(dpiY));
    return copy.release();
}

Gdiplus::Bitmap* VNLUtilityImage::ConvertToGray(Gdiplus::Bitmap* bitmap) {
    if (bitmap == nullptr) return nullptr;
    const INT width = static_cast<INT>(bitmap->GetWidth());
    const INT height = static_cast<INT>(bitmap->GetHeight());
    std::unique_ptr<Gdiplus::Bitmap> gray(new Gdiplus::Bitmap(width, height, PixelFormat32bppARGB));
    if (gray->GetLastStatus() != Gdiplus::Ok) return nullptr;
    // Luminance weights of ITU-R BT.601; alpha passes through unchanged.
    Gdiplus::ColorMatrix matrix = {{{0.299f, 0.299f, 0.299f, 0, 0},
                                    {0.587f, 0.587f, 0.587f, 0, 0},
                                    {0.114f, 0.114f, 0.114f, 0, 0},
                                    {0, 0, 0, 1, 0},
                                    {0, 0, 0, 0, 1}}};
    Gdiplus::ImageAttributes attributes;
    attributes.SetColorMatrix(&matrix);
    Gdiplus::Graphics graphics(gray.get());
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    const Gdiplus::Rect target(0, 0, width, height);
    if (graphics.DrawImage(bitmap, target, 0, 0, width, height, Gdiplus::UnitPixel, &attributes) != Gdiplus::Ok) {
        return nullptr;
    }
    return gray.release();
}
