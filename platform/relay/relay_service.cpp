// The relay module's service mode (see relay_service.h).
//
// Threads: the UI thread runs every host delivery, the window procedure, all sends to the host and all
// requests to the service; the reader thread accepts the service's connection, reads it and posts each
// packet to the relay's window. The reader touches only the sockets and the window handle it was
// started with.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "device_record.h"
#include "server_start.h"
#include "wide_pair.h"
#include "relay_backups.h"
#include "relay_contacts.h"
#include "relay_contacts_codec.h"
#include "relay_devices.h"
#include "relay_actions.h"
#include "relay_exports.h"
#include "relay_drivers.h"
#include "relay_lists.h"
#include "relay_paths.h"
#include "relay_rename.h"
#include "relay_update.h"
#include "relay_service.h"
#include "relay_wire.h"
#include "vnl_utf8.h"

namespace trv::relay {
namespace {

// Messages of the relay's window. wParam of the reader's messages: the launch they belong to, so that
// a message of an earlier launch is told apart.
// lParam: a Packet* that the window procedure takes over (and frees when it is not delivered).
constexpr UINT WM_RELAY_PACKET = WM_APP + 1;
// The service's connection ended or went out of step, or the listener was closed.
constexpr UINT WM_RELAY_CLOSED = WM_APP + 2;
// The service connected.
constexpr UINT WM_RELAY_CONNECTED = WM_APP + 3;
// lParam: a ContactsAnswer* to hand to the host.
constexpr UINT WM_RELAY_ANSWER = WM_APP + 4;
// lParam: a std::wstring* UDID of a device that left, for the title bar.
constexpr UINT WM_RELAY_DEVICE_LEFT = WM_APP + 5;
constexpr wchar_t kWindowClass[] = L"TrevaneRelayService";
constexpr int kReadSizeBytes = 65536;
constexpr DWORD kReaderStopTimeoutMs = 5000;
// The service tries to reach the relay 11 times a second apart; after this long it is not coming
// (TREVANE_CONNECT_TIMEOUT_MS shortens it for tests).
constexpr UINT kConnectTimeoutMs = 20000;
constexpr UINT_PTR kConnectTimer = 1;
// A lost service is started again when the host acknowledges the report, this many times per run.
constexpr int kMaxRestarts = 3;
// What READY_START_SERVER carries in `status`: the service is up (1), or it was lost (0).
constexpr int64_t kServerUp = 1;
constexpr int64_t kServerLost = 0;
// The title bar stand-in's export that drops a device that left (the title bar has no host command
// for it).
constexpr char kTitleBarRemoveDevice[] = "StandinRemoveDevice";
constexpr wchar_t kTitleBarLibrary[] = L"libLunder.dll";

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// A wide text from the host, which may be null.
std::string Utf8(const wchar_t* text) { return text == nullptr ? std::string() : vnl::Utf8FromWide(text); }

// One command-line argument, quoted so that the usual command-line splitting gives it back unchanged:
// backslashes are literal except before a quote, where they and the quote are escaped.
std::wstring Quote(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"') {
                quoted.append(backslashes + 1, L'\\');
            }
            backslashes = 0;
        }
        quoted.push_back(c);
    }
    quoted.append(backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

struct SocketCloser {
    void operator()(SOCKET* socket) const {
        if (socket != nullptr && *socket != INVALID_SOCKET) {
            closesocket(*socket);
        }
        delete socket;
    }
};

// The one link to the device service. Every member runs on the UI thread except ReadConnection, which
// runs on the reader thread and reaches the link only through its ReaderStart and posted messages.
class ServiceLink final : public ContactsLink {
public:
    static ServiceLink& Instance() {
        static ServiceLink* link = new ServiceLink();  // lives until the process ends
        return *link;
    }

    void SetHost(ModuleRecord* record) { m_host = record; }
    void Start(const ServerStartRecord* record);
    void OnHostReady(int64_t status);
    void Exit();
    void Stop();
    const DeviceTable& Devices() const { return m_devices; }
    ContactsService& Contacts() { return m_contacts; }
    ListsService& Lists() { return m_lists; }
    ActionsService& Actions() { return m_actions; }
    RenameService& Renames() { return m_renames; }
    DriverService& Drivers() { return m_drivers; }
    const std::wstring& Version() const { return m_version; }
    void Send(const char* name, CommandMessage& message);
    BackupService& Backups() { return m_backups; }
    std::vector<WideStringPair> DeviceList() const;

    std::uint64_t SendRequest(std::uint32_t code, const std::string& device, const std::string& data) override;
    std::uint64_t SendJsonRequest(std::uint32_t code, const std::string& json) override;
    void Answer(ContactsAnswer& answer) override;
    bool WriteNewFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) override;
    bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) override;
    std::wstring ServicePathOf(const std::wstring& path) override;
    ExportService& Exports() { return m_exports; }

