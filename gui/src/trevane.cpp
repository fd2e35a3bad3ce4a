// The entry point of Trevane: single instance, logging, the Windows libraries, configuration and crash
// handling, the main frame, and the orderly shut-down. Everything here runs on the main thread, which is
// also the UI thread.
// Winsock 2 must come before the Windows header, which would otherwise pull in the old Winsock.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLTakeText.h>

#include "CMainFrame.h"
#include "command_bus.h"
#include "host_startup.h"
#include "host_state.h"
#include "theme_images.h"

namespace {

constexpr int32_t kMaxLogSizeMegabytes = 20;

// Keeps logging up for the life of the entry point and takes it down last. The crash report may have
// shut logging down already; then only the strings go.
class LoggingHolder {
public:
    explicit LoggingHolder(const std::wstring& logFolder) {
        std::wstring programPath = VNLTakeText(VNLUtilityApp::GetAppModule());
        if (programPath.empty()) programPath = L"Trevane.exe";
        const size_t slash = programPath.find_last_of(L"\\/");
        const std::wstring program = slash == std::wstring::npos ? programPath : programPath.substr(slash + 1);
        m_programName = ToAnsi(program);
        FLAGS_log_dir = ToAnsi(logFolder);
        FLAGS_max_log_size = kMaxLogSizeMegabytes;
        google::InitGoogleLogging(m_programName.c_str());
    }
    ~LoggingHolder() {
        if (google::IsGoogleLoggingInitialized()) {
            google::LogMessage("gui\\src\\trevane", 426, google::GLOG_INFO).stream() << "OnDestroy";
            google::ShutdownGoogleLogging();
        }
    }
    LoggingHolder(const LoggingHolder&) = delete;
    LoggingHolder& operator=(const LoggingHolder&) = delete;

private:
    static std::string ToAnsi(const std::wstring& text) {
        const std::string utf8 = VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(text.c_str()));
        return VNLTakeText(VNLUtilityString::ConvertUtf8ToAnsi(utf8.c_str()));
    }

    std::string m_programName;
};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

int RunTrevane(int showCommand) {
    std::unique_ptr<void, HandleCloser> instance(trv::SingleInstanceGuard());
    if (!instance) {
        return 0;
    }
    trv::HostState& state = trv::TheHostState();
    state.logFolder = trv::CreateLogFolder();
    auto logging = std::make_unique<LoggingHolder>(state.logFolder);
    LOG(INFO) << "Trevane starting";

    WSADATA wsa = {};
    const bool winsock = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    const HRESULT com = CoInitialize(nullptr);
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartupInput gdiplusInput;
    const bool gdiplus = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok;
    // The bar classes, and the link control that alerts with link markup use.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);

    int result = 0;
    if (trv::InitApplication()) {
        result = RunMainFrame(showCommand);
    }
    trv::ShutdownApplication();

    // Every window is gone; the cached bitmaps must go before GDI+ does.
    trv::ReleaseThemeImages(trv::CommandBus::Instance());
    if (gdiplus) Gdiplus::GdiplusShutdown(gdiplusToken);
    if (SUCCEEDED(com)) CoUninitialize();
    if (winsock) WSACleanup();
    state.normalExit.store(true);
    instance.reset();
    logging.reset();
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    try {
        return RunTrevane(showCommand);
    } catch (const std::exception& e) {
        LOG(ERROR) << "Trevane ended by an exception: " << e.what();
    } catch (...) {
        LOG(ERROR) << "Trevane ended by an exception";
    }
    return 0;
}
