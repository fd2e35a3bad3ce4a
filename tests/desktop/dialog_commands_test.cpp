// The host's dialog commands with a fake host UI: what they ask, what they hand back to the asking module
// and to the relay module, and which programs and tasks they start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "command_bus.h"
#include "command_names.h"
#include "device_record.h"
#include "dialog_commands.h"
#include "host_handlers.h"
#include "host_commands.h"
#include "host_platform.h"
#include "host_ui.h"
#include "progress_state.h"

namespace {

// What a module received, with the texts read while the call lasted.
struct Received {
    std::string name;
    int64_t code;
    int64_t status;
    std::wstring wideText;
    std::wstring extraText;  // `extra` read as a wide string where the test asks for it
};

std::vector<Received> g_received;
std::function<void(CommandMessage*)> g_answer;
bool g_extraIsText = false;
char g_handle;

void TRV_CALL Record(CommandMessage* message) {
    g_received.push_back(
        Received{message->name, message->code, message->status, message->wideText != nullptr ? message->wideText : L"",
                 g_extraIsText && message->extra != nullptr ? static_cast<const wchar_t*>(message->extra) : L""});
    if (g_answer) g_answer(message);
}

class FakeUi : public trv::HostUi {
public:
    bool AskLine(const trv::LineQuestion& question, std::wstring& typed) override {
        lineQuestions.push_back(question);
        if (lineAnswers.empty()) return false;
        typed = lineAnswers.front();
        lineAnswers.pop_front();
        return true;
    }
    bool RunOnUiThread(std::function<void()> task) override {
        tasks.push_back(std::move(task));
        return true;
    }
    void RunTasks() {
        while (!tasks.empty()) {
            auto task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
    }

    trv::ProgressState* ProgressOf(TrvWindow owner) override { return owner == progressOwner ? &progress : nullptr; }
    trv::ProgressState* DownloadProgress() override { return &download; }
    bool PostCopyToView(const char* name, const CommandMessage& message) override {
        posted.push_back(std::string(name) + " status=" + std::to_string(message.status));
        return true;
    }

    void CloseProgressDialog() override { ++progressClosed; }
    bool ReopenUpdateList() override {
        listReopened += heldNotes ? 1 : 0;
        return heldNotes;
    }

    int progressClosed = 0;
    bool heldNotes = false;
    int listReopened = 0;
    TrvWindow progressOwner = nullptr;
    trv::ProgressState progress;
    trv::ProgressState download;
    std::vector<std::string> posted;
    std::vector<trv::LineQuestion> lineQuestions;
    std::deque<std::wstring> lineAnswers;  // empty: the user cancels
    std::deque<std::function<void()>> tasks;
};

class DialogCommands : public ::testing::Test {
protected:
    void SetUp() override {
        g_received.clear();
        g_answer = nullptr;
        g_extraIsText = false;
        trv::RegisterHostCommands(m_bus);
    }
    void TearDown() override {
        for (ModuleRecord* record : m_bus.ModuleRecords()) std::free(record);
    }
    void Own(const std::vector<const char*>& names) {
        auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
        record->send = &trv::SendCommand;
        record->receive = &Record;
        record->module = &g_handle;
        m_bus.AddModule(record->module, record);
        for (const char* name : names) {
            CommandMessage message{};
            message.kind = COMMAND_KIND_REGISTER;
            message.name = name;
            message.owner = record->module;
            record->send(&message);
        }
    }
    static void Invoke(const char* name, CommandMessage& message) {
        message.kind = COMMAND_KIND_INVOKE;
        message.name = name;
        trv::SendCommand(&message);
    }

    trv::CommandBus m_bus;
    trv::ScopedCurrentBus m_current{m_bus};
    FakeUi m_ui;
    trv::ScopedHostUi m_uiScope{m_ui};
};

}  // namespace

TEST(TrimWhiteSpace, StripsWideWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trv::TrimWhiteSpace(L" \t My  Phone \r\n"), L"My  Phone");
    EXPECT_EQ(trv::TrimWhiteSpace(L"   "), L"");
    EXPECT_EQ(trv::TrimWhiteSpace(L""), L"");
    EXPECT_EQ(trv::TrimWhiteSpace(L"x"), L"x");
}