private:
    ServiceLink()
        : m_contacts(*this), m_lists(*this), m_actions(*this, m_lists), m_renames(*this, m_devices), m_exports(*this),
          m_drivers(*this), m_backups(*this, DesktopBackupFiles()) {}
    std::uint64_t SendPacket(std::uint32_t code, const std::string& json, const std::string& compressed);
    bool CreateRelayWindow();
    bool Launch();
    bool Listen(int& port);
    bool StartService(int port);
    void CloseLink();
    void OnConnected();
    void OnPacket(std::unique_ptr<Packet> packet);
    void OnReply(const Packet& packet);
    void OnDeviceInfo(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    void OnLost();
    void Deliver(const RelayAction& action);
    void DeliverAnswer(std::unique_ptr<ContactsAnswer> answer);
    void RemoveFromTitleBar(const std::wstring& udid);
    static DWORD WINAPI ReadConnection(void* parameter);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ModuleRecord* m_host = nullptr;
    HWND m_window = nullptr;
    std::wstring m_version = L"1.0.0";
    // Both sockets are closed by CloseLink on the UI thread, which is what ends the reader's blocking calls.
    SOCKET m_listener = INVALID_SOCKET;
    // Written by the reader right after accept; the reader then tests m_stopping, which CloseLink sets
    // before it looks at the connection, so one of the two always sees the other.
    std::atomic<SOCKET> m_connection{INVALID_SOCKET};
    std::atomic<bool> m_stopping{false};
    HANDLE m_reader = nullptr;
    WPARAM m_launch = 0;       // the current launch; the reader's messages carry theirs
    bool m_started = false;    // START_SERVER came (once per run)
    bool m_linkOpen = false;   // a launch is listening or connected
    bool m_connected = false;  // the service connected in this launch
    int m_restarts = 0;
    std::uint64_t m_lastRequestId = 0;
    // Basic-information requests in flight: the device and what its replies said so far.
    std::map<std::uint64_t, RelayDevice> m_deviceInfo;
    DeviceTable m_devices;
    ContactsService m_contacts;
    ListsService m_lists;
    ActionsService m_actions;
    RenameService m_renames;
    ExportService m_exports;
    DriverService m_drivers;
    BackupService m_backups;
};

struct ReaderStart {
    SOCKET listener;
    std::atomic<SOCKET>* connection;  // the reader stores its accepted connection here
    std::atomic<bool>* stopping;
    HWND window;
    WPARAM launch;
};

