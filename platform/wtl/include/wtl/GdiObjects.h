#pragma once
// Owners for GDI objects and device contexts: every created brush, pen, font, bitmap and region, every
// paint/get/memory DC, and every selection is released by its owner's destructor, so drawing code never
// calls DeleteObject, ReleaseDC or EndPaint itself. Borrowed objects (stock objects, cached bitmaps) are
// never put in an owner. UI thread only.

#include <windows.h>

#include <memory>
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

// Owns a DC made with CreateCompatibleDC (a memory DC without a bitmap of its own).
class CompatibleDC {
public:
    explicit CompatibleDC(HDC target) : m_dc(::CreateCompatibleDC(target)) {}
    ~CompatibleDC() {
        if (m_dc != nullptr) ::DeleteDC(m_dc);
    }
    CompatibleDC(const CompatibleDC&) = delete;
    CompatibleDC& operator=(const CompatibleDC&) = delete;
    HDC get() const { return m_dc; }

private:
    HDC m_dc;
};

// The desktop's buffered paint: an off-screen DC with a bitmap compatible with `target`, of the given
// size; CopyTo puts it on screen.
class MemoryDC {
public:
    MemoryDC(HDC target, int width, int height)
        : m_width(width > 0 ? width : 1),
          m_height(height > 0 ? height : 1),
          m_dc(target),
          m_bitmap(::CreateCompatibleBitmap(target, m_width, m_height)),
          m_select(m_dc.get(), m_bitmap.get()) {}
    ~MemoryDC() = default;
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    HDC get() const { return m_dc.get(); }
    bool IsValid() const { return m_dc.get() != nullptr && m_bitmap; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void CopyTo(HDC target, int x, int y, int width, int height) const {
        ::BitBlt(target, x, y, width, height, m_dc.get(), 0, 0, SRCCOPY);
    }

private:
    int m_width;
    int m_height;
    // Declaration order matters: the selection is undone before the bitmap and the DC go.
    CompatibleDC m_dc;
    UniqueBitmap m_bitmap;
    SelectGuard m_select;
};

// A MemoryDC that a control keeps between paints: grown when a paint needs more room, never shrunk.
class MemoryCanvas {
public:
    // A DC of at least width x height compatible with `target`; null when GDI refuses.
    HDC Prepare(HDC target, int width, int height) {
        if (m_buffer != nullptr && width <= m_buffer->Width() && height <= m_buffer->Height()) return m_buffer->get();
        m_buffer.reset();
        auto buffer = std::make_unique<MemoryDC>(target, width, height);
        if (!buffer->IsValid()) return nullptr;
        m_buffer = std::move(buffer);
        return m_buffer->get();
    }

private:
    std::unique_ptr<MemoryDC> m_buffer;
};

}  // namespace wtl
