#pragma once
// CThemedShadowWnd: a soft drop shadow for a borderless window. The shadow is a separate layered,
// click-through, never-activated top-level window that sits directly behind its owner, offset down and
// to the right, painted with a rounded-rectangle gradient of which only the right and bottom margins
// show. It follows the owner's moves, size changes, activation and visibility by subclassing the owner's
// window procedure; a process-wide map from owner to shadow lets the shared owner procedure find it.
// The owner object owns the shadow object; the shadow window dies with the owner window. UI thread only.

#include <windows.h>

#include <memory>

#include <wtl/CWindowImpl.h>
#include <wtl/GdiObjects.h>
#include <wtl/message_map.h>

namespace Gdiplus {
class Bitmap;
class GraphicsPath;
}  // namespace Gdiplus

class CThemedShadowWnd : public wtl::CWindowImpl<CThemedShadowWnd> {
public:
    DECLARE_WND_CLASS_EX(L"TrevaneThemedShadow", 0, nullptr)

    CThemedShadowWnd();
    ~CThemedShadowWnd() override;

    BEGIN_MSG_MAP(CThemedShadowWnd)
    MSG_WM_CREATE(OnCreate)
    MESSAGE_HANDLER_DECLINABLE(WM_SIZE, OnSize)
    END_MSG_MAP()

    // Set before CreateFor.
    void SetOffset(int pixels) { m_offset = pixels; }
    int Offset() const { return m_offset; }
    // Creates the shadow for `owner` (WS_VISIBLE only, empty rectangle, no parent, no name).
    HWND CreateFor(HWND owner);
    // Moves the shadow behind the owner at the offset and rebuilds its image when its size changed.
    void UpdatePosition();

private:
    LRESULT OnCreate(CREATESTRUCTW*);
    bool OnSize(WPARAM, LPARAM, LRESULT&);
    void DrawShadow();

    static LRESULT CALLBACK OwnerProc(HWND owner, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_owner = nullptr;
    WNDPROC m_ownerPreviousProc = nullptr;
    int m_offset = 5;
    RECT m_client = {};
    std::unique_ptr<Gdiplus::Bitmap> m_image;
    wtl::UniqueBitmap m_imageBitmap;
    std::unique_ptr<Gdiplus::GraphicsPath> m_path;
    bool m_redraw = false;
    int m_inset = 1;
};
