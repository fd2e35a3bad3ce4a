// The Win32 host platform; see host_platform.h. The shared dialogs it creates live until the process
// ends (the dialog registry never lets go of them). Window work runs on the UI thread.
#include <windows.h>

#include <memory>

#include <glog/logging.h>
#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilityString.h>

#include "UiSheetDialog.h"
#include "command_bus.h"
#include "host_platform.h"
#include "posted_commands.h"

namespace trv {
namespace {

constexpr int kNoticeSheetId = 2;
constexpr int kSectionFontPixels = 16;

class Win32HostPlatform final : public HostPlatform {
public:
    TrvRect ClientRect(TrvWindow window) override {
        RECT rect = {};
        if (window == nullptr || !GetClientRect(window, &rect)) {
            return RECT{};
        }
        return rect;
    }

    TrvRect FrameRect() override {
        RECT rect = {};
        HWND frame = CommandBus::Instance().GetWindowById(1);
        if (frame != nullptr) {
            GetWindowRect(frame, &rect);
        }
        return rect;
    }

    TrvRect WorkArea() override {
        // The monitor the frame is on: on a second monitor, or with a task bar on the left or top, the
        // work area does not start at (0,0).
        HWND frame = CommandBus::Instance().GetWindowById(1);
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        HMONITOR monitor = MonitorFromWindow(frame, MONITOR_DEFAULTTOPRIMARY);
        if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
            return info.rcWork;
        }
        RECT work = {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        return work;
    }

    void MoveFrame(const TrvRect& rect) override {
        HWND frame = CommandBus::Instance().GetWindowById(1);
        if (frame != nullptr) {
            MoveWindow(frame, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
        }
    }

    void PlaceView(int32_t width, int32_t height) override {
        HWND view = CommandBus::Instance().GetWindowById(2);
        if (view != nullptr) {
            SetWindowPos(view, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        }
    }

    void CreateHostDialogs(TrvWindow view) override {
        // Only the notice sheet exists among the host's shared dialogs so far; the progress, update-list and
        // download dialogs join the registry with the update and progress commands.
        CommandBus& bus = CommandBus::Instance();
        RECT client = ClientRect(view);
        auto sheet = std::make_unique<UiSheetDialog>(bus.GetImage("common\\close-normal.png"),
                                                     bus.GetImage("common\\close-pressed.png"));
        if (sheet->Create(view, client.right - client.left, client.bottom - client.top) == 0) {
            LOG(ERROR) << "notice sheet not created";
            return;
        }
        bus.RegisterDialog(kNoticeSheetId, sheet.release());  // kept until the process ends
    }

    void LayOutNoticeSheet() override {
        if (auto* sheet = static_cast<UiSheetDialog*>(CommandBus::Instance().GetDialogById(kNoticeSheetId))) {
            sheet->FollowParent();
        }
    }

    void ShowNotice(const std::wstring& text) override {
        if (auto* sheet = static_cast<UiSheetDialog*>(CommandBus::Instance().GetDialogById(kNoticeSheetId))) {
            sheet->SetText(text);
            sheet->Show(SW_SHOW);
        }
    }

    bool PostValueToView(const char* name, int32_t value) override {
        HWND view = CommandBus::Instance().GetWindowById(2);
        return view != nullptr && PostCommandToView(view, name, static_cast<LPARAM>(value));
    }

    void* SectionFont() override { return VNLUtilityApp::GetFont(kSectionFontPixels, false, L"Arial"); }

    std::wstring Utf8ToWide(const char* text) override {
        return text == nullptr ? std::wstring() : VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(text));
    }
};

}  // namespace

HostPlatform& SystemHostPlatform() {
    static Win32HostPlatform* platform = new Win32HostPlatform();
    return *platform;
}

}  // namespace trv
