// The relay module's service mode (see relay_service.h): the link between the host, the device service's
// connection (started and read by relay_launch.h) and the relay's features (relay_features.h).
//
// Threads: the UI thread runs every host delivery, the window procedure, all sends to the host and all
// requests to the service; the launch's reader thread only posts to the link's window.
#include "relay_launch.h"

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
#include "relay_devices.h"
#include "relay_features.h"
#include "relay_files.h"
#include "relay_update.h"
#include "relay_service.h"
#include "relay_wire.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

// Messages of the relay's window besides the launch's (relay_launch.h).
// lParam: a RelayAnswer* to hand to the host.
constexpr UINT WM_RELAY_ANSWER = WM_APP + 4;
// lParam: a std::wstring* UDID of a device that left, for the title bar.
constexpr UINT WM_RELAY_DEVICE_LEFT = WM_APP + 5;
constexpr wchar_t kWindowClass[] = L"TrevaneRelayService";
// A lost service is started again when the host acknowledges the report, this many times per run.
constexpr int kMaxRestarts = 3;
// What READY_START_SERVER carries in `status`: the service is up (1), or it was lost (0).
constexpr int64_t kServerUp = 1;
constexpr int64_t kServerLost = 0;
// The title bar stand-in's exports that drop a device that left and list one that is attached but not ready
// with why (the title bar has no host command for either), and the device page stand-in's that forgets what
// such a device reported once it left.
constexpr char kTitleBarRemoveDevice[] = "StandinRemoveDevice";
constexpr char kTitleBarShowWaiting[] = "StandinShowWaitingDevice";
constexpr wchar_t kTitleBarLibrary[] = L"libLunder.dll";
constexpr char kDevicePageForget[] = "StandinForgetDevice";
constexpr wchar_t kDevicePageLibrary[] = L"libYestal.dll";

// The export `name` of the loaded module `library`, or null.
template <typename Function>
Function StandinExport(const wchar_t* library, const char* name) {
    HMODULE module = GetModuleHandleW(library);
    return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                             : nullptr;
}

// A wide text from the host, which may be null.
std::string Utf8(const wchar_t* text) { return text == nullptr ? std::string() : vnl::Utf8FromWide(text); }

// The one link to the device service, and the features it serves (relay_feature.h). UI thread only: the
// launch's reader reaches it only through posted messages.
class ServiceLink final : public RelayLink {
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
    RelayFeatures& Features() { return m_features; }
    const std::wstring& Version() const { return m_version; }
    void Send(const char* name, CommandMessage& message);
    std::vector<WideStringPair> DeviceList() const;

    std::uint64_t SendRequest(std::uint32_t code, const std::string& device, const std::string& data) override;
    std::uint64_t SendJsonRequest(std::uint32_t code, const std::string& json) override;
    void Answer(RelayAnswer& answer) override;
    bool WriteNewFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) override {
        return WriteNewDesktopFile(folder, name, bytes);
    }
    bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) override {
        return ReadWholeDesktopFile(path, limitBytes, bytes);
    }
    std::wstring ServicePathOf(const std::wstring& path) override { return ServicePathOfDesktopPath(path); }

private:
    ServiceLink() : m_features(*this, m_devices, DesktopBackupFiles()) {}
    std::uint64_t SendPacket(std::uint32_t code, const std::string& json, const std::string& compressed);
    bool CreateRelayWindow();
    bool Launch();
    void CloseLink();
    void OnServiceGone();
    void OnConnected();
    void OnPacket(std::unique_ptr<Packet> packet);
    void OnReply(const Packet& packet);
    void OnDeviceInfo(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    void OnLost();
    void Deliver(const RelayAction& action);
    void DeliverAnswer(std::unique_ptr<RelayAnswer> answer);
    // A device left: the title bar drops it and the device page forgets what it reported.
    void TellPagesDeviceLeft(const std::wstring& udid);
    // A device that is attached but not ready (the service's `reason`: 25 waiting for trust, 48 locked ...)
    // is listed on the title bar with it.
    void ShowWaitingOnTitleBar(const RelayDevice& device, std::uint32_t reason);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ModuleRecord* m_host = nullptr;
    HWND m_window = nullptr;
    std::wstring m_version = L"1.0.0";
    ServiceLaunch m_launch;
    bool m_started = false;    // START_SERVER came (once per run)
    bool m_connected = false;  // the service connected in the current launch
    int m_restarts = 0;
    std::uint64_t m_lastRequestId = 0;
    // Basic-information requests in flight: the device and what its replies said so far.
    std::map<std::uint64_t, RelayDevice> m_deviceInfo;
    DeviceTable m_devices;
    RelayFeatures m_features;  // after m_devices, which it holds
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
    m_window =
        CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    return m_window != nullptr;
}

