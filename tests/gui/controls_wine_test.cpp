// The control set and the host dialogs under Wine: presses reported at button-down, hover states,
// placement from the parent's edges, the drop-down rule of the image switch, the shadow following its
// owner, the dialog base's parent disabling, and the alert's end codes and button corner.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "CThemedShadowWnd.h"
#include "VNLEdit.h"
#include "UiAlertDialog.h"
#include "UiDialog.h"
#include "UiSheetDialog.h"
#include "VNLImgButton.h"
#include "VNLSwitchButton.h"
#include "VNLSwitchImageButton.h"
#include <wtl/scroll.h>

namespace {

class GdiplusSession : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};
const ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusSession());

// A plain parent window that records the WM_COMMAND messages it receives and reflects owner draw.
struct Parent {
    HWND window = nullptr;
    std::vector<std::pair<WPARAM, LPARAM>> commands;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Parent*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && message == WM_COMMAND) {
            self->commands.emplace_back(wParam, lParam);
            return 0;
        }
        LRESULT reflected = 0;
        if (wtl::ReflectNotification(hwnd, message, wParam, lParam, reflected)) return reflected;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    Parent(int width, int height) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Parent::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TrevaneTestParent";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, L"TrevaneTestParent", L"parent", WS_POPUP | WS_VISIBLE, 100, 100, width, height,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Parent() { DestroyWindow(window); }

    HWND MakeButton(int id, const wchar_t* text = L"") {
        return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    }
    // Dispatches everything queued for this thread (posted WM_COMMANDs arrive this way).
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
};

std::unique_ptr<Gdiplus::Bitmap> SolidBitmap(int width, int height, Gdiplus::ARGB colour) {
    auto bitmap = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(bitmap.get());
    graphics.Clear(Gdiplus::Color(colour));
    return bitmap;
}

RECT RectInParent(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

TEST(ScrollRequest, EachRequestMovesByItsStepAndTheThumbToItsWholePosition) {
    SCROLLINFO bar = {};
    bar.nMin = 0;
    bar.nMax = 100000;
    bar.nPage = 120;
    bar.nPos = 300;
    bar.nTrackPos = 70000;  // beyond the 16 bits of the message's own thumb position
    const struct {
        WORD request;
        int position;
    } moves[] = {{SB_LINEUP, 293},       {SB_LINEDOWN, 307},        {SB_PAGEUP, 180}, {SB_PAGEDOWN, 420},
                 {SB_THUMBTRACK, 70000}, {SB_THUMBPOSITION, 70000}, {SB_TOP, 0},      {SB_BOTTOM, 100000}};
    for (const auto& move : moves) {
        int position = -1;
        EXPECT_TRUE(wtl::ScrollRequestTarget(move.request, bar, 7, &position)) << move.request;
        EXPECT_EQ(position, move.position) << move.request;
    }
    int untouched = -1;
    EXPECT_FALSE(wtl::ScrollRequestTarget(SB_ENDSCROLL, bar, 7, &untouched));
    EXPECT_EQ(untouched, -1);
}

TEST(ImageButton, PressIsReportedOnceAtButtonDownAndPlacedFromTheRightEdge) {
    Parent parent(400, 120);
    auto normal = SolidBitmap(16, 16, 0xFF3A8EE6);
    auto hover = SolidBitmap(16, 16, 0xFF2060A0);
    VNLImgButton button;
    HWND window = parent.MakeButton(5050);
    ASSERT_TRUE(button.SubclassWindow(window));
    button.SetImages(normal.get(), hover.get(), -8, 4);
    const RECT placed = RectInParent(window);
    EXPECT_EQ(placed.left, 400 - 8 - 16);
    EXPECT_EQ(placed.top, 4);
    EXPECT_EQ(placed.right - placed.left, 16);

    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    Parent::Pump();
    ASSERT_EQ(parent.commands.size(), 1u);  // before any button-up
    EXPECT_EQ(LOWORD(parent.commands[0].first), 5050);
    EXPECT_EQ(reinterpret_cast<HWND>(parent.commands[0].second), window);
    EXPECT_EQ(button.State(), 1);
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    Parent::Pump();
    EXPECT_EQ(parent.commands.size(), 1u);
    EXPECT_EQ(button.State(), 0);
    // Owner draw reaches the button through reflection and paints without failing.
    EXPECT_TRUE(RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));
}