bool ServiceLink::CreateRelayWindow() {
    if (m_window != nullptr) {
        return true;
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &ServiceLink::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    return m_window != nullptr;
}

bool ServiceLink::Listen(int& port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    std::unique_ptr<SOCKET, SocketCloser> listener(new SOCKET(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (*listener == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks a free port
    int length = sizeof address;
    if (bind(*listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(*listener, 1) != 0 || getsockname(*listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    m_listener = *listener;
    *listener = INVALID_SOCKET;
    return true;
}

bool ServiceLink::StartService(int port) {
    // Started through Wine, which runs a Linux program named by its path on drive Z:.
    const std::wstring given = Environment(L"TREVANE_HARLIX");
    const std::wstring desktopPath = ToDesktopPath(given);
    const std::wstring program = desktopPath.empty() ? given : desktopPath;
    std::wstring watchedPid = Environment(L"TREVANE_LINUX_PID");
    if (watchedPid.empty() || watchedPid.find_first_not_of(L"0123456789") != std::wstring::npos) {
        watchedPid = L"0";
    }
    // Positions: port, watched pid, console, self-test, logging, version, log sub-folder, product, mode.
    std::wstring commandLine = Quote(program) + L" " + std::to_wstring(port) + L" " + watchedPid + L" 0 0 1 " +
                               Quote(m_version) + L" TrevaneRelay Trevane 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool ServiceLink::Launch() {
    int port = 0;
    if (!CreateRelayWindow() || !Listen(port) || !StartService(port)) {
        CloseLink();
        return false;
    }
    m_stopping = false;
    m_linkOpen = true;
    m_connected = false;
    ++m_launch;
    auto start = std::make_unique<ReaderStart>(ReaderStart{m_listener, &m_connection, &m_stopping, m_window, m_launch});
    m_reader = CreateThread(nullptr, 0, &ServiceLink::ReadConnection, start.get(), 0, nullptr);
    if (m_reader == nullptr) {
        CloseLink();
        return false;
    }
    start.release();  // the reader frees it
    const std::wstring timeout = Environment(L"TREVANE_CONNECT_TIMEOUT_MS");
    const UINT timeoutMs = !timeout.empty() && _wtoi(timeout.c_str()) > 0 ? static_cast<UINT>(_wtoi(timeout.c_str()))
                                                                          : kConnectTimeoutMs;
    SetTimer(m_window, kConnectTimer, timeoutMs, nullptr);
    CommandMessage message{};
    Send(ZERITH_COMMAND_START_LOAD_ITUNES_DLL, message);
    return true;
}

void ServiceLink::Start(const ServerStartRecord* record) {
    if (m_started) {
        return;  // one service per desktop
    }
    m_started = true;
    if (record != nullptr && record->version != nullptr) {
        m_version = record->version;
    }
    if (!Launch()) {
        CommandMessage message{};
        message.status = 1;
        Send(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, message);
    }
}

void ServiceLink::OnHostReady(int64_t status) {
    // The host hands back each report: a lost service is started again, a few times per run.
    if (status != kServerLost || !m_started || m_linkOpen || m_restarts >= kMaxRestarts) {
        return;
    }
    ++m_restarts;
    if (!Launch()) {
        CommandMessage message{};
        message.status = 1;
        Send(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, message);
    }
}

void ServiceLink::CloseLink() {
    m_stopping = true;
    if (m_window != nullptr) {
        KillTimer(m_window, kConnectTimer);
    }
    if (m_listener != INVALID_SOCKET) {
        closesocket(m_listener);  // ends a reader still waiting in accept
        m_listener = INVALID_SOCKET;
    }
    const SOCKET connection = m_connection.exchange(INVALID_SOCKET);
    if (connection != INVALID_SOCKET) {
        shutdown(connection, SD_BOTH);  // ends the reader's recv
    }
    if (m_reader != nullptr) {
        // Bounded: a reader that does not come back only posts to a window that ignores its launch.
        WaitForSingleObject(m_reader, kReaderStopTimeoutMs);
        CloseHandle(m_reader);
        m_reader = nullptr;
    }
    if (connection != INVALID_SOCKET) {
        closesocket(connection);
    }
    m_linkOpen = false;
    m_connected = false;
    ++m_launch;  // whatever the reader posted meanwhile belongs to a launch that is over
}

void ServiceLink::Stop() {
    CloseLink();
    if (m_window == nullptr) {
        return;
    }
    // What is still queued for the window carries heap payloads that nobody would free once it is gone.
    MSG queued;
    while (PeekMessageW(&queued, m_window, WM_RELAY_PACKET, WM_RELAY_DEVICE_LEFT, PM_REMOVE)) {
        switch (queued.message) {
            case WM_RELAY_PACKET:
                delete reinterpret_cast<Packet*>(queued.lParam);
                break;
            case WM_RELAY_ANSWER: {
                std::unique_ptr<ContactsAnswer> answer(reinterpret_cast<ContactsAnswer*>(queued.lParam));
                ReleaseContactsAnswer(*answer);
                break;
            }
            case WM_RELAY_DEVICE_LEFT:
                delete reinterpret_cast<std::wstring*>(queued.lParam);
                break;
            default:
                break;
        }
    }
    DestroyWindow(m_window);
    m_window = nullptr;
}

void ServiceLink::Exit() {
    // The device service stops with the link: its devices leave, and the host hears that it has stopped.
    if (m_linkOpen) {
        CloseLink();
        m_contacts.OnServiceGone();
        m_lists.OnServiceGone();
        m_actions.OnServiceGone();
        m_renames.OnServiceGone();
        m_exports.OnServiceGone();
        m_drivers.OnServiceGone();
        m_backups.OnServiceGone();
        for (const RelayAction& action : m_devices.OnServiceGone()) {
            Deliver(action);
        }
    }
    CommandMessage message{};
    Send(ZERITH_COMMAND_EXIT_SERVER, message);
}

DWORD WINAPI ServiceLink::ReadConnection(void* parameter) {
    std::unique_ptr<ReaderStart> start(static_cast<ReaderStart*>(parameter));
    const SOCKET connection = accept(start->listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
        PostMessageW(start->window, WM_RELAY_CLOSED, start->launch, 0);
        return 0;
    }
    start->connection->store(connection);
    if (start->stopping->load()) {
        // CloseLink ran meanwhile and may have missed the connection: it is this thread's to close.
        if (start->connection->exchange(INVALID_SOCKET) == connection) {
            closesocket(connection);
        }
        return 0;
    }
    PostMessageW(start->window, WM_RELAY_CONNECTED, start->launch, 0);
    PacketReader reader;
    std::vector<char> bytes(kReadSizeBytes);
    while (true) {
        const int received = recv(connection, bytes.data(), kReadSizeBytes, 0);
        if (received <= 0) {
            break;
        }
        reader.Feed(bytes.data(), static_cast<std::size_t>(received));
        DecodeResult result;
        auto packet = std::make_unique<Packet>();
        while ((result = reader.Next(*packet)) == DecodeResult::kComplete) {
            if (PostMessageW(start->window, WM_RELAY_PACKET, start->launch, reinterpret_cast<LPARAM>(packet.get()))) {
                packet.release();  // the window procedure frees it
            }
            packet = std::make_unique<Packet>();
        }
        if (result == DecodeResult::kMalformed) {
            // Out of step: nothing more on this connection can be trusted. Shut down (not closed: CloseLink
            // owns the handle) so that the service learns the connection is gone.
            shutdown(connection, SD_BOTH);
            break;
        }
    }
    PostMessageW(start->window, WM_RELAY_CLOSED, start->launch, 0);
    return 0;
}

LRESULT CALLBACK ServiceLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        ServiceLink& link = Instance();
        switch (message) {
            case WM_RELAY_PACKET: {
                std::unique_ptr<Packet> packet(reinterpret_cast<Packet*>(lParam));
                if (wParam == link.m_launch) {
                    link.OnPacket(std::move(packet));
                }
                return 0;
            }
            case WM_RELAY_CONNECTED:
                if (wParam == link.m_launch) {
                    link.OnConnected();
                }
                return 0;
            case WM_RELAY_CLOSED:
                if (wParam == link.m_launch) {
                    link.OnLost();
                }
                return 0;
            case WM_TIMER:
                if (wParam == kConnectTimer) {
                    KillTimer(window, kConnectTimer);
                    if (link.m_linkOpen && !link.m_connected) {
                        link.OnLost();  // the service never came
                    }
                }
                return 0;
            case WM_RELAY_ANSWER:
                link.DeliverAnswer(std::unique_ptr<ContactsAnswer>(reinterpret_cast<ContactsAnswer*>(lParam)));
                return 0;
            case WM_RELAY_DEVICE_LEFT: {
                std::unique_ptr<std::wstring> udid(reinterpret_cast<std::wstring*>(lParam));
                // A device that came back meanwhile stays on the title bar.
                if (!link.m_devices.IsConnected(vnl::Utf8FromWide(*udid))) {
                    link.RemoveFromTitleBar(*udid);
                }
                return 0;
            }
            default:
                break;
        }
    } catch (...) {
        // Nothing may cross back into the message loop.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// With TREVANE_RELAY_TRACE set, each command sent to the host is appended to the relay's trace as
// "> NAME key=<device>" (and the product type of a connected device, the code and count of a contacts
// answer, the device name of a device-info answer), beside the deliveries the relay receives.
void TraceSent(const char* name, const CommandMessage& message) {
    const std::wstring path = Environment(L"TREVANE_RELAY_TRACE");
    if (path.empty()) {
        return;
    }
    std::string line = std::string("> ") + name;
    if (message.text != nullptr) {
        line += std::string(" key=") + message.text;
    }
    if (message.data != nullptr && std::strcmp(name, ZERITH_COMMAND_DEVICE_CONNECTED) == 0) {
        const auto* record = static_cast<const DeviceRecord*>(message.data);
        auto type = record->properties.find("ProductType");
        line += " ProductType=" + (type == record->properties.end() ? std::string() : type->second);
    }
    if (message.data != nullptr && std::strcmp(name, ZERITH_COMMAND_GET_DEVICE_INFO) == 0 && message.status != 0) {
        line += " name=" + vnl::Utf8FromWide(static_cast<const WideStringPair*>(message.data)->second);
    }
    if (std::strncmp(name, "ZERITH_COMMAND_DO_", 18) == 0) {
        line += " code=" + std::to_string(message.code) + " value2=" + std::to_string(message.value2) +
                " value3=" + std::to_string(message.value3);
    }
    if (std::strcmp(name, ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL) == 0 || std::strcmp(name, ZERITH_COMMAND_SERVER_CRASH) == 0 ||
        std::strcmp(name, ZERITH_COMMAND_READY_START_SERVER) == 0) {
        line += " status=" + std::to_string(message.status);
    } else if (std::strstr(name, "_DRIVER") != nullptr || std::strncmp(name, "ZERITH_COMMAND_RECV_", 20) == 0 ||
               std::strstr(name, "_UPDATE") != nullptr) {
        line += " status=" + std::to_string(message.status) + " value3=" + std::to_string(message.value3) +
                " value4=" + std::to_string(message.value4) + " value2=" + std::to_string(message.value2);
    }
    line += "\n";
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"ab"), &fclose);
    if (file) {
        fwrite(line.data(), 1, line.size(), file.get());
    }
}

void ServiceLink::Send(const char* name, CommandMessage& message) {
    TraceSent(name, message);
    if (m_host == nullptr || m_host->send == nullptr) {
        return;
    }
    message.kind = COMMAND_KIND_INVOKE;
    message.name = name;
    message.owner = m_host->module;
    m_host->send(&message);
}

std::uint64_t ServiceLink::SendRequest(std::uint32_t code, const std::string& device, const std::string& data) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("uuid");
    writer.String(device.c_str(), static_cast<rapidjson::SizeType>(device.size()));
    writer.EndObject();
    std::string compressed;
    if (!data.empty() && !Deflate(data, compressed)) {
        return 0;
    }
    return SendPacket(code, json.GetString(), compressed);
}

std::uint64_t ServiceLink::SendJsonRequest(std::uint32_t code, const std::string& json) {
    return SendPacket(code, json, std::string());
}

std::uint64_t ServiceLink::SendPacket(std::uint32_t code, const std::string& json, const std::string& compressed) {
    const SOCKET connection = m_connection.load();
    if (!m_connected || connection == INVALID_SOCKET) {
        return 0;
    }
    const std::uint64_t id = ++m_lastRequestId;
    const std::string packet = EncodePacket(id, code, 0, EncodeRequestBody(1, json, compressed));
    // The reader thread only receives on this socket; sends happen here, on the UI thread, one at a time.
    std::size_t sent = 0;
    while (sent < packet.size()) {
        const int chunk = send(connection, packet.data() + sent, static_cast<int>(packet.size() - sent), 0);
        if (chunk <= 0) {
            return 0;  // the reader sees the connection end and reports it
        }
        sent += static_cast<std::size_t>(chunk);
    }
    return id;
}

void ServiceLink::Answer(ContactsAnswer& answer) {
    // Answers reach the host from the window's queue, never inside the call that caused them, and in
    // the order they were made.
    auto posted = std::make_unique<ContactsAnswer>(answer);
    answer.extra = nullptr;
    if (m_window != nullptr && PostMessageW(m_window, WM_RELAY_ANSWER, 0, reinterpret_cast<LPARAM>(posted.get()))) {
        posted.release();
        return;
    }
    ReleaseContactsAnswer(*posted);
}

bool ServiceLink::WriteNewFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
    if (folder.empty() || bytes.size() > MAXDWORD) {
        return false;
    }
    const std::wstring path = folder + (folder.back() == L'\\' || folder.back() == L'/' ? L"" : L"\\") + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;  // there already, or the folder cannot take it
    }
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    const bool closed = CloseHandle(file) != FALSE;
    if (!whole || !closed) {
        DeleteFileW(path.c_str());  // a half-written export is worse than none
        return false;
    }
    return true;
}

bool ServiceLink::ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= limitBytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() || (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                               read == bytes.size());
    }
    CloseHandle(file);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}

