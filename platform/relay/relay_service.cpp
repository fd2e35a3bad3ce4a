// The relay module's service mode (see relay_service.h).
//
// Threads: the UI thread runs every host delivery, the window procedure and all sends to the host; the
// reader thread accepts the service's connection, reads it and posts each packet to the relay's window.
// The reader touches only the sockets and the window handle it was started with.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include <vornel/VNLTakeText.h>
#include <vornel/VNLUtilityString.h>

#include "../../gui/sdk/command_names.h"
#include "../../gui/sdk/device_record.h"
#include "../../gui/sdk/server_start.h"
#include "../../gui/sdk/wide_pair.h"
#include "relay_devices.h"
#include "relay_service.h"
#include "relay_wire.h"

namespace trv::relay {
namespace {

// lParam: a Packet* that the window procedure takes over (and frees when it is not delivered).
constexpr UINT WM_RELAY_PACKET = WM_APP + 1;
// The service's connection ended or went out of step.
constexpr UINT WM_RELAY_CLOSED = WM_APP + 2;
constexpr wchar_t kWindowClass[] = L"TrevaneRelayService";
constexpr int kReadSizeBytes = 4096;
constexpr DWORD kReaderStopTimeoutMs = 5000;

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::string Utf8(const wchar_t* text) {
    return text == nullptr ? std::string() : VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(text));
}

std::wstring Wide(const std::string& text) {
    wchar_t* converted = VNLUtilityString::ConvertUtf8ToUnicode(text.c_str());
    std::wstring result = converted != nullptr ? converted : L"";
    VNLUtilityString::Free(converted);
    return result;
}

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
class ServiceLink {
public:
    static ServiceLink& Instance() {
        static ServiceLink* link = new ServiceLink();  // lives until the process ends
        return *link;
    }

