// The product update's network work; see relay_update.h.
//
// Threads: the UI thread runs HandleUpdateCommand and the window procedure, which makes every send to the
// host; each transfer runs on a thread of its own that reaches the UI thread only by posting its job to the
// update window. A job belongs to its thread until posted, then to the window procedure (or, when the
// post fails, still to the thread, which frees it).
#include "relay_update.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUserDefaults.h>

#include "command_names.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr UINT WM_UPDATE_PROGRESS = WM_APP + 1;  // wParam: the job's id; lParam: a Progress*
constexpr UINT WM_UPDATE_DONE = WM_APP + 2;      // lParam: the Transfer* that ended
constexpr wchar_t kWindowClass[] = L"TrevaneRelayUpdate";
constexpr DWORD kReadSizeBytes = 64 * 1024;
// Progress reaches the host at most this often; its dialog repaints twice a second.
constexpr ULONGLONG kProgressIntervalMs = 200;
constexpr std::int64_t kCheckFailed = 0;
constexpr std::int64_t kCheckDone = 1;
constexpr std::int64_t kDownloadFinished = 0;
constexpr std::int64_t kDownloadRunning = 2;
constexpr std::int64_t kDownloadFailed = 3;

struct InternetCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

struct Progress {
    std::int64_t doneBytes;
    std::int64_t totalBytes;
};

// One transfer: the feed into memory, or the installer into a file.
struct Transfer {
    bool isDownload = false;
    std::uint64_t id = 0;
    HWND window = nullptr;
    std::wstring url;
    std::wstring path;  // the installer's file; empty for the feed
    std::uint64_t limitBytes = 0;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    // Written by the transfer's thread before it posts the job.
    bool ok = false;
    std::string body;
    std::int64_t doneBytes = 0;
    std::int64_t totalBytes = 0;
};

std::int64_t ContentLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return 0;
    return _wcstoi64(text, nullptr, 10);
}

// Runs on the transfer's thread: fetches the address, keeps or writes its bytes, and reports progress.
bool Fetch(Transfer& job) {
    InternetHandle session(InternetOpenW(L"Trevane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return false;
    InternetHandle request(InternetOpenUrlW(session.get(), job.url.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI,
                                            0));
    if (!request) return false;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200) {
        return false;
    }
    job.totalBytes = ContentLength(request.get());
    if (job.totalBytes < 0 || static_cast<std::uint64_t>(job.totalBytes) > job.limitBytes) return false;
    std::unique_ptr<void, decltype(&CloseHandle)> file(nullptr, &CloseHandle);
    if (job.isDownload) {
        HANDLE raw =
            CreateFileW(job.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE) return false;
        file.reset(raw);
    }
    std::string chunk(kReadSizeBytes, '\0');
    ULONGLONG lastReport = 0;
    for (;;) {
        if (job.cancelled->load()) return false;
        DWORD read = 0;
        if (!InternetReadFile(request.get(), &chunk[0], kReadSizeBytes, &read)) return false;
        if (read == 0) break;
        job.doneBytes += read;
        if (static_cast<std::uint64_t>(job.doneBytes) > job.limitBytes) return false;
        if (!job.isDownload) {
            job.body.append(chunk.data(), read);
            continue;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), chunk.data(), read, &written, nullptr) || written != read) return false;
        if (GetTickCount64() - lastReport >= kProgressIntervalMs) {
            lastReport = GetTickCount64();
            auto progress = std::make_unique<Progress>(Progress{job.doneBytes, job.totalBytes});
            if (PostMessageW(job.window, WM_UPDATE_PROGRESS, static_cast<WPARAM>(job.id),
                             reinterpret_cast<LPARAM>(progress.get()))) {
                progress.release();
            }
        }
    }
    // A transfer cut short by the server is not the installer.
    return job.totalBytes == 0 || job.doneBytes == job.totalBytes;
}

DWORD WINAPI RunTransfer(void* parameter) {
    std::unique_ptr<Transfer> job(static_cast<Transfer*>(parameter));
    try {
        job->ok = Fetch(*job);
    } catch (...) {
        job->ok = false;
    }
    if (!job->ok && job->isDownload) DeleteFileW(job->path.c_str());  // nothing half-written stays
    if (PostMessageW(job->window, WM_UPDATE_DONE, 0, reinterpret_cast<LPARAM>(job.get()))) job.release();
    return 0;
}

// The update's state on the UI thread.
class Updater {
public:
    static Updater& Instance() {
        static Updater* updater = new Updater();  // lives until the process ends
        return *updater;
    }

    void Check(const std::wstring& runningVersion, HostSend send);
    void Download(HostSend send);
    void Cancel();

private:
    bool Start(std::unique_ptr<Transfer> job);
    void OnDone(std::unique_ptr<Transfer> job);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    HostSend m_send = nullptr;
    std::wstring m_runningVersion;
    std::string m_installerUrl;  // from the last feed read
    bool m_checking = false;
    std::uint64_t m_lastId = 0;
    std::uint64_t m_downloadId = 0;  // the running download; 0: none
    std::shared_ptr<std::atomic<bool>> m_downloadCancelled;
};

bool Updater::Start(std::unique_ptr<Transfer> job) {
    if (m_window == nullptr) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Updater::WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        if (m_window == nullptr) return false;
    }
    job->window = m_window;
    job->id = ++m_lastId;
    HANDLE thread = CreateThread(nullptr, 0, &RunTransfer, job.get(), 0, nullptr);
    if (thread == nullptr) return false;
    job.release();  // the thread's now
    CloseHandle(thread);
    return true;
}