TEST_F(DialogCommands, RenameAsksForANameAndHandsTheTrimmedNameOnToTheRelay) {
    Own({LUNDER_COMMAND_GET_CURRENT_DEVICE, ZERITH_COMMAND_DO_BASICINFO});
    m_ui.lineAnswers = {L"  Kitchen Phone \t"};
    CommandMessage edit{};
    Invoke(YESTAL_COMMAND_EDIT_DEVICE_NAME, edit);
    ASSERT_EQ(m_ui.lineQuestions.size(), 1u);
    EXPECT_EQ(m_ui.lineQuestions[0].label, L"Name:");
    EXPECT_EQ(m_ui.lineQuestions[0].width, 300);
    EXPECT_EQ(m_ui.lineQuestions[0].height, 120);
    EXPECT_EQ(edit.status, 1);
    ASSERT_NE(edit.wideText, nullptr);
    EXPECT_STREQ(edit.wideText, L"Kitchen Phone");

    // The page passes the answer on as the new name; the relay gets the rename request for the current
    // device with the name in `extra`.
    g_extraIsText = true;
    g_answer = [](CommandMessage* m) {
        if (std::string(m->name) == LUNDER_COMMAND_GET_CURRENT_DEVICE) m->wideText = trv::HeapWideCopy(L"udid-1");
    };
    CommandMessage change{};
    change.wideText = edit.wideText;
    Invoke(YESTAL_COMMAND_CHANGE_DEVICE_NAME, change);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[1].name, ZERITH_COMMAND_DO_BASICINFO);
    EXPECT_EQ(g_received[1].code, 135);
    EXPECT_EQ(g_received[1].wideText, L"udid-1");
    EXPECT_EQ(g_received[1].extraText, L"Kitchen Phone");
    std::free(edit.wideText);
}

TEST_F(DialogCommands, UserUpdateCheckReopensHeldNotesInsteadOfAskingAgain) {
    Own({ZERITH_COMMAND_CHECK_FOR_UPDATE, LUNDER_COMMAND_CHECK_FOR_UPDATE});
    for (const bool held : {false, true}) {
        g_received.clear();
        m_ui.heldNotes = held;
        m_ui.listReopened = 0;
        CommandMessage check{};
        Invoke(LUNDER_COMMAND_CHECK_FOR_UPDATE, check);
        ASSERT_EQ(g_received.size(), 1u) << held;
        EXPECT_EQ(g_received[0].name, held ? LUNDER_COMMAND_CHECK_FOR_UPDATE : ZERITH_COMMAND_CHECK_FOR_UPDATE);
        EXPECT_EQ(m_ui.listReopened, held ? 1 : 0);
    }
}

TEST_F(DialogCommands, ArrivingDeviceClosesTheProgressDialogOnTheUiThread) {
    m_bus.Subscribe(ZERITH_COMMAND_DEVICE_CONNECTED, &trv::OnDeviceConnectedListener);
    DeviceRecord device{"udid-1", {}};
    CommandMessage arrived{};
    arrived.data = &device;
    Invoke(ZERITH_COMMAND_DEVICE_CONNECTED, arrived);
    EXPECT_EQ(m_ui.progressClosed, 0);  // not from the relay's thread
    m_ui.RunTasks();
    EXPECT_EQ(m_ui.progressClosed, 1);
}

TEST_F(DialogCommands, NonBlankAnswersComeBackAsTypedAndBlankOnesNotAtAll) {
    trv::LineQuestion password;
    password.label = L"Password:";
    m_ui.lineAnswers = {L" secret ", L"   "};
    std::wstring typed = L"before";
    EXPECT_TRUE(trv::AskNonBlankLine(password, typed));
    EXPECT_EQ(typed, L" secret ");  // the blanks are part of the password
    EXPECT_FALSE(trv::AskNonBlankLine(password, typed));
    EXPECT_FALSE(trv::AskNonBlankLine(password, typed));  // cancelled
    EXPECT_EQ(typed, L" secret ");
}

TEST_F(DialogCommands, RenameCancelledOrBlankLeavesTheMessageAlone) {
    for (const bool cancel : {true, false}) {
        m_ui.lineAnswers.clear();
        if (!cancel) m_ui.lineAnswers = {L" \t "};
        CommandMessage edit{};
        edit.status = 7;
        Invoke(YESTAL_COMMAND_EDIT_DEVICE_NAME, edit);
        EXPECT_EQ(edit.status, 7) << cancel;
        EXPECT_EQ(edit.wideText, nullptr) << cancel;
    }
}