    void SetHost(ModuleRecord* record) { m_host = record; }
    void Start(const ServerStartRecord* record);
    void Stop();
    void OnPacket(std::unique_ptr<Packet> packet);
    void OnClosed();
    const DeviceTable& Devices() const { return m_devices; }

private:
    bool CreateRelayWindow();
    bool Listen(int& port);
    bool StartService(int port, const ServerStartRecord* record);
    void Send(const char* name, CommandMessage& message);
    void Deliver(const RelayAction& action);
    static DWORD WINAPI ReadConnection(void* parameter);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ModuleRecord* m_host = nullptr;
    HWND m_window = nullptr;
    // Both sockets are closed by Stop on the UI thread, which is what ends the reader's blocking calls.
    SOCKET m_listener = INVALID_SOCKET;
    // Written by the reader right after accept; the reader then tests m_stopping, which Stop sets before
    // it looks at the connection, so one of the two always sees the other.
    std::atomic<SOCKET> m_connection{INVALID_SOCKET};
    std::atomic<bool> m_stopping{false};
    HANDLE m_reader = nullptr;
    bool m_started = false;
    DeviceTable m_devices;
};

struct ReaderStart {
    SOCKET listener;
    std::atomic<SOCKET>* connection;  // the reader stores its accepted connection here
    std::atomic<bool>* stopping;
    HWND window;
};

bool ServiceLink::CreateRelayWindow() {
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

bool ServiceLink::StartService(int port, const ServerStartRecord* record) {
    const std::wstring program = Environment(L"TREVANE_HARLIX");
    std::wstring watchedPid = Environment(L"TREVANE_LINUX_PID");
    if (watchedPid.empty() || watchedPid.find_first_not_of(L"0123456789") != std::wstring::npos) {
        watchedPid = L"0";
    }
    const std::wstring version = record != nullptr && record->version != nullptr ? record->version : L"1.0.0";
    // Positions: port, watched pid, console, self-test, logging, version, log sub-folder, product, mode.
    std::wstring commandLine = Quote(program) + L" " + std::to_wstring(port) + L" " + watchedPid + L" 0 0 1 " +
                               Quote(version) + L" TrevaneRelay Trevane 0";
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

void ServiceLink::Start(const ServerStartRecord* record) {
    if (m_started) {
        return;  // one service per desktop
    }
    int port = 0;
    if (!CreateRelayWindow() || !Listen(port) || !StartService(port, record)) {
        CommandMessage message{};
        message.status = 1;
        Send(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, message);
        Stop();
        return;
    }
    m_started = true;
    auto start = std::make_unique<ReaderStart>(ReaderStart{m_listener, &m_connection, &m_stopping, m_window});
    m_reader = CreateThread(nullptr, 0, &ServiceLink::ReadConnection, start.get(), 0, nullptr);
    if (m_reader != nullptr) {
        start.release();  // the reader frees it
    }
}

void ServiceLink::Stop() {
    m_stopping = true;
    if (m_listener != INVALID_SOCKET) {
        closesocket(m_listener);  // ends a reader still waiting in accept
        m_listener = INVALID_SOCKET;
    }
    const SOCKET connection = m_connection.exchange(INVALID_SOCKET);
    if (connection != INVALID_SOCKET) {
        shutdown(connection, SD_BOTH);  // ends the reader's recv
    }
    if (m_reader != nullptr) {
        // Bounded: a reader that does not come back only posts to a window that is gone by then.
        WaitForSingleObject(m_reader, kReaderStopTimeoutMs);
        CloseHandle(m_reader);
        m_reader = nullptr;
    }
    if (connection != INVALID_SOCKET) {
        closesocket(connection);
    }
    if (m_window != nullptr) {
        DestroyWindow(m_window);
        m_window = nullptr;
    }
}

DWORD WINAPI ServiceLink::ReadConnection(void* parameter) {
    std::unique_ptr<ReaderStart> start(static_cast<ReaderStart*>(parameter));
    const SOCKET connection = accept(start->listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
        PostMessageW(start->window, WM_RELAY_CLOSED, 0, 0);
        return 0;
    }
    start->connection->store(connection);
    if (start->stopping->load()) {
        // Stop ran meanwhile and may have missed the connection: it is this thread's to close.
        if (start->connection->exchange(INVALID_SOCKET) == connection) {
            closesocket(connection);
        }
        return 0;
    }
    PacketReader reader;
    char bytes[kReadSizeBytes];
    while (true) {
        const int received = recv(connection, bytes, sizeof bytes, 0);
        if (received <= 0) {
            break;
        }
        reader.Feed(bytes, static_cast<std::size_t>(received));
        DecodeResult result;
        auto packet = std::make_unique<Packet>();
        while ((result = reader.Next(*packet)) == DecodeResult::kComplete) {
            if (PostMessageW(start->window, WM_RELAY_PACKET, 0, reinterpret_cast<LPARAM>(packet.get()))) {
                packet.release();  // the window procedure frees it
            }
            packet = std::make_unique<Packet>();
        }
        if (result == DecodeResult::kMalformed) {
            // Out of step: nothing more on this connection can be trusted. Shut down (not closed: Stop
            // owns the handle) so that the service learns the connection is gone.
            shutdown(connection, SD_BOTH);
            break;
        }
    }
    PostMessageW(start->window, WM_RELAY_CLOSED, 0, 0);
    return 0;
}

LRESULT CALLBACK ServiceLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
            case WM_RELAY_PACKET:
                Instance().OnPacket(std::unique_ptr<Packet>(reinterpret_cast<Packet*>(lParam)));
                return 0;
            case WM_RELAY_CLOSED:
                Instance().OnClosed();
                return 0;
            default:
                break;
        }
    } catch (...) {
        // Nothing may cross back into the message loop.
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// With TREVANE_RELAY_TRACE set, each command sent to the host is appended to the relay's trace as
// "> NAME key=<device>" (and the product type of a connected device), beside the deliveries the relay
// receives.
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
    if (std::strcmp(name, ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL) == 0) {
        line += " status=" + std::to_string(message.status);
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
            break;
        }
        case RelayActionKind::kFinishConnect:
            Send(ZERITH_COMMAND_FINISH_CONNECT_DEVICE, message);
            break;
        case RelayActionKind::kConnectFail:
            Send(ZERITH_COMMAND_CONNECT_DEVICE_FAIL, message);
            break;
        case RelayActionKind::kDisconnected: {
            WideStringPair pair(Wide(action.device.udid), Wide(DeviceTable::DisplayName(action.device)));
            message.extra = &pair;  // lent for the call
            Send(ZERITH_COMMAND_DEVICE_DISCONNECT, message);
            break;
        }
        case RelayActionKind::kMonitorFailed:
            message.status = action.code;
            Send(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL, message);
            break;
    }
}

void ServiceLink::OnPacket(std::unique_ptr<Packet> packet) {
    for (const RelayAction& action : m_devices.OnPacket(*packet)) {
        Deliver(action);
    }
}

void ServiceLink::OnClosed() {
    // The service is gone, and every device it reported leaves with it.
    for (const RelayAction& action : m_devices.OnServiceGone()) {
        Deliver(action);
    }
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
    if (std::strcmp(name, ZERITH_COMMAND_DESTROY_RESOURCE) == 0) {
        link.Stop();
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_IS_DEVICE_CONNECTED) == 0) {
        message->status = link.Devices().IsConnected(Utf8(message->wideText)) ? 1 : 0;
        return true;
    }
    if (std::strcmp(name, ZERITH_COMMAND_GET_iOS_PRODUCTVERSION) == 0) {
        const std::string version = link.Devices().ProductVersion(Utf8(message->wideText));
        if (!version.empty()) {
            message->extra = _wcsdup(Wide(version).c_str());  // the asker frees it
        }
        return true;
    }
    return false;
}

}  // namespace trv::relay
