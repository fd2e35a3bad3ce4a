#pragma once
// Owners for GDI objects and device contexts: every created brush, pen, font, bitmap and region, every
// paint/get/memory DC, and every selection is released by its owner's destructor, so drawing code never
// calls DeleteObject, ReleaseDC or EndPaint itself. Borrowed objects (stock objects, cached bitmaps) are
// never put in an owner. UI thread only.

#include <windows.h>

#include <utility>

namespace wtl {

template <typename Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : m_handle(handle) {}
    ~GdiObject() { Reset(); }
    GdiObject(GdiObject&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Gives up ownership, for calls that take it over (SetWindowRgn takes its region).
    Handle release() { return std::exchange(m_handle, nullptr); }
    void Reset(Handle handle = nullptr) {
        if (m_handle != nullptr) {
            ::DeleteObject(m_handle);
        }
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

using UniqueBrush = GdiObject<HBRUSH>;
using UniquePen = GdiObject<HPEN>;
using UniqueFont = GdiObject<HFONT>;
using UniqueBitmap = GdiObject<HBITMAP>;
using UniqueRegion = GdiObject<HRGN>;

// Selects an object into a DC and puts the previous one back on destruction.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~SelectGuard() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            ::SelectObject(m_dc, m_previous);
        }
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

class PaintDC {
public:
    explicit PaintDC(HWND window) : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
    ~PaintDC() { ::EndPaint(m_window, &m_paint); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    HDC get() const { return m_dc; }
    const PAINTSTRUCT& paint() const { return m_paint; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint = {};
    HDC m_dc;
};

class WindowDC {
public:
    explicit WindowDC(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDC() {
        if (m_dc != nullptr) ::ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// An off-screen DC with a bitmap compatible with `target`, of the given size; CopyTo puts it on screen.
class MemoryDC {
public:
    MemoryDC(HDC target, int width, int height)
        : m_dc(::CreateCompatibleDC(target)),
          m_bitmap(::CreateCompatibleBitmap(target, width > 0 ? width : 1, height > 0 ? height : 1)),
          m_select(m_dc.dc, m_bitmap.get()) {}
    ~MemoryDC() = default;
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    HDC get() const { return m_dc.dc; }
    bool IsValid() const { return m_dc.dc != nullptr && m_bitmap; }
    void CopyTo(HDC target, int x, int y, int width, int height) const {
        ::BitBlt(target, x, y, width, height, m_dc.dc, 0, 0, SRCCOPY);
    }

private:
    struct OwnedDC {
        explicit OwnedDC(HDC handle) : dc(handle) {}
        ~OwnedDC() {
            if (dc != nullptr) ::DeleteDC(dc);
        }
        HDC dc;
    };
    // Declaration order matters: the selection is undone before the bitmap and the DC go.
    OwnedDC m_dc;
    UniqueBitmap m_bitmap;
    SelectGuard m_select;
};

}  // namespace wtl
