// Dialog test harness; see dialog_harness.h.
#include "dialog_harness.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host_commands.h"
#include "host_messages.h"
#include "posted_commands.h"
#include "theme_images.h"

namespace dialog_test {
namespace {

constexpr int kInkTolerance = 24;

std::function<void(HWND)> g_answer;
UINT_PTR g_answerTimer = 0;

LRESULT CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_RUN_TASK) {
        std::unique_ptr<HostTask> task(reinterpret_cast<HostTask*>(wParam));
        if (task && *task) (*task)();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The main view runs the posted commands, as MainFrameView does.
LRESULT CALLBACK ViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_POSTED_COMMAND) {
        std::unique_ptr<char, decltype(&std::free)> name(reinterpret_cast<char*>(wParam), &std::free);
        trv::OnPostedCommand(window, lParam, name.get());
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || !g_answer) return;
    KillTimer(nullptr, g_answerTimer);
    g_answerTimer = 0;
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    auto answer = std::move(g_answer);
    g_answer = nullptr;
    answer(dialog);
}

}  // namespace

void HostWindows::SetUp() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    trv::RegisterHostCommands(m_bus);
    const std::wstring themes = std::wstring(TRV_APP_DIR) + L"\\themes\\";
    std::vector<std::string> paths = trv::AlertImagePaths();
    for (const std::string& path : trv::PreloadedImagePaths()) paths.push_back(path);
    trv::LoadThemeImages(m_bus, themes, paths);

    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = &FrameProcedure;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.lpszClassName = L"DialogTestFrame";
    frameClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    RegisterClassW(&frameClass);  // fails harmlessly after the first test
    m_frame = CreateWindowExW(0, L"DialogTestFrame", L"frame", WS_POPUP | WS_VISIBLE, 200, 150, 900, 566, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    m_view = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 900, 566, m_frame, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_view, nullptr);
    SetWindowSubclass(m_view, &ViewProcedure, 0, 0);
    m_bus.RegisterWindow(1, m_frame);
    m_bus.RegisterWindow(2, m_view);
}

void HostWindows::TearDown() {
    Pump(50);
    trv::ReleaseThemeImages(m_bus);
    if (m_frame != nullptr) DestroyWindow(m_frame);
    EXPECT_FALSE(AnswerPending()) << "a dialog the test waited for never showed";
    g_answer = nullptr;
}

void HostWindows::Invoke(const char* name, CommandMessage& message) {
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    trv::SendCommand(&message);
}

void WhenDialogShows(std::function<void(HWND)> answer) {
    g_answer = std::move(answer);
    if (g_answerTimer == 0) g_answerTimer = SetTimer(nullptr, 0, 100, &AnswerTick);
}

bool AnswerPending() { return static_cast<bool>(g_answer); }

void Pump(int ms, const std::function<bool()>& done) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (static_cast<int>(end - GetTickCount()) > 0) {
        if (done && done()) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (done && done()) return;
        }
        Sleep(5);
    }
}

std::wstring TextOf(HWND window) {
    std::vector<wchar_t> buffer(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
    return buffer.data();
}

RECT ClientRectIn(HWND child, HWND parent) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE SizeOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void Press(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    ASSERT_NE(button, nullptr) << id;
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    Pump(30);  // the button posts its command
}

void Type(HWND edit, const std::wstring& text) {
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

namespace {

// What the screen shows in `rect` (screen coordinates), as 0x00RRGGBB pixels, rows from the top.
std::vector<DWORD> ScreenPixels(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<DWORD> pixels;
    if (width <= 0 || height <= 0) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    if (bits != nullptr) {
        const auto* first = static_cast<const DWORD*>(bits);
        pixels.assign(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

void Repaint(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(100);
}

}  // namespace

InkSpan InkIn(HWND window, int top, int bottom, COLORREF ink) {
    Repaint(window);
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, top};
    ClientToScreen(window, &origin);
    const int width = client.right;
    const std::vector<DWORD> pixels = ScreenPixels({origin.x, origin.y, origin.x + width, origin.y + bottom - top});
    // Within a small distance of the ink on every channel: the core of smoothed glyphs, not their fringe.
    auto isInk = [ink](DWORD pixel) {
        const int channels[3][2] = {{static_cast<int>((pixel >> 16) & 0xFF), GetRValue(ink)},
                                    {static_cast<int>((pixel >> 8) & 0xFF), GetGValue(ink)},
                                    {static_cast<int>(pixel & 0xFF), GetBValue(ink)}};
        for (const auto& channel : channels) {
            if (std::abs(channel[0] - channel[1]) > kInkTolerance) return false;
        }
        return true;
    };
    InkSpan span;
    bool found = false;
    // The dialogs' one-pixel frame at the left and right edges is no drawing of theirs.
    for (size_t at = 0; width > 0 && at < pixels.size(); ++at) {
        const int x = static_cast<int>(at % static_cast<size_t>(width));
        if (x == 0 || x + 1 == width || !isInk(pixels[at])) continue;
        span.left = found ? std::min(span.left, x) : x;
        span.right = found ? std::max(span.right, x + 1) : x + 1;
        found = true;
    }
    return span;
}

SIZE TextSize(HFONT font, const std::wstring& text) {
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    SIZE size = {};
    GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return size;
}

void Screenshot(HWND window, const std::wstring& name) {
    Repaint(window);
    RECT rect = {};
    GetWindowRect(window, &rect);
    InflateRect(&rect, 8, 8);
    const std::vector<DWORD> pixels = ScreenPixels(rect);
    // A 32-bit BMP stored top-down (negative height).
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = rect.right - rect.left;
    header.biHeight = -(rect.bottom - rect.top);
    header.biPlanes = 1;
    header.biBitCount = 32;
    const DWORD imageSize = static_cast<DWORD>(pixels.size() * sizeof(DWORD));
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    CreateDirectoryW(TRV_SCREENSHOT_DIR, nullptr);
    const std::wstring path = std::wstring(TRV_SCREENSHOT_DIR) + L"\\" + name + L".bmp";
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        fwrite(&file, sizeof(file), 1, out);
        fwrite(&header, sizeof(header), 1, out);
        fwrite(pixels.data(), 1, imageSize, out);
        fclose(out);
    }
}

}  // namespace dialog_test
