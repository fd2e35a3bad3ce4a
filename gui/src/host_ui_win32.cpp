// The Win32 host UI; see host_ui.h. The questions and alerts run modally on the UI thread over the main
// view; tasks go to the main frame as WM_RUN_TASK, which keeps the order in which they were posted. The
// shared dialogs it creates live until the process ends (the dialog registry never lets go of them).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include <glog/logging.h>
#include <vornel/VNLTakeText.h>
#include <vornel/VNLUserDefaults.h>
#include <vornel/VNLUtilityApp.h>

#include "UiAboutDialog.h"
#include "UiInputDialog.h"
#include "UiProgressDialog.h"
#include "UiSheetDialog.h"
#include "UiUpdateListDialog.h"
#include "command_bus.h"
#include "host_alert.h"
#include "host_messages.h"
#include "host_state.h"
#include "host_ui.h"
#include "posted_commands.h"

namespace trv {
namespace {

constexpr int kMainFrameId = 1;
constexpr int kMainViewId = 2;
constexpr int kDownloadDialogId = 1;
constexpr int kNoticeSheetId = 2;
constexpr int kUpdateListDialogId = 3;
constexpr int kProgressDialogId = 4;

Gdiplus::Bitmap* Image(const char* name) { return CommandBus::Instance().GetImage(name); }

template <typename Dialog>
Dialog* MakeDialog(HWND view, int width, int height) {
    auto dialog = std::make_unique<Dialog>(Image("common\\close-normal.png"), Image("common\\close-pressed.png"));
    if (dialog->Create(view, width, height) == 0) return nullptr;
    return dialog.release();  // kept until the process ends
}

// True on Windows versions before 6, which have no raised rights to ask for; false when the version
// cannot be read.
bool IsBeforeVersion6() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion <= 5;
}

VNLUserDefaults* UrlStore() {
    VNLUserDefaults* store = VNLUserDefaults::GetUserDefaults("url");
    return store != nullptr && store->IsOk() ? store : nullptr;
}

class Win32HostUi final : public HostUi {
public:
    void CreateDialogs(TrvWindow view) override {
        CommandBus& bus = CommandBus::Instance();
        if (auto* progress = MakeDialog<UiProgressDialog>(view, 500, 150)) m_progressTable[view] = progress;
        if (auto* download = MakeDialog<UiUpdateDownloadDialog>(view, 500, 150)) {
            bus.RegisterDialog(kDownloadDialogId, download);
        }
        if (auto* list = MakeDialog<UiUpdateListDialog>(view, 500, 360)) bus.RegisterDialog(kUpdateListDialogId, list);
        if (auto* progress = MakeDialog<UiProgressDialog>(view, 500, 150)) {
            bus.RegisterDialog(kProgressDialogId, progress);
        }
    }

    bool AskLine(const LineQuestion& question, std::wstring& typed) override {
        UiInputDialog dialog(Image("common\\close-normal.png"), Image("common\\close-pressed.png"));
        dialog.SetLabel(question.label);
        dialog.SetMasked(question.masked);
        dialog.SetContent(L"", nullptr, question.owner != nullptr ? question.owner : MainView(), question.width,
                          question.height);
        if (dialog.Run() != kDialogFirstButtonId) return false;
        typed = dialog.Result();
        return true;
    }

    bool AskSubjectContent(const SubjectContentQuestion& question, SubjectContent& typed) override {
        UiSubjectContentDialog dialog(Image("common\\close-normal.png"), Image("common\\close-pressed.png"));
        dialog.SetLabels(question.subjectLabel, question.contentLabel);
        dialog.SetInitialTexts(question.subject, question.content);
        dialog.SetContent(L"", nullptr, MainView(), question.width, question.height);
        if (dialog.Run() != kDialogFirstButtonId) return false;
        typed.subject = dialog.ResultSubject();
        typed.content = dialog.ResultContent();
        return true;
    }

    bool RunOnUiThread(std::function<void()> task) override {
        HWND frame = CommandBus::Instance().GetWindowById(kMainFrameId);
        if (frame == nullptr || !task) return false;
        auto closure = std::make_unique<HostTask>(std::move(task));
        if (!PostMessageW(frame, WM_RUN_TASK, reinterpret_cast<WPARAM>(closure.get()), 0)) {
            LOG(ERROR) << "task not posted to the main frame, error " << GetLastError();
            return false;
        }
        closure.release();  // the frame runs and deletes it
        return true;
    }