TEST_F(DialogCommands, SheetNoticesReachTheUiThreadInTheOrderPosted) {
    struct SheetUi : FakeUi {
        void ShowSheetNotice(const std::wstring& text) override { shown.push_back(text); }
        std::vector<std::wstring> shown;
    } ui;
    trv::ScopedHostUi scope(ui);
    EXPECT_TRUE(trv::PostSheetNotice(L"A  is disconnected."));
    EXPECT_TRUE(trv::PostSheetNotice(L"B  is disconnected."));
    EXPECT_TRUE(ui.shown.empty());  // nothing is shown on the posting thread
    ui.RunTasks();
    EXPECT_EQ(ui.shown, (std::vector<std::wstring>{L"A  is disconnected.", L"B  is disconnected."}));
}

TEST_F(DialogCommands, ProgressReportsMoveTheCountersOfTheNamedWindowsDialog) {
    int owner = 0;
    m_ui.progressOwner = reinterpret_cast<TrvWindow>(&owner);
    m_bus.RegisterWindow(7, m_ui.progressOwner);
    const auto report = [](const char* name, int64_t code, int64_t done, int64_t total, int64_t failed,
                           const wchar_t* status) {
        CommandMessage message{};
        message.code = code;
        message.value4 = done;
        message.value3 = total;
        message.status = failed;
        message.data = const_cast<wchar_t*>(status);
        Invoke(name, message);
    };
    const int64_t big = 5LL * 1024 * 1024 * 1024;
    report(ZERITH_COMMAND_NOTIFY_PROGRESS, 1, big - 1, big, 0, L"Copying");
    EXPECT_EQ(m_ui.progress.done, big - 1);
    EXPECT_EQ(m_ui.progress.total, big);
    EXPECT_EQ(m_ui.progress.StatusText(), L"Copying");
    // Zero counts leave the counters; a status only adds failures.
    report(ZERITH_COMMAND_NOTIFY_PROGRESS, 1, 0, 0, 3, nullptr);
    EXPECT_EQ(m_ui.progress.done, big - 1);
    EXPECT_EQ(m_ui.progress.failed, 3);
    EXPECT_FALSE(m_ui.progress.finished);
    // Code 2, and code 0 without a progress key, name no window.
    report(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, 2, 1, 1, 0, nullptr);
    report(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, 0, 1, 1, 0, nullptr);
    EXPECT_FALSE(m_ui.progress.finished);
    report(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH, 1, 0, 0, 0, nullptr);
    EXPECT_TRUE(m_ui.progress.finished);

    const trv::ProgressSummary failed = trv::SummarizeProgress(10, 10, 2, L"Copying");
    EXPECT_EQ(failed.status, L"Failed(2) Copying");
    EXPECT_EQ(failed.done, 8);
    EXPECT_EQ(trv::SummarizeProgress(10, 10, 0, L"Copying").status, L"Finish");
    EXPECT_EQ(trv::SummarizeProgress(10, 9, 1, L"").status, L"Failed(1)");
}

TEST_F(DialogCommands, DownloadReportsCountBytesBeyondFourGiBAndPostResults) {
    for (const int64_t status : {2, 1, 0, 3}) {
        CommandMessage message{};
        message.status = status;
        message.value3 = 6LL << 30;
        message.value4 = status == 2 ? (5LL << 30) : 1;
        Invoke(ZERITH_COMMAND_DOWNLOAD_UPDATE, message);
    }
    EXPECT_EQ(m_ui.download.done, 5LL << 30);
    EXPECT_EQ(m_ui.download.total, 6LL << 30);
    EXPECT_EQ(m_ui.posted, (std::vector<std::string>{"ZERITH_COMMAND_DOWNLOAD_UPDATE status=0",
                                                     "ZERITH_COMMAND_DOWNLOAD_UPDATE status=3"}));
    CommandMessage check{};
    check.status = 1;
    Invoke(ZERITH_COMMAND_CHECK_FOR_UPDATE, check);
    EXPECT_EQ(m_ui.posted.back(), "ZERITH_COMMAND_CHECK_FOR_UPDATE status=1");
}