void Updater::Check(const std::wstring& runningVersion, HostSend send) {
    m_send = send;
    m_runningVersion = runningVersion;
    if (m_checking) return;  // the running check answers
    VNLUserDefaults* store = VNLUserDefaults::GetUserDefaults("url");
    const std::string address = store != nullptr ? VNLTakeText(store->GetString("url:update")) : std::string();
    auto job = std::make_unique<Transfer>();
    job->url = vnl::WideFromUtf8(address);
    job->limitBytes = kMaxFeedSizeBytes;
    m_checking = !address.empty() && Start(std::move(job));
    if (!m_checking) {
        CommandMessage message{};
        message.status = kCheckFailed;
        m_send(ZERITH_COMMAND_CHECK_FOR_UPDATE, message);
    }
}

void Updater::Download(HostSend send) {
    m_send = send;
    if (m_downloadId != 0) return;  // one download at a time
    auto job = std::make_unique<Transfer>();
    job->isDownload = true;
    job->url = vnl::WideFromUtf8(m_installerUrl);
    job->limitBytes = kMaxInstallerSizeBytes;
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    job->path = std::wstring(folder, length > 0 && length <= MAX_PATH ? length : 0) + InstallerFileName(m_installerUrl);
    std::shared_ptr<std::atomic<bool>> cancelled = job->cancelled;
    if (m_installerUrl.empty() || length == 0 || length > MAX_PATH || !Start(std::move(job))) {
        CommandMessage message{};
        message.status = kDownloadFailed;
        m_send(ZERITH_COMMAND_DOWNLOAD_UPDATE, message);
        return;
    }
    m_downloadId = m_lastId;
    m_downloadCancelled = cancelled;
}

void Updater::Cancel() {
    // The host has closed its dialog: the download ends without an answer.
    if (m_downloadCancelled) m_downloadCancelled->store(true);
}

void Updater::OnDone(std::unique_ptr<Transfer> job) {
    CommandMessage message{};
    if (!job->isDownload) {
        m_checking = false;
        UpdateFeed feed;
        const bool read = job->ok && ReadUpdateFeed(job->body, m_runningVersion, feed);
        message.status = read ? kCheckDone : kCheckFailed;
        if (read) m_installerUrl = feed.installerUrl;
        std::unique_ptr<UpdateVersionList> newer;
        if (read && !feed.newer.empty()) {
            message.value2 = static_cast<std::int64_t>(feed.newer.size());
            newer = std::make_unique<UpdateVersionList>(std::move(feed.newer));
            message.extra = newer.release();  // the host deletes it
        }
        m_send(ZERITH_COMMAND_CHECK_FOR_UPDATE, message);
        return;
    }
    if (job->id != m_downloadId) return;
    const bool cancelled = job->cancelled->load();
    m_downloadId = 0;
    m_downloadCancelled.reset();
    if (cancelled) {
        if (job->ok) DeleteFileW(job->path.c_str());
        return;
    }
    message.status = job->ok ? kDownloadFinished : kDownloadFailed;
    if (job->ok) {
        // The host frees the path from the shared heap.
        message.wideText = static_cast<wchar_t*>(std::malloc((job->path.size() + 1) * sizeof(wchar_t)));
        if (message.wideText == nullptr) {
            message.status = kDownloadFailed;
        } else {
            std::wmemcpy(message.wideText, job->path.c_str(), job->path.size() + 1);
        }
    }
    m_send(ZERITH_COMMAND_DOWNLOAD_UPDATE, message);
}

LRESULT CALLBACK Updater::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        Updater& updater = Instance();
        if (message == WM_UPDATE_PROGRESS) {
            std::unique_ptr<Progress> progress(reinterpret_cast<Progress*>(lParam));
            if (wParam == updater.m_downloadId && updater.m_send != nullptr) {
                CommandMessage report{};
                report.status = kDownloadRunning;
                report.value4 = progress->doneBytes;
                report.value3 = progress->totalBytes;
                updater.m_send(ZERITH_COMMAND_DOWNLOAD_UPDATE, report);
            }
            return 0;
        }
        if (message == WM_UPDATE_DONE) {
            std::unique_ptr<Transfer> job(reinterpret_cast<Transfer*>(lParam));
            if (updater.m_send != nullptr) updater.OnDone(std::move(job));
            return 0;
        }
    } catch (...) {
        // Nothing may cross back into the message loop.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool Is(const CommandMessage& message, const char* name) { return std::strcmp(message.name, name) == 0; }

}  // namespace

bool HandleUpdateCommand(const CommandMessage& message, const std::wstring& runningVersion, HostSend send) {
    if (message.name == nullptr || send == nullptr) return false;
    Updater& updater = Updater::Instance();
    if (Is(message, ZERITH_COMMAND_CHECK_FOR_UPDATE)) {
        updater.Check(runningVersion, send);
    } else if (Is(message, ZERITH_COMMAND_DOWNLOAD_UPDATE)) {
        updater.Download(send);
    } else if (Is(message, ZERITH_COMMAND_DOWNLOAD_UPDATE_CANCEL)) {
        updater.Cancel();
    } else {
        return false;
    }
    return true;
}

}  // namespace relay
