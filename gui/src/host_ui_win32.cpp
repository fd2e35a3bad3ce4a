// The Win32 host UI; see host_ui.h. The questions and alerts run modally on the UI thread over the main
// view; tasks go to the main frame as WM_RUN_TASK, which keeps the order in which they were posted.
#include <windows.h>

#include <memory>

#include <glog/logging.h>

#include "UiInputDialog.h"
#include "UiSheetDialog.h"
#include "command_bus.h"
#include "host_messages.h"
#include "host_ui.h"

namespace trv {
namespace {

constexpr int kMainFrameId = 1;
constexpr int kMainViewId = 2;
constexpr int kNoticeSheetId = 2;

Gdiplus::Bitmap* Image(const char* name) { return CommandBus::Instance().GetImage(name); }

class Win32HostUi final : public HostUi {
public:
    bool AskLine(const LineQuestion& question, std::wstring& typed) override {
        UiInputDialog dialog(Image("common\\close-normal.png"), Image("common\\close-pressed.png"));
        dialog.SetLabel(question.label);
        dialog.SetContent(L"", nullptr, MainView(), question.width, question.height);
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
            sheet->Show(SW_SHOW);
        }
    }

private:
    static HWND MainView() { return CommandBus::Instance().GetWindowById(kMainViewId); }
};

}  // namespace

HostUi& SystemHostUi() {
    static Win32HostUi* ui = new Win32HostUi();
    return *ui;
}

}  // namespace trv
