// The Win32 host platform; see host_platform.h. The shared dialogs it creates live until the process
// ends (the dialog registry never lets go of them). Window work runs on the UI thread.
#include <windows.h>
#include <commdlg.h>

#include <memory>
#include <vector>

#include <glog/logging.h>
#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilityFile.h>
#include <vornel/VNLUtilityString.h>

#include "UiAlertDialog.h"
#include "UiSheetDialog.h"
#include "command_bus.h"
#include "host_handlers.h"
#include "host_input.h"
#include "host_platform.h"
#include "host_ui.h"
#include "posted_commands.h"

namespace trv {
namespace {

constexpr int kNoticeSheetId = 2;
constexpr int kSectionFontPixels = 16;
constexpr DWORD kFileNameStartChars = 1024;
const wchar_t kDialogSettingsProperty[] = L"OFN";

// The file-name buffer of an open-file dialog, grown by its hook: the dialog writes the chosen names into
// whatever buffer its settings name when it ends.
struct GrowingFileNames {
    std::vector<wchar_t> start = std::vector<wchar_t>(kFileNameStartChars, L'\0');
    wchar_t* grown = nullptr;  // from the process heap, once the selection outgrew `start`
    GrowingFileNames() = default;
    GrowingFileNames(const GrowingFileNames&) = delete;
    GrowingFileNames& operator=(const GrowingFileNames&) = delete;
    ~GrowingFileNames() {
        if (grown != nullptr) HeapFree(GetProcessHeap(), 0, grown);
    }
};

// The open-file dialog's hook: on every selection change the buffer is made to hold the selection's text
// (the names typed or picked, quoted for a multiple selection) with room for the folder, so that a large
// multiple selection is handed back whole instead of failing for want of room.
UINT_PTR CALLBACK ChooseFilesHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    try {
        if (message == WM_INITDIALOG) {
            if (!SetPropW(hook, kDialogSettingsProperty, reinterpret_cast<HANDLE>(lParam))) {
                MessageBoxW(hook, L"SET PRop Failed", L"ERROR", MB_OK);
            }
        } else if (message == WM_DESTROY) {
            RemovePropW(hook, kDialogSettingsProperty);
        } else if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_SELCHANGE) {
            auto* settings = static_cast<OPENFILENAMEW*>(GetPropW(hook, kDialogSettingsProperty));
            const LRESULT length = SendMessageW(GetParent(hook), CDM_GETSPEC, 0, 0);
            if (settings == nullptr || length <= 0) return 0;
            const DWORD needed = static_cast<DWORD>(length) + MAX_PATH;
            if (settings->nMaxFile >= needed) return 0;
            auto* names = reinterpret_cast<GrowingFileNames*>(settings->lCustData);
            auto* grown =
                static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed * sizeof(wchar_t)));
            if (grown == nullptr) return 0;
            if (names->grown != nullptr) HeapFree(GetProcessHeap(), 0, names->grown);
            names->grown = grown;
            settings->lpstrFile = grown;
            settings->nMaxFile = needed;
        }
    } catch (...) {
        LOG(ERROR) << "open-file dialog hook failed";
    }
    return 0;
}

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
            // Drawn afresh whole at the new size: the pages keep what they drew at the old size where the
            // frame's region grows (the summary's storage bar at its old width, the old rounded corners).
            RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
    }

    void CreateHostDialogs(TrvWindow view) override {
        CommandBus& bus = CommandBus::Instance();
        RECT client = ClientRect(view);
        auto sheet = std::make_unique<UiSheetDialog>(bus.GetImage("common\\close-normal.png"),
                                                     bus.GetImage("common\\close-pressed.png"));
        if (sheet->Create(view, client.right - client.left, client.bottom - client.top) == 0) {
            LOG(ERROR) << "notice sheet not created";
        } else {
            bus.RegisterDialog(kNoticeSheetId, sheet.release());  // kept until the process ends
            LayOutNoticeSheet();
        }
        CurrentHostUi().CreateDialogs(view);
    }

    void LayOutNoticeSheet() override {
        auto* sheet = static_cast<UiSheetDialog*>(CommandBus::Instance().GetDialogById(kNoticeSheetId));
        if (sheet == nullptr || sheet->Parent() == nullptr) return;
        RECT view = {};
        GetClientRect(sheet->Parent(), &view);
        MapWindowPoints(sheet->Parent(), nullptr, reinterpret_cast<POINT*>(&view), 2);
        sheet->PlaceAt(NoticeSheetPlace(view, UiSheetDialog::kSheetHeight));
    }

    void ShowNotice(const std::wstring& text) override {
        // Device reports arrive on the relay module's threads; the sheet is shown on the UI thread.
        if (!PostSheetNotice(text)) LOG(WARNING) << "notice not posted to the UI thread";
    }

    bool PostValueToView(const char* name, int32_t value) override {
        HWND view = CommandBus::Instance().GetWindowById(2);
        return view != nullptr && PostCommandToView(view, name, static_cast<LPARAM>(value));
    }

    void* SectionFont() override { return VNLUtilityApp::GetFont(kSectionFontPixels, false, L"Arial"); }

    void ShowAlert(const std::wstring& text, TrvWindow owner) override { RunAlert(text, false, 240, 100, owner); }

    bool Confirm(const std::wstring& question, int32_t width, int32_t height, TrvWindow owner) override {
        const INT_PTR result = RunAlert(question, true, width, height, owner);
        return result != kDialogCloseButtonId && result != kDialogSecondButtonId;
    }

    std::wstring ChooseFolder(TrvWindow owner, const std::wstring& title) override {
        return VNLTakeText(VNLUtilityFile::SelectFolder(owner, title.empty() ? nullptr : title.c_str()));
    }

    bool AskTwoTexts(const WideStringPair& labels, int32_t height, WideStringPair& entered) override {
        SubjectContentQuestion question;
        question.subjectLabel = labels.first;
        question.contentLabel = labels.second;
        question.subject = entered.first;
        question.content = entered.second;
        question.height = height;
        SubjectContent typed;
        if (!AskSubjectContent(question, typed)) return false;
        entered = WideStringPair(typed.subject, typed.content);
        return true;
    }

    // The input dialog is owned by the main view, whatever window asked.
    bool AskLine(const std::wstring& label, TrvWindow owner, bool masked, std::wstring& entered) override {
        LineQuestion question;
        question.label = label;
        question.owner = owner;
        question.masked = masked;
        return trv::AskLine(question, entered);
    }

    std::vector<std::wstring> ChooseFiles(const std::wstring& title, const std::wstring& filterName,
                                          const std::wstring& pattern, bool multiple) override {
        // The filter is pairs of NUL-terminated texts ending in an empty one.
        std::wstring filter = filterName + L'\0' + pattern + L'\0' + L'\0';
        GrowingFileNames names;
        OPENFILENAMEW dialog = {};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = CommandBus::Instance().GetWindowById(2);
        dialog.lpstrFilter = filter.c_str();
        dialog.lpstrFile = names.start.data();
        dialog.nMaxFile = static_cast<DWORD>(names.start.size());
        dialog.lpstrTitle = title.c_str();
        dialog.lpfnHook = &ChooseFilesHook;
        dialog.lCustData = reinterpret_cast<LPARAM>(&names);
        dialog.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_HIDEREADONLY |
                       (multiple ? OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST : 0);
        std::vector<std::wstring> paths;
        if (!GetOpenFileNameW(&dialog)) return paths;
        // A multiple selection is the folder, then each name, each ending in NUL, then an empty text.
        const wchar_t* buffer = dialog.lpstrFile;
        const std::wstring first = buffer;
        const wchar_t* next = buffer + first.size() + 1;
        if (!multiple || *next == L'\0') {
            paths.push_back(first);
            return paths;
        }
        for (; *next != L'\0'; next += wcslen(next) + 1) paths.push_back(first + L"\\" + next);
        return paths;
    }

private:
    static INT_PTR RunAlert(const std::wstring& text, bool secondButton, int width, int height, TrvWindow owner) {
        CommandBus& bus = CommandBus::Instance();
        UiAlertDialog alert(bus.GetImage("common\\close-normal.png"), bus.GetImage("common\\close-pressed.png"),
                            bus.GetImage("common\\alert.png"), secondButton, true, L"Cancel", L"OK");
        alert.SetContent(text, nullptr, owner != nullptr ? owner : bus.GetWindowById(2), width, height);
        return alert.Run();
    }
};

}  // namespace

HostPlatform& SystemHostPlatform() {
    static Win32HostPlatform* platform = new Win32HostPlatform();
    return *platform;
}

}  // namespace trv
