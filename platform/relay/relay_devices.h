#pragma once
// What the relay module makes of the device service's events and status packets: the table of ready
// devices, which the host's synchronous questions (connected check, system version) are answered from,
// and the host notifications each packet calls for. Knows event and status numbers but no windows or
// sockets, so it is tested natively. Used on the relay's UI thread only; not thread-safe.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "relay_wire.h"

namespace relay {

// Event and status numbers in the command field of packets with id 0.
constexpr std::uint32_t kEventDeviceReady = 1;
constexpr std::uint32_t kEventDeviceRemoved = 8;     // status 2 with a UDID; status 1 for a device without one
constexpr std::uint32_t kStatusDeviceAttached = 11;  // with the device handle in "code"
constexpr std::uint32_t kStatusDeviceError = 12;
// Monitor failures, reported with "code" 0: the device library could not be loaded (9), the
// notification subscription failed (11), the device support service is not running (14).
constexpr std::uint32_t kMonitorLibraryFailed = 9;
constexpr std::uint32_t kMonitorSubscriptionFailed = 11;
constexpr std::uint32_t kMonitorServiceMissing = 14;
constexpr std::uint16_t kPacketStatusEvent = 2;
// The device error that means a pairing request went out: the user must trust this computer.
constexpr std::uint32_t kDeviceErrorNotPaired = 25;

// The request that asks for a device's basic information; its data replies are flat JSON objects.
constexpr std::uint32_t kRequestDeviceInfo = 300;

// Adds the members of one basic-information reply ({"DeviceName": "...", "CycleCount": 294, ...}) to
// `properties` as texts (numbers in decimal, booleans 1 or 0; objects, arrays and nulls are left out).
// False, with nothing added, when the text is not a JSON object.
[[nodiscard]] bool ReadDeviceInfo(const std::string& json, std::map<std::string, std::string>& properties);

struct RelayDevice {
    std::string udid;                               // UTF-8
    std::int64_t handle = 0;                        // the service's handle for the device
    std::map<std::string, std::string> properties;  // "ProductType", "ProductVersion", "DeviceClass", ...
};

enum class RelayActionKind {
    kStartConnect = 0,   // a device was plugged in: connection in progress
    kConnected = 1,      // a device is ready (device record)
    kFinishConnect = 2,  // after kConnected
    kConnectFail = 3,    // the service could not open the device (`code`: the service's reason, 0 when unknown)
    kDisconnected = 4,   // a ready device, or one that reported why it is not ready, left (device pair:
                         // identifier, display name)
    kMonitorFailed = 5,  // the service cannot watch for devices at all
    kNotPaired = 6,      // the device waits for the user to trust this computer
};

struct RelayAction {
    RelayActionKind kind;
    RelayDevice device;      // kConnected, kDisconnected: the device; kConnectFail, kNotPaired: its udid, handle
                             // and "DeviceName" as far as known; others: udid and handle when known
    std::uint32_t code = 0;  // kMonitorFailed: the monitor's error number; kConnectFail: the device's
};

class DeviceTable {
public:
    // The host notifications for one packet from the service; updates the table. Replies to requests
    // (id not 0) and packets that are not well-formed give none.
    std::vector<RelayAction> OnPacket(const Packet& packet);

    // The service's connection ended: every listed device, ready or not, leaves (kDisconnected each) and the
    // table empties.
    std::vector<RelayAction> OnServiceGone();

    // Merges the device's basic information (request 300) into its properties; false when the device is
    // not listed (it left meanwhile).
    bool AddProperties(const std::string& udid, const std::map<std::string, std::string>& properties);
    const RelayDevice* Find(const std::string& udid) const;

    bool IsConnected(const std::string& udid) const { return m_devices.count(udid) != 0; }
    // The device's "ProductVersion", empty when the device is not ready or did not report one.
    std::string ProductVersion(const std::string& udid) const;
    std::vector<RelayDevice> Devices() const;
    // Attached but not ready (it reported why: waiting for trust, locked ...); by UDID.
    bool IsWaiting(const std::string& udid) const { return m_waiting.count(udid) != 0; }

    // The name the host shows for a device: its "DeviceName", else its model, else its UDID.
    static std::string DisplayName(const RelayDevice& device);

private:
    std::map<std::string, RelayDevice> m_devices;  // by UDID
    std::map<std::string, RelayDevice> m_waiting;  // the devices not ready that reported why, by UDID
};

}  // namespace relay