TEST(SwitchButton, StatesFollowSwitchModeThroughHoverAndLeave) {
    struct Case {
        bool switchMode;
        int start;
        bool hover;
        int afterHover;
        int afterLeave;
    };
    const Case cases[] = {
        {true, 1, true, 1, 1},  // a selected switch stays selected
        {true, 0, true, 2, 0},
        {false, 1, true, 2, 0},
        {false, 3, false, 3, 3},  // a disabled button stays disabled when the mouse leaves
    };
    Parent parent(300, 100);
    for (const Case& c : cases) {
        VNLSwitchButton button;
        HWND window = parent.MakeButton(5051, L"OK");
        ASSERT_TRUE(button.SubclassWindow(window));
        button.SetSwitchMode(c.switchMode);
        button.SetState(c.start);
        // Hover tracking starts with the first move; a leave counts only while tracking.
        SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        if (c.hover) SendMessageW(window, WM_MOUSEHOVER, 0, MAKELPARAM(2, 2));
        EXPECT_EQ(button.State(), c.afterHover) << c.switchMode << " " << c.start;
        SendMessageW(window, WM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(button.State(), c.afterLeave) << c.switchMode << " " << c.start;
        DestroyWindow(window);
    }
}

TEST(SwitchButton, TextSizeAndPlacementFollowTheMargins) {
    Parent parent(300, 100);
    VNLSwitchButton button;
    HWND window = parent.MakeButton(5051, L"Cancel");
    ASSERT_TRUE(button.SubclassWindow(window));
    button.SetMargins(10, 4);
    button.SetPosition(-10, -10);
    button.SetTextAndPlace(L"Cancel");
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, L"Cancel", 6, &extent);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    EXPECT_EQ(button.PreferredWidth(), extent.cx + 20);
    EXPECT_EQ(button.PreferredHeight(), extent.cy + 8);
    const RECT placed = RectInParent(window);
    EXPECT_EQ(placed.right, 300 - 10);
    EXPECT_EQ(placed.bottom, 100 - 10);
}

TEST(SwitchImageButton, PressOnTheMarkerOfASelectedButtonSendsNothing) {
    Parent parent(400, 100);
    auto image = SolidBitmap(24, 24, 0xFF3A8EE6);
    auto marker = SolidBitmap(8, 6, 0xFF000000);
    VNLSwitchImageButton button;
    HWND window = parent.MakeButton(5008, L"Export");
    ASSERT_TRUE(button.SubclassWindow(window));
    button.SetLayoutMode(2);
    button.SetDropDownImages(marker.get(), marker.get());
    button.SetImages(RGB(0xFF, 0xFF, 0xFF), RGB(0x3A, 0x8E, 0xE6), L"Export", image.get(), image.get());
    const controls::SwitchImageLayout layout = button.Layout();
    ASSERT_TRUE(layout.hasDropDown);
    const LPARAM onMarker = MAKELPARAM(layout.dropDownLeft + 1, layout.dropDownTop + 1);

    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));  // selects it: one report
    Parent::Pump();
    EXPECT_EQ(parent.commands.size(), 1u);
    EXPECT_EQ(button.State(), 1);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, onMarker);  // selected: the marker press is not a report
    Parent::Pump();
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));  // selected: nothing changes
    Parent::Pump();
    EXPECT_EQ(parent.commands.size(), 1u);
}

