// The device service's process and its connection's transport; see relay_launch.h.
#include "relay_launch.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <vector>

#include "relay_paths.h"
#include "relay_wire.h"

namespace relay {
namespace {

constexpr int kReadSizeBytes = 65536;
constexpr DWORD kReaderStopTimeoutMs = 5000;
// The service tries to reach the relay 11 times a second apart; after this long it is not coming.
constexpr UINT kConnectTimeoutMs = 20000;

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

// Starts the service's program, told to connect to `port` and to report `version`.
bool StartService(int port, const std::wstring& version) {
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
                               Quote(version) + L" TrevaneRelay Trevane 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

struct ReaderStart {
    SOCKET listener;
    std::atomic<SOCKET>* connection;  // the reader stores its accepted connection here
    std::atomic<bool>* stopping;
    HWND window;
    WPARAM launch;
};

}  // namespace

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

bool ServiceLaunch::Listen(int& port) {
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
    if (bind(*listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(*listener, 1) != 0 ||
        getsockname(*listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    m_listener = *listener;
    *listener = INVALID_SOCKET;
    return true;
}

bool ServiceLaunch::Open(HWND window, const std::wstring& version) {
    m_window = window;
    int port = 0;
    if (window == nullptr || !Listen(port) || !StartService(port, version)) {
        Close();
        return false;
    }
    m_stopping = false;
    m_open = true;
    ++m_launch;
    auto start = std::make_unique<ReaderStart>(ReaderStart{m_listener, &m_connection, &m_stopping, m_window, m_launch});
    m_reader = CreateThread(nullptr, 0, &ServiceLaunch::ReadConnection, start.get(), 0, nullptr);
    if (m_reader == nullptr) {
        Close();
        return false;
    }
    start.release();  // the reader frees it
    const std::wstring timeout = Environment(L"TREVANE_CONNECT_TIMEOUT_MS");
    const UINT timeoutMs =
        !timeout.empty() && _wtoi(timeout.c_str()) > 0 ? static_cast<UINT>(_wtoi(timeout.c_str())) : kConnectTimeoutMs;
    SetTimer(m_window, kConnectTimer, timeoutMs, nullptr);
    return true;
}

void ServiceLaunch::Close() {
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
    m_open = false;
    ++m_launch;  // whatever the reader posted meanwhile belongs to a launch that is over
}

DWORD WINAPI ServiceLaunch::ReadConnection(void* parameter) {
    std::unique_ptr<ReaderStart> start(static_cast<ReaderStart*>(parameter));
    const SOCKET connection = accept(start->listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
        PostMessageW(start->window, WM_RELAY_CLOSED, start->launch, 0);
        return 0;
    }
    start->connection->store(connection);
    if (start->stopping->load()) {
        // Close ran meanwhile and may have missed the connection: it is this thread's to close.
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
            // Out of step: nothing more on this connection can be trusted. Shut down (not closed: Close owns
            // the handle) so that the service learns the connection is gone.
            shutdown(connection, SD_BOTH);
            break;
        }
    }
    PostMessageW(start->window, WM_RELAY_CLOSED, start->launch, 0);
    return 0;
}

}  // namespace relay