namespace {

class DriverUi : public FakeUi {
public:
    void ShowDriverStage(DriverStage stage, const std::wstring& text, std::function<void()> onCancel) override {
        stages.push_back(std::to_string(static_cast<int>(stage)) + ":" + std::string(text.begin(), text.end()));
        if (onCancel) cancel = onCancel;
    }
    trv::ProgressState* DriverProgress() override { return &driver; }
    void ShowInstallAlert(const std::wstring& text, int kind) override { alerts.push_back({text, kind}); }
    std::string UrlDefault(const char* key) override { return std::string("https://dl.test/") + key; }
    bool IsWow64() override { return wow64; }

    trv::ProgressState driver;
    std::vector<std::string> stages;
    std::function<void()> cancel;
    std::vector<std::pair<std::wstring, int>> alerts;
    bool wow64 = false;
};

}  // namespace

TEST_F(DialogCommands, DriverReportsDriveTheProgressDialogAndCancelWithTheirStatus) {
    DriverUi ui;
    trv::ScopedHostUi scope(ui);
    Own({ZERITH_COMMAND_DO_CANCEL, ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER});
    const auto report = [](const char* name, int64_t status, int64_t done = 0, int64_t total = 0) {
        CommandMessage message{};
        message.status = status;
        message.value4 = done;
        message.value3 = total;
        Invoke(name, message);
    };
    report(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, 0);
    ui.driver.done = 77;  // an earlier run
    report(ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER, 9);
    EXPECT_EQ(ui.driver.done, 0);
    EXPECT_EQ(ui.driver.total, 100);
    EXPECT_EQ(ui.driver.StatusText(), L"Downloading the Apple Mobile Device USB driver...");
    report(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, 0, 40, 100);
    EXPECT_TRUE(g_received.empty());  // nothing leaves before the UI thread runs
    EXPECT_EQ(ui.driver.done, 40);    // the counters move at once
    EXPECT_EQ(ui.driver.total, 100);
    report(ZERITH_COMMAND_PRE_INSTALL_DRIVER, 0);
    report(ZERITH_COMMAND_RECV_INSTALL_DRIVER, 4);
    EXPECT_EQ(ui.driver.total, 0);
    ui.RunTasks();
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].name, ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER);
    EXPECT_EQ(ui.stages, (std::vector<std::string>{"0:Downloading the Apple Mobile Device USB driver...", "1:",
                                                   "2:The driver installation failed: the device service reported "
                                                   "error 4."}));
    ASSERT_TRUE(ui.cancel);
    ui.cancel();
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[1].name, ZERITH_COMMAND_DO_CANCEL);
    EXPECT_EQ(g_received[1].status, 9);  // the status of the download's first report
}

TEST_F(DialogCommands, StoreEditionNoticesNameTheDownloadForThisWindows) {
    DriverUi ui;
    trv::ScopedHostUi scope(ui);
    for (const bool wow64 : {false, true}) {
        ui.wow64 = wow64;
        for (const int64_t status : {1, 2, 3}) {
            CommandMessage message{};
            message.status = status;
            Invoke(ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, message);
        }
        ui.RunTasks();
    }
    ASSERT_EQ(ui.alerts.size(), 4u);
    EXPECT_EQ(ui.alerts[0], (std::pair<std::wstring, int>{L"Driver installation failed!", 1}));
    EXPECT_EQ(ui.alerts[1].second, 2);
    EXPECT_NE(ui.alerts[1].first.find(L"<A HREF=\"https://dl.test/url:itunes:32\">"), std::wstring::npos);
    EXPECT_NE(ui.alerts[3].first.find(L"<A HREF=\"https://dl.test/url:itunes:64\">"), std::wstring::npos);
}

TEST_F(DialogCommands, FeedbackOpensTheStoredAddressNamingThisVersion) {
    class FeedbackUi : public FakeUi {
    public:
        std::string UrlDefault(const char* key) override {
            return std::string(key) == "url:feedback" ? "https://feedback.test/form" : "https://wrong.test/";
        }
        void OpenUrl(const std::string& address) override { opened.push_back(address); }
        std::vector<std::string> opened;
    } ui;
    trv::ScopedHostUi scope(ui);
    CommandMessage message{};
    Invoke(LUNDER_COMMAND_OPEN_FEEDBACK, message);
    EXPECT_EQ(ui.opened, std::vector<std::string>{"https://feedback.test/form?version=2.6.21"});
}