TEST(ThemedShadow, FollowsItsOwnersMovesAndVisibility) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 200, 150, 300, 200, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    {
        CThemedShadowWnd shadow;
        shadow.SetOffset(12);
        ASSERT_NE(shadow.CreateFor(owner), nullptr);
        EXPECT_NE(GetWindowLongW(shadow.m_hWnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE, 0);
        EXPECT_NE(GetWindowLongW(shadow.m_hWnd, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
        SetWindowPos(owner, nullptr, 230, 140, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        RECT rect = {};
        GetWindowRect(shadow.m_hWnd, &rect);
        EXPECT_EQ(rect.left, 242);
        EXPECT_EQ(rect.top, 152);
        EXPECT_EQ(rect.right - rect.left, 300);
        ShowWindow(owner, SW_HIDE);
        EXPECT_FALSE(IsWindowVisible(shadow.m_hWnd));
        ShowWindow(owner, SW_SHOWNA);
        EXPECT_TRUE(IsWindowVisible(shadow.m_hWnd));
    }
    // With the shadow object gone the owner keeps working.
    EXPECT_TRUE(SetWindowPos(owner, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    DestroyWindow(owner);
}

TEST(DialogBase, ShowingDisablesTheParentAndTheCloseButtonEnablesIt) {
    Parent parent(600, 400);
    auto closeImage = SolidBitmap(16, 16, 0xFFFFFFFF);
    UiDialog dialog(closeImage.get(), closeImage.get());
    ASSERT_EQ(dialog.Create(parent.window, 300, 150), 1);
    ASSERT_NE(dialog.m_hWnd, nullptr);
    RECT rect = {};
    GetWindowRect(dialog.m_hWnd, &rect);
    EXPECT_EQ(rect.left, 100 + (600 - 300) / 2);  // centred on the parent
    EXPECT_EQ(rect.top, 100 + (400 - 150) / 2);
    EXPECT_FALSE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_EQ(dialog.CaptionColour(), RGB(0x7F, 0x7F, 0x7F));  // no "url" store in this process

    dialog.ResetState();
    dialog.Show(SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_FALSE(IsWindowEnabled(parent.window));
    EXPECT_FALSE(dialog.IsClosed());

    HWND close = GetDlgItem(dialog.m_hWnd, 5050);
    ASSERT_NE(close, nullptr);
    const RECT closeRect = RectInParent(close);
    EXPECT_EQ(closeRect.right, 300 - 8);
    EXPECT_EQ(closeRect.top, 4);
    SendMessageW(close, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    Parent::Pump();
    EXPECT_TRUE(IsWindowEnabled(parent.window));
    EXPECT_FALSE(IsWindowVisible(dialog.m_hWnd));
    EXPECT_TRUE(dialog.IsClosed());

    GetWindowRect(dialog.m_hWnd, &rect);
    dialog.MoveBy(15, -4);
    RECT moved = {};
    GetWindowRect(dialog.m_hWnd, &moved);
    EXPECT_EQ(moved.left - rect.left, 15);
    EXPECT_EQ(moved.top - rect.top, -4);
}

namespace {

// Presses a control of the running modal alert from inside its own loop.
std::function<void(HWND)> g_onAlert;

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM found) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK PressFromTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND alert = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindVisibleDialog, reinterpret_cast<LPARAM>(&alert));
    if (alert != nullptr) {
        KillTimer(nullptr, timer);
        g_onAlert(alert);
    }
}

}  // namespace

TEST(AlertDialog, EndsWithTheIdOfTheControlThatClosedIt) {
    Parent parent(600, 400);
    auto closeImage = SolidBitmap(16, 16, 0xFFFFFFFF);
    auto icon = SolidBitmap(48, 48, 0xFFF08A24);
    struct Case {
        int pressed;
        INT_PTR expected;
        bool accepted;
    };
    const Case cases[] = {{5051, 5051, true}, {5052, 5052, false}, {5050, 5050, false}};
    for (const Case& c : cases) {
        UiAlertDialog alert(closeImage.get(), closeImage.get(), icon.get(), true, true, L"Cancel", L"OK");
        alert.SetContent(L"Do you really want to delete the checked contact(s)?", nullptr, parent.window, 400, 120);
        RECT first = {}, second = {};
        SIZE client = {};
        g_onAlert = [&](HWND dialog) {
            RECT area = {};
            GetClientRect(dialog, &area);
            client = SIZE{area.right, area.bottom};
            first = RectInParent(GetDlgItem(dialog, 5051));
            second = RectInParent(GetDlgItem(dialog, 5052));
            EXPECT_FALSE(IsWindowEnabled(parent.window));  // the modal loop disables the parent
            SendMessageW(GetDlgItem(dialog, c.pressed), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        };
        SetTimer(nullptr, 0, 1, &PressFromTimer);
        EXPECT_EQ(alert.Run(), c.expected);
        EXPECT_EQ(alert.Accepted(), c.accepted);
        EXPECT_TRUE(IsWindowEnabled(parent.window));
        // The second button's corner is 10 pixels from the client's right and bottom; the first sits 10
        // pixels to its left on the same row.
        EXPECT_EQ(second.right, client.cx - 10);
        EXPECT_EQ(second.bottom, client.cy - 10);
        EXPECT_EQ(first.right, second.left - 10);
        EXPECT_EQ(first.bottom, second.bottom);
    }
}

TEST(AlertDialog, WithoutASecondButtonTheFirstSitsInTheCorner) {
    Parent parent(600, 400);
    auto closeImage = SolidBitmap(16, 16, 0xFFFFFFFF);
    UiAlertDialog alert(closeImage.get(), closeImage.get(), nullptr, false, false, L"", L"OK");
    alert.SetContent(L"Nothing is checked.", nullptr, parent.window, 240, 100);
    RECT first = {};
    SIZE client = {};
    bool secondVisible = true;
    std::wstring windowText;
    g_onAlert = [&](HWND dialog) {
        RECT area = {};
        GetClientRect(dialog, &area);
        client = SIZE{area.right, area.bottom};
        first = RectInParent(GetDlgItem(dialog, 5051));
        secondVisible = IsWindowVisible(GetDlgItem(dialog, 5052)) != FALSE;
        wchar_t text[128] = {};
        GetWindowTextW(dialog, text, 128);
        windowText = text;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(5051, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, 5051)));
    };
    SetTimer(nullptr, 0, 1, &PressFromTimer);
    EXPECT_EQ(alert.Run(), 5051);
    EXPECT_FALSE(secondVisible);
    EXPECT_EQ(first.right, client.cx - 10);
    EXPECT_EQ(first.bottom, client.cy - 10);
    EXPECT_EQ(windowText, L"Nothing is checked.");
    // Without an icon the message starts 20 pixels in, at the content top.
    EXPECT_EQ(alert.MessageRect().left, 20);
    EXPECT_EQ(alert.MessageRect().top, 40);
}

TEST(SheetDialog, SlidesOpenShowsItsLinkAndHidesItself) {
    Parent parent(900, 566);
    auto closeImage = SolidBitmap(16, 16, 0xFFFFFFFF);
    UiSheetDialog sheet(closeImage.get(), closeImage.get());
    ASSERT_EQ(sheet.Create(parent.window, 900), 1);
    sheet.SetText(L"A new version of (2.7.0) is available.");
    wchar_t text[128] = {};
    GetWindowTextW(sheet.LinkWindow(), text, 128);
    EXPECT_STREQ(text, L"<A HREF=\"notice\">A new version of (2.7.0) is available.</A>");

    sheet.Show(SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(sheet.m_hWnd));
    EXPECT_TRUE(IsWindowEnabled(parent.window));  // a sheet never disables its parent
    auto height = [&] {
        RECT rect = {};
        GetWindowRect(sheet.m_hWnd, &rect);
        return rect.bottom - rect.top;
    };
    EXPECT_EQ(height(), 8);
    std::vector<int> heights;
    for (int tick = 0; tick < 4; ++tick) {
        SendMessageW(sheet.m_hWnd, WM_TIMER, UiSheetDialog::kSlideTimer, 0);
        heights.push_back(height());
    }
    EXPECT_EQ(heights, (std::vector<int>{16, 24, 32, 40}));
    EXPECT_FALSE(IsWindowVisible(sheet.LinkWindow()));
    SendMessageW(sheet.m_hWnd, WM_TIMER, UiSheetDialog::kSlideTimer, 0);  // fully open: the link shows
    EXPECT_TRUE(IsWindowVisible(sheet.LinkWindow()));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(sheet.m_hWnd, 5050)));
    SendMessageW(sheet.m_hWnd, WM_TIMER, UiSheetDialog::kHideTimer, 0);  // five seconds later
    EXPECT_FALSE(IsWindowVisible(sheet.m_hWnd));

    int clicks = 0;
    sheet.SetClickAction([&](UiSheetDialog&) { ++clicks; });
    sheet.ResetState();
    sheet.Show(SW_SHOW);
    NMLINK link = {};
    link.hdr.hwndFrom = sheet.LinkWindow();
    link.hdr.idFrom = UiSheetDialog::kSheetLinkId;
    link.hdr.code = NM_CLICK;
    SendMessageW(sheet.m_hWnd, WM_NOTIFY, UiSheetDialog::kSheetLinkId, reinterpret_cast<LPARAM>(&link));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(sheet.IsDone());
    EXPECT_FALSE(IsWindowVisible(sheet.m_hWnd));
}

TEST(EditBox, PlaceholderComesAndGoesWithFocusAndIsGrey) {
    struct Case {
        bool enabled;
        const wchar_t* initial;
        const wchar_t* focused;
        const wchar_t* unfocused;
        bool grey;
    };
    // clang-format off
    const Case cases[] = {
        {true, L"Search", L"", L"Search", true},           // the placeholder clears on focus, returns on leave
        {true, L"Anna", L"Anna", L"Anna", false},          // real text is kept
        {false, L"", L"", L"", false},                     // disabled: focus never changes the text
        {false, L"Search", L"Search", L"Search", false},
    };
    // clang-format on
    Parent parent(300, 100);
    HWND other = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 50, 100, 20, parent.window, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    for (const Case& c : cases) {
        HWND window =
            CreateWindowExW(0, L"EDIT", c.initial, WS_CHILD | WS_VISIBLE, 0, 0, 200, 24, parent.window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(5006)), GetModuleHandleW(nullptr), nullptr);
        VNLEdit edit;
        ASSERT_TRUE(edit.SubclassWindow(window));
        edit.SetPlaceholder(c.enabled, L"Search");
        auto text = [&] {
            wchar_t buffer[64] = {};
            GetWindowTextW(window, buffer, 64);
            return std::wstring(buffer);
        };
        HDC dc = GetDC(window);
        SetTextColor(dc, RGB(0, 0, 0));
        const LRESULT brush = SendMessageW(parent.window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(window));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)));  // white in every state
        EXPECT_EQ(GetTextColor(dc) == RGB(0x7F, 0x7F, 0x7F), c.grey) << c.initial;
        ReleaseDC(window, dc);
        SetFocus(window);
        EXPECT_EQ(text(), c.focused) << c.initial;
        SetFocus(other);
        EXPECT_EQ(text(), c.unfocused) << c.initial;
        EXPECT_EQ(edit.ShowsPlaceholder(), c.grey) << c.initial;
        DestroyWindow(window);
    }
}