    void ShowSheetNotice(const std::wstring& text) override {
        if (auto* sheet = static_cast<UiSheetDialog*>(CommandBus::Instance().GetDialogById(kNoticeSheetId))) {
            sheet->SetText(text);
            sheet->SetClickAction(nullptr);  // a click on a plain notice does nothing of an earlier one's
            sheet->Show(SW_SHOW);
        }
    }

    ProgressState* ProgressOf(TrvWindow owner) override {
        UiProgressDialog* dialog = ProgressDialogOf(owner);
        return dialog != nullptr ? &dialog->State() : nullptr;
    }

    UiProgressDialog* ProgressDialogOf(HWND owner) const {
        auto found = m_progressTable.find(owner);
        return found == m_progressTable.end() ? nullptr : found->second;
    }

    ProgressState* DownloadProgress() override {
        auto* download = DownloadDialog();
        return download != nullptr ? &download->State() : nullptr;
    }

    bool PostCopyToView(const char* name, const CommandMessage& message) override {
        HWND view = MainView();
        auto* copy = static_cast<CommandMessage*>(std::malloc(sizeof(CommandMessage)));
        if (view == nullptr || copy == nullptr) {
            std::free(copy);
            return false;
        }
        std::memcpy(copy, &message, sizeof(CommandMessage));
        if (!PostCommandToView(view, name, reinterpret_cast<LPARAM>(copy))) {
            std::free(copy);
            return false;
        }
        return true;
    }

    std::wstring DownloadedInstaller() override {
        auto* download = DownloadDialog();
        return download != nullptr ? download->DownloadedFile() : std::wstring();
    }

    void FailDownload(const std::wstring& text) override {
        if (auto* download = DownloadDialog()) download->Fail(text);
    }

    std::string UrlDefault(const char* key) override {
        VNLUserDefaults* store = UrlStore();
        return store != nullptr ? VNLTakeText(store->GetString(key)) : std::string();
    }

    int64_t UrlDefaultInt(const char* key) override {
        VNLUserDefaults* store = UrlStore();
        return store != nullptr ? store->GetInt(key, 0) : 0;
    }

    std::wstring PreferencesPath() override { return TheHostState().preferencesPath; }

    void ShowAbout() override {
        const std::string brand = UrlDefault("url:brand");
        UiAboutDialog about(Image("common\\close-normal.png"), Image("common\\close-pressed.png"),
                            static_cast<HICON>(CommandBus::Instance().GetNamedIcon("LOGO_ICON")),
                            VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(brand.c_str())),
                            UrlDefaultInt("product:type"));
        about.SetContent(L"", nullptr, MainView(), 500, 360);
        about.Run();
    }

    void CloseProgressDialog() override {
        if (UiProgressDialog* dialog = DriverDialog()) dialog->Close();
    }

    bool ReopenUpdateList() override { return trv::ReopenUpdateList(); }

    ProgressState* DriverProgress() override {
        auto* dialog = DriverDialog();
        return dialog != nullptr ? &dialog->State() : nullptr;
    }

    void ShowDriverStage(DriverStage stage, const std::wstring& text, std::function<void()> onCancel) override {
        UiProgressDialog* dialog = DriverDialog();
        if (dialog == nullptr) return;
        switch (stage) {
        case DriverStage::Downloading:
            // The counters and the status were set by the report itself, in the order of the reports.
            (void)text;
            dialog->SetIcon(Image("connect\\downloading-driver.png"));
            dialog->ResetView();
            dialog->SetShowFolder(false);
            dialog->SetCompletion(std::move(onCancel));
            dialog->Start();
            break;
        case DriverStage::Installing:
            dialog->SetIcon(Image("connect\\installing-driver.png"));
            dialog->Layout();
            InvalidateRect(dialog->m_hWnd, nullptr, FALSE);
            break;
        case DriverStage::Stopped:
        case DriverStage::Finished: dialog->FinishWithText(text); break;
        }
    }

    void ShowInstallAlert(const std::wstring& text, int kind) override {
        UiAlertDialog alert(Image("common\\close-normal.png"), Image("common\\close-pressed.png"),
                            Image("common\\alert.png"), true, true, L"Cancel", L"OK");
        alert.SetContent(text, nullptr, MainView(), kind == 1 ? 300 : 500, kind == 1 ? 100 : 160);
        alert.Run();
    }