bool ServiceLink::Launch() {
    m_connected = false;
    if (!CreateRelayWindow() || !m_launch.Open(m_window, m_version)) {
        return false;
    }
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
    if (status != kServerLost || !m_started || m_launch.IsOpen() || m_restarts >= kMaxRestarts) {
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
    m_launch.Close();
    m_connected = false;
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
        case WM_RELAY_PACKET: delete reinterpret_cast<Packet*>(queued.lParam); break;
        case WM_RELAY_ANSWER: {
            std::unique_ptr<RelayAnswer> answer(reinterpret_cast<RelayAnswer*>(queued.lParam));
            ReleaseRelayAnswer(*answer);
            break;
        }
        case WM_RELAY_DEVICE_LEFT: delete reinterpret_cast<std::wstring*>(queued.lParam); break;
        default: break;
        }
    }
    DestroyWindow(m_window);
    m_window = nullptr;
}

void ServiceLink::OnServiceGone() {
    // The link is closed first, so that nothing a feature does meanwhile reaches the service.
    CloseLink();
    m_deviceInfo.clear();
    m_features.OnServiceGone();
    for (const RelayAction& action : m_devices.OnServiceGone()) {
        Deliver(action);
    }
}

void ServiceLink::Exit() {
    // The device service stops with the link: its devices leave, and the host hears that it has stopped.
    if (m_launch.IsOpen()) {
        OnServiceGone();
    }
    CommandMessage message{};
    Send(ZERITH_COMMAND_EXIT_SERVER, message);
}