// A user who types exactly the placeholder's text has typed a query: the box does not take it for its
// placeholder, neither while it has the focus nor after; emptied again, the box shows its placeholder.
TEST(EditBox, TypingThePlaceholdersTextIsAText) {
    Parent parent(300, 100);
    HWND other = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 50, 100, 20, parent.window, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND window = CreateWindowExW(0, L"EDIT", L"Search", WS_CHILD | WS_VISIBLE, 0, 0, 200, 24, parent.window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(5006)), GetModuleHandleW(nullptr),
                                  nullptr);
    VNLEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(window));
    edit.SetPlaceholder(true, L"Search");
    EXPECT_TRUE(edit.ShowsPlaceholder());
    SetFocus(window);
    for (const wchar_t c : std::wstring(L"Search")) SendMessageW(window, WM_CHAR, c, 0);
    EXPECT_FALSE(edit.ShowsPlaceholder()) << "typed while focused";
    SetFocus(other);
    EXPECT_FALSE(edit.ShowsPlaceholder()) << "typed, then left";
    SetFocus(window);
    wchar_t buffer[16] = {};
    GetWindowTextW(window, buffer, 16);
    EXPECT_EQ(std::wstring(buffer), L"Search") << "the typed text stays on focus";
    SetWindowTextW(window, L"");
    SetFocus(other);
    EXPECT_TRUE(edit.ShowsPlaceholder()) << "empty and left: the placeholder again";
    DestroyWindow(window);
}