    void ShowNotRecognizedNotice(const std::wstring& body, std::function<void(const std::wstring&)> links) override {
        UiAlertDialog notice(Image("common\\close-normal.png"), Image("common\\close-pressed.png"),
                             Image("common\\alert.png"), false, true, L"", L"OK");
        notice.SetCaption(L"Notice");
        notice.SetHeading(L"Connected device is not recognized? Fix it as follows:");
        notice.SetContent(body, nullptr, MainView(), 560, 250);
        notice.SetLinkCallback([links](const std::wstring& address) {
            links(address);
            return address == L"http://auto" ? 1 : 0;  // the driver download takes over: the notice closes
        });
        notice.Run();
    }

    bool IsWow64() override {
        using IsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);
        static const auto query = reinterpret_cast<IsWow64Process>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
        BOOL wow64 = FALSE;
        return query != nullptr && query(GetCurrentProcess(), &wow64) && wow64;
    }

    void OpenUrl(const std::string& address) override { VNLUtilityApp::OpenUrl(address.c_str()); }

    void ShowAlert(const std::wstring& text, bool withCancel, int width, int height) override {
        (void)withCancel;  // the host's notices have a single button
        AlertRequest alert;
        alert.owner = MainView();
        alert.text = text;
        alert.width = width;
        alert.height = height;
        ShowHostAlert(alert);
    }

    uint32_t RunHiddenAndWait(const std::wstring& commandLine) override {
        STARTUPINFOW startup = {};
        GetStartupInfoW(&startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process = {};
        std::wstring line = commandLine;  // CreateProcessW may write into its command line
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                            &process)) {
            LOG(ERROR) << "installer not started, error " << GetLastError();
            return 0;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return process.dwProcessId;
    }

    bool RunElevated(const std::wstring& program, const std::wstring& parameters, bool elevate) override {
        LOG(INFO) << "ShellExecuteEx: " << VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(program.c_str()));
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
        // Raised rights are asked for where the system has them (from major version 6 on).
        info.lpVerb = elevate && !IsBeforeVersion6() ? L"runas" : nullptr;
        info.lpFile = program.c_str();
        info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info)) {
            const DWORD error = GetLastError();
            LOG(ERROR) << "program not started, error " << error;
            MessageBoxW(nullptr, L"run error", std::to_wstring(static_cast<int64_t>(error)).c_str(), MB_OK);
            return false;
        }
        // A program that fails at once ends with a non-zero code within the second; one still running
        // counts as started.
        DWORD exitCode = STILL_ACTIVE;
        if (info.hProcess != nullptr) {
            WaitForSingleObject(info.hProcess, 1000);
            GetExitCodeProcess(info.hProcess, &exitCode);
            CloseHandle(info.hProcess);
        }
        return exitCode != 0;
    }

    bool FileExists(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    void DeleteFile(const std::wstring& path) override { DeleteFileW(path.c_str()); }

    std::vector<std::wstring> SubFolders(const std::wstring& folder) override {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW entry = {};
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
        return names;
    }

    void CloseMainFrame() override {
        if (HWND frame = CommandBus::Instance().GetWindowById(kMainFrameId)) PostMessageW(frame, WM_CLOSE, 0, 0);
    }

private:
    static HWND MainView() { return CommandBus::Instance().GetWindowById(kMainViewId); }
    static UiProgressDialog* DriverDialog() {
        return static_cast<UiProgressDialog*>(CommandBus::Instance().GetDialogById(kProgressDialogId));
    }
    static UiUpdateDownloadDialog* DownloadDialog() {
        return static_cast<UiUpdateDownloadDialog*>(CommandBus::Instance().GetDialogById(kDownloadDialogId));
    }

    std::map<HWND, UiProgressDialog*> m_progressTable;  // ProgressDialogTable: owner window to its dialog
};

Win32HostUi& TheWin32HostUi() {
    static Win32HostUi* ui = new Win32HostUi();
    return *ui;
}

}  // namespace

HostUi& SystemHostUi() { return TheWin32HostUi(); }

}  // namespace trv

UiProgressDialog* ProgressDialogFiledUnder(HWND owner) { return trv::TheWin32HostUi().ProgressDialogOf(owner); }