LRESULT CALLBACK ServiceLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        ServiceLink& link = Instance();
        switch (message) {
        case WM_RELAY_PACKET: {
            std::unique_ptr<Packet> packet(reinterpret_cast<Packet*>(lParam));
            if (wParam == link.m_launch.Current()) {
                link.OnPacket(std::move(packet));
            }
            return 0;
        }
        case WM_RELAY_CONNECTED:
            if (wParam == link.m_launch.Current()) {
                link.OnConnected();
            }
            return 0;
        case WM_RELAY_CLOSED:
            if (wParam == link.m_launch.Current()) {
                link.OnLost();
            }
            return 0;
        case WM_TIMER:
            if (wParam == kConnectTimer) {
                KillTimer(window, kConnectTimer);
                if (link.m_launch.IsOpen() && !link.m_connected) {
                    link.OnLost();  // the service never came
                }
            }
            return 0;
        case WM_RELAY_ANSWER:
            link.DeliverAnswer(std::unique_ptr<RelayAnswer>(reinterpret_cast<RelayAnswer*>(lParam)));
            return 0;
        case WM_RELAY_DEVICE_LEFT: {
            std::unique_ptr<std::wstring> udid(reinterpret_cast<std::wstring*>(lParam));
            // A device that came back meanwhile stays on the title bar.
            const std::string key = vnl::Utf8FromWide(*udid);
            if (!link.m_devices.IsConnected(key) && !link.m_devices.IsWaiting(key)) {
                link.TellPagesDeviceLeft(*udid);
            }
            return 0;
        }
        default: break;
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
    if (std::strcmp(name, ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL) == 0 ||
        std::strcmp(name, ZERITH_COMMAND_SERVER_CRASH) == 0 ||
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
    const SOCKET connection = m_launch.Connection();
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

void ServiceLink::Answer(RelayAnswer& answer) {
    // Answers reach the host from the window's queue, never inside the call that caused them, and in
    // the order they were made.
    auto posted = std::make_unique<RelayAnswer>(answer);
    answer.payload = nullptr;
    if (m_window != nullptr && PostMessageW(m_window, WM_RELAY_ANSWER, 0, reinterpret_cast<LPARAM>(posted.get()))) {
        posted.release();
        return;
    }
    ReleaseRelayAnswer(*posted);
}

void ServiceLink::DeliverAnswer(std::unique_ptr<RelayAnswer> answer) {
    if (!answer) {
        return;
    }
    if (m_host == nullptr || m_host->send == nullptr) {
        ReleaseRelayAnswer(*answer);
        return;
    }
    CommandMessage message{};
    message.code = answer->code;
    message.text = answer->device.c_str();
    message.extra = answer->payload;  // the host's from here on
    message.value2 = answer->resultOrCount;
    message.value3 = answer->count;
    message.status = answer->status;
    message.value4 = answer->done;
    message.wideText = answer->userText.empty() ? nullptr : &answer->userText[0];  // lent for the call
    answer->payload = nullptr;
    Send(answer->name != nullptr ? answer->name : ZERITH_COMMAND_DO_CONTACT, message);
}

void ServiceLink::Deliver(const RelayAction& action) {
    CommandMessage message{};
    message.text = action.device.udid.c_str();
    switch (action.kind) {
    case RelayActionKind::kStartConnect: Send(ZERITH_COMMAND_START_CONNECT_DEVICE, message); break;
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
    case RelayActionKind::kFinishConnect: Send(ZERITH_COMMAND_FINISH_CONNECT_DEVICE, message); break;
    case RelayActionKind::kConnectFail:
        message.code = action.code;  // the reason, for the device page
        Send(ZERITH_COMMAND_CONNECT_DEVICE_FAIL, message);
        if (!action.device.udid.empty()) ShowWaitingOnTitleBar(action.device, action.code);
        break;
    case RelayActionKind::kNotPaired:
        Send(ZERITH_COMMAND_NOT_PAIR, message);
        if (!action.device.udid.empty()) ShowWaitingOnTitleBar(action.device, action.code);
        break;
    case RelayActionKind::kDisconnected: {
        // The page of the device empties first, while the device is still the title bar's current one
        // (the host passes answers about the current device only); the title bar lets go of it last.
        m_features.OnDeviceGone(action.device.udid);
        WideStringPair pair(vnl::WideFromUtf8(action.device.udid),
                            vnl::WideFromUtf8(DeviceTable::DisplayName(action.device)));
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

void ServiceLink::TellPagesDeviceLeft(const std::wstring& udid) {
    using DeviceLeft = void(__cdecl*)(const wchar_t*);
    if (auto remove = StandinExport<DeviceLeft>(kTitleBarLibrary, kTitleBarRemoveDevice)) remove(udid.c_str());
    if (auto forget = StandinExport<DeviceLeft>(kDevicePageLibrary, kDevicePageForget)) forget(udid.c_str());
}

void ServiceLink::ShowWaitingOnTitleBar(const RelayDevice& device, std::uint32_t reason) {
    using ShowWaiting = void(__cdecl*)(const wchar_t*, const wchar_t*, std::int32_t);
    auto show = StandinExport<ShowWaiting>(kTitleBarLibrary, kTitleBarShowWaiting);
    if (show == nullptr) return;
    auto name = device.properties.find("DeviceName");
    const std::wstring udid = vnl::WideFromUtf8(device.udid);
    const std::wstring shown = vnl::WideFromUtf8(name != device.properties.end() ? name->second : std::string());
    show(udid.c_str(), shown.c_str(), static_cast<std::int32_t>(reason));
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
    if (!m_features.OnReply(packet, frame, data)) {
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
    OnServiceGone();
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
    const HostSend sendToHost = [](const char* update, CommandMessage& answer) {
        ServiceLink::Instance().Send(update, answer);
    };
    if (link.Features().Handle(*message) || HandleUpdateCommand(*message, link.Version(), sendToHost)) {
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

}  // namespace relay