std::wstring ServiceLink::ServicePathOf(const std::wstring& path) {
    std::wstring converted = ToServicePath(path);
    if (!converted.empty() || path.empty()) {
        return converted;
    }
    // Any other drive (the folder chooser offers the user's own folders on C:) is asked of Wine, which maps
    // every drive to a Linux folder; its answer is on the process heap, in UTF-8.
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto unixName = kernel != nullptr ? reinterpret_cast<UnixFileName>(
                                            reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                                      : nullptr;
    char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
    if (name != nullptr) {
        converted = vnl::WideFromUtf8(name);
        HeapFree(GetProcessHeap(), 0, name);
    }
    return converted;
}

void ServiceLink::DeliverAnswer(std::unique_ptr<ContactsAnswer> answer) {
    if (!answer) {
        return;
    }
    if (m_host == nullptr || m_host->send == nullptr) {
        ReleaseContactsAnswer(*answer);
        return;
    }
    CommandMessage message{};
    message.code = answer->code;
    message.text = answer->device.c_str();
    message.extra = answer->extra;  // the host's from here on
    message.value2 = answer->value2;
    message.value3 = answer->value3;
    message.status = answer->status;
    message.value4 = answer->value4;
    message.wideText = answer->wideText.empty() ? nullptr : &answer->wideText[0];  // lent for the call
    answer->extra = nullptr;
    Send(answer->name != nullptr ? answer->name : ZERITH_COMMAND_DO_CONTACT, message);
}

void ServiceLink::Deliver(const RelayAction& action) {
    CommandMessage message{};
    message.text = action.device.udid.c_str();
    switch (action.kind) {
        case RelayActionKind::kStartConnect:
            Send(ZERITH_COMMAND_START_CONNECT_DEVICE, message);
            break;
        case RelayActionKind::kConnected: {
            DeviceRecord record{action.device.udid, action.device.properties};
            message.data = &record;  // lent for the call
            Send(ZERITH_COMMAND_DEVICE_CONNECTED, message);
            // The device's name and the rest of its basic information follow as GET_DEVICE_INFO.
            const std::uint64_t id = SendRequest(kRequestDeviceInfo, action.device.udid, std::string());
            if (id != 0) {
                m_deviceInfo[id] = RelayDevice{action.device.udid, 0, {}};
            }
            break;
        }
        case RelayActionKind::kFinishConnect:
            Send(ZERITH_COMMAND_FINISH_CONNECT_DEVICE, message);
            break;
        case RelayActionKind::kConnectFail:
            message.code = action.code;  // the reason, for the device page
            Send(ZERITH_COMMAND_CONNECT_DEVICE_FAIL, message);
            break;
        case RelayActionKind::kNotPaired:
            Send(ZERITH_COMMAND_NOT_PAIR, message);
            break;
        case RelayActionKind::kDisconnected: {
            // The page of the device empties first, while the device is still the title bar's current one
            // (the host passes answers about the current device only); the title bar lets go of it last.
            m_contacts.OnDeviceGone(action.device.udid);
            WideStringPair pair(vnl::WideFromUtf8(action.device.udid), vnl::WideFromUtf8(DeviceTable::DisplayName(action.device)));
            message.extra = &pair;  // lent for the call
            Send(ZERITH_COMMAND_DEVICE_DISCONNECT, message);
            auto udid = std::make_unique<std::wstring>(pair.first);
            if (m_window != nullptr &&
                PostMessageW(m_window, WM_RELAY_DEVICE_LEFT, 0, reinterpret_cast<LPARAM>(udid.get()))) {
                udid.release();
            }
            break;
        }
        case RelayActionKind::kMonitorFailed:
            message.status = action.code;
            Send(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, message);
            // The device page says why no device can come, while the host installs the driver.
            message.status = 0;
            message.code = action.code;
            Send(ZERITH_COMMAND_CONNECT_DEVICE_FAIL, message);
            break;
    }
}

void ServiceLink::RemoveFromTitleBar(const std::wstring& udid) {
    using RemoveDevice = void(__cdecl*)(const wchar_t*);
    HMODULE titleBar = GetModuleHandleW(kTitleBarLibrary);
    auto remove = titleBar != nullptr
                      ? reinterpret_cast<RemoveDevice>(reinterpret_cast<void*>(GetProcAddress(titleBar, kTitleBarRemoveDevice)))
                      : nullptr;
    if (remove != nullptr) {
        remove(udid.c_str());
    }
}

void ServiceLink::OnConnected() {
    KillTimer(m_window, kConnectTimer);
    m_connected = true;
    CommandMessage message{};
    message.status = kServerUp;
    Send(ZERITH_COMMAND_READY_START_SERVER, message);
}

void ServiceLink::OnPacket(std::unique_ptr<Packet> packet) {
    if (packet->header.id != 0) {
        OnReply(*packet);
        return;
    }
    for (const RelayAction& action : m_devices.OnPacket(*packet)) {
        Deliver(action);
    }
}

void ServiceLink::OnReply(const Packet& packet) {
    ReplyFrame frame;
    if (ParseReplyFrame(packet.body, frame) != FrameResult::kOk) {
        return;  // a reply that cannot be read answers nothing
    }
    std::string data = frame.data;
    if (frame.type == 0 && !frame.data.empty() && !Inflate(frame.data, data)) {
        data.clear();  // a data part that does not inflate is as good as none
    }
    if (!m_contacts.OnReply(packet, frame, data) && !m_lists.OnReply(packet, frame, data) &&
        !m_actions.OnReply(packet, frame, data) && !m_renames.OnReply(packet, frame) && !m_exports.OnReply(packet, frame) &&
        !m_drivers.OnReply(packet, frame) && !m_backups.OnReply(packet, frame, data)) {
        OnDeviceInfo(packet, frame, data);
    }
}

void ServiceLink::OnDeviceInfo(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_deviceInfo.find(packet.header.id);
    if (it == m_deviceInfo.end()) {
        return;
    }
    if (packet.header.status != 1) {
        (void)ReadDeviceInfo(data, it->second.properties);
        return;
    }
    const RelayDevice asked = std::move(it->second);
    m_deviceInfo.erase(it);
    if (frame.code != 0 || !m_devices.AddProperties(asked.udid, asked.properties)) {
        return;
    }
    const RelayDevice* device = m_devices.Find(asked.udid);
    CommandMessage named{};
    named.text = asked.udid.c_str();
    named.status = 1;
    WideStringPair pair(vnl::WideFromUtf8(asked.udid), vnl::WideFromUtf8(DeviceTable::DisplayName(*device)));
    named.data = &pair;  // lent for the call
    Send(ZERITH_COMMAND_GET_DEVICE_INFO, named);
    CommandMessage info{};
    info.text = asked.udid.c_str();
    DeviceRecord record{device->udid, device->properties};
    info.data = &record;  // lent for the call
    Send(ZERITH_COMMAND_GET_DEVICE_INFO, info);
}

void ServiceLink::OnLost() {
    // The service is gone (or never came): every device it reported leaves with it, and the host is told;
    // its acknowledgement (READY_START_SERVER with status 0) starts the service again.
    CloseLink();
    m_deviceInfo.clear();
    m_contacts.OnServiceGone();
    m_lists.OnServiceGone();
    m_actions.OnServiceGone();
    m_renames.OnServiceGone();
    m_exports.OnServiceGone();
    m_drivers.OnServiceGone();
    m_backups.OnServiceGone();
    for (const RelayAction& action : m_devices.OnServiceGone()) {
        Deliver(action);
    }
    CommandMessage message{};
    message.status = kServerLost;
    Send(ZERITH_COMMAND_SERVER_CRASH, message);
}

std::vector<WideStringPair> ServiceLink::DeviceList() const {
    std::vector<WideStringPair> list;
    for (const RelayDevice& device : m_devices.Devices()) {
        list.emplace_back(vnl::WideFromUtf8(device.udid), vnl::WideFromUtf8(DeviceTable::DisplayName(device)));
    }
    return list;
}

}  // namespace

