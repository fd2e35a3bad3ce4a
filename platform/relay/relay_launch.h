#pragma once
// The device service's process and the transport of its connection, for the relay's link
// (relay_link.cpp): a launch listens on loopback, starts the service's program (through Wine, which runs
// a Linux program named by its path on drive Z:) told to connect there, and reads the connection on a
// thread of its own, posting what happens to the link's window. The link decides what the packets mean.
//
// Threads: Open and Close run on the UI thread; the reader touches only the sockets and the window handle
// it was started with.

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <string>

namespace relay {

// Messages a launch posts to the link's window. wParam: the launch they belong to (Current()), so that a
// message of an earlier launch is told apart.
// lParam: a Packet* that the window procedure takes over (and frees when it is not delivered).
constexpr UINT WM_RELAY_PACKET = WM_APP + 1;
// The service's connection ended or went out of step, or the listener was closed.
constexpr UINT WM_RELAY_CLOSED = WM_APP + 2;
// The service connected.
constexpr UINT WM_RELAY_CONNECTED = WM_APP + 3;
// The window's timer that Open sets: the service did not connect in time (Close kills it).
constexpr UINT_PTR kConnectTimer = 1;

// The environment variable `name`; empty when it is unset or too long.
std::wstring Environment(const wchar_t* name);

class ServiceLaunch {
public:
    ServiceLaunch() = default;
    ServiceLaunch(const ServiceLaunch&) = delete;
    ServiceLaunch& operator=(const ServiceLaunch&) = delete;

    // Listens on loopback, starts the service (TREVANE_HARLIX, watching TREVANE_LINUX_PID, reporting
    // `version`), starts the reader that posts to `window` and sets the window's connect timer
    // (TREVANE_CONNECT_TIMEOUT_MS shortens it for tests). False, with nothing left open, when any of it fails.
    bool Open(HWND window, const std::wstring& version);
    // Ends the reader (bounded wait) and closes both sockets. Whatever the reader posted meanwhile belongs to
    // a launch that is over. Harmless when nothing is open.
    void Close();

    // Whether a launch is listening or connected.
    bool IsOpen() const { return m_open; }
    // The current launch, as the reader's messages carry it.
    WPARAM Current() const { return m_launch; }
    // The connection to send on (sends happen on the UI thread, one at a time); INVALID_SOCKET when none.
    SOCKET Connection() const { return m_connection.load(); }

private:
    bool Listen(int& port);
    static DWORD WINAPI ReadConnection(void* parameter);

    HWND m_window = nullptr;
    // Both sockets are closed by Close on the UI thread, which is what ends the reader's blocking calls.
    SOCKET m_listener = INVALID_SOCKET;
    // Written by the reader right after accept; the reader then tests m_stopping, which Close sets before it
    // looks at the connection, so one of the two always sees the other.
    std::atomic<SOCKET> m_connection{INVALID_SOCKET};
    std::atomic<bool> m_stopping{false};
    HANDLE m_reader = nullptr;
    WPARAM m_launch = 0;
    bool m_open = false;
};

}  // namespace relay
