#pragma once
// An off-screen canvas that a control keeps between paints: a memory DC with a bitmap compatible with the
// screen, grown when a paint needs more room and never shrunk. The canvas owns the DC, the bitmap and the
// selection; its destructor puts the DC's original bitmap back before deleting either. UI thread only.

#include <windows.h>

#include <wtl/GdiObjects.h>

namespace vnlc {

class MemoryCanvas {
public:
    MemoryCanvas() = default;
    ~MemoryCanvas() { Release(); }
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;

    // A DC of at least width x height compatible with `target`; null when GDI refuses.
    HDC Prepare(HDC target, int width, int height) {
        if (width < 1) width = 1;
        if (height < 1) height = 1;
        if (m_dc != nullptr && width <= m_width && height <= m_height) return m_dc;
        Release();
        m_dc = ::CreateCompatibleDC(target);
        if (m_dc == nullptr) return nullptr;
        m_bitmap.Reset(::CreateCompatibleBitmap(target, width, height));
        if (!m_bitmap) {
            Release();
            return nullptr;
        }
        m_original = ::SelectObject(m_dc, m_bitmap.get());
        m_width = width;
        m_height = height;
        return m_dc;
    }

private:
    void Release() {
        if (m_dc != nullptr) {
            if (m_original != nullptr) ::SelectObject(m_dc, m_original);
            ::DeleteDC(m_dc);
        }
        m_dc = nullptr;
        m_original = nullptr;
        m_bitmap.Reset();
        m_width = 0;
        m_height = 0;
    }

    HDC m_dc = nullptr;
    HGDIOBJ m_original = nullptr;
    wtl::UniqueBitmap m_bitmap;
    int m_width = 0;
    int m_height = 0;
};

// Owns a DC made with CreateCompatibleDC for one drawing.
class OwnedMemoryDC {
public:
    explicit OwnedMemoryDC(HDC target) : m_dc(::CreateCompatibleDC(target)) {}
    ~OwnedMemoryDC() {
        if (m_dc != nullptr) ::DeleteDC(m_dc);
    }
    OwnedMemoryDC(const OwnedMemoryDC&) = delete;
    OwnedMemoryDC& operator=(const OwnedMemoryDC&) = delete;
    HDC get() const { return m_dc; }

private:
    HDC m_dc;
};

}  // namespace vnlc