bool IsServiceModeRequested() { return !Environment(L"TREVANE_HARLIX").empty(); }

void SetServiceHost(ModuleRecord* record) { ServiceLink::Instance().SetHost(record); }

bool HandleServiceCommand(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return false;
    }
    ServiceLink& link = ServiceLink::Instance();
    const char* name = message->name;
    if (std::strcmp(name, ZERITH_COMMAND_START_SERVER) == 0) {
        link.Start(static_cast<const ServerStartRecord*>(message->data));
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_READY_START_SERVER) == 0) {
        link.OnHostReady(message->status);
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_DESTROY_RESOURCE) == 0) {
        link.Stop();
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_EXIT_SERVER) == 0) {
        link.Exit();
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_DO_CONTACT) == 0) {
        link.Contacts().Handle(*message);
        return true;
    }
    const HostSend sendToHost = [](const char* update, CommandMessage& answer) { ServiceLink::Instance().Send(update, answer); };
    if (link.Backups().Handle(*message) || link.Lists().Handle(*message) || link.Actions().Handle(*message) ||
        link.Renames().Handle(*message) || link.Exports().Handle(*message) || link.Drivers().Handle(*message) ||
        HandleUpdateCommand(*message, link.Version(), sendToHost)) {
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_IS_DEVICE_CONNECTED) == 0) {
        message->status = link.Devices().IsConnected(Utf8(message->wideText)) ? 1 : 0;
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_GET_DEVICE_LIST) == 0) {
        // A heap vector of (identifier, name) of the ready devices; the asker deletes it.
        message->extra = new std::vector<WideStringPair>(link.DeviceList());
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_GET_iOS_PRODUCTVERSION) == 0) {
        const std::string version = link.Devices().ProductVersion(Utf8(message->wideText));
        if (!version.empty()) {
            message->extra = _wcsdup(vnl::WideFromUtf8(version).c_str());  // the asker frees it
        }
        return true;
    }
    return false;
}

}  // namespace trv::relay
