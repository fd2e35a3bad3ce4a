#pragma once
// What the backup manager and its dialogs draw and do alike: the backup row icon, the title bar and frame, the walk to
// the top-level owner, the tooltip that shows a clicked row's backup key, column widths that fit the texts, dragging by
// the client area and solid fills. UI thread only.

#include <windows.h>

#include <string>
#include <vector>

#include "VNLListView.h"

namespace brisel {

// The list's row image: the encrypted icon for an encrypted backup (the row's item data), else the other.
Gdiplus::Bitmap* BackupRowIcon(VNLListView* list, int row, void*);
// `window`'s top-level window: the parent while it is a child, else the owner, up to the last one.
HWND TopLevelOwnerOf(HWND window);
// A tooltip window for `list`, a child of `owner`; null when it cannot be made.
HWND MakeKeyTooltip(HWND owner, HWND list);
// Pops the tooltip up at once with `key` for 10 seconds.
void ShowKeyTooltip(HWND tooltip, HWND owner, HWND list, const std::wstring& key);
// Sets the widths of `list`'s columns from their `shares` of its client width (less a vertical scroll bar),
// moved so that a full time text first, then the captions and the rows' texts fit where the list has room
// (FitColumns). The first column holds the row number, after the check box image `checkWidth` wide (0: none).
void FitListColumns(VNLListView& list, HFONT font, const std::vector<int>& shares, int checkWidth);
// Drags `window` as if by its caption.
void StartDrag(HWND window);
void FillSolid(HDC dc, const RECT& rect, COLORREF colour);
// An unfilled rectangle drawn with a pen `penWidth` wide.
void FrameRectangle(HDC dc, const RECT& rect, COLORREF colour, int penWidth);
// The windows' frame: the title bar (1, 1) to (right - 1, `titleBottom`) in `titleColour` with `title` in
// white and `font` from x 12, and a one-pixel grey frame around `client`.
void PaintTitleFrame(HDC dc, const RECT& client, int titleBottom, COLORREF titleColour, HFONT font,
                     const wchar_t* title);

}  // namespace brisel
