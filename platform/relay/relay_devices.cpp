// The relay module's device table and event translation (see relay_devices.h).
#include "relay_devices.h"

#include <rapidjson/document.h>

namespace relay {
namespace {

// The members of the device-ready info and the device properties they stand for.
struct InfoMember {
    const char* info;
    const char* property;
};
constexpr InfoMember kReadyInfoMembers[] = {
    {"Model", "ProductType"},
    {"FirmVersion", "ProductVersion"},
    {"Type", "DeviceClass"},
    {"SerialNumber", "SerialNumber"},
};

void ReadReadyInfo(const ReplyFrame& frame, RelayDevice& device) {
    JsonObjectView info;
    if (!frame.hasInfo || !info.Parse(frame.infoJson)) {
        // The device is there all the same; it is listed without properties.
        return;
    }
    for (const InfoMember& member : kReadyInfoMembers) {
        std::string value;
        if (info.GetString(member.info, value)) {
            device.properties[member.property] = value;
        }
    }
}

// A device error report carries its code as a JSON string in "info" ("48"); 0 when it does not.
std::uint32_t DeviceErrorCode(const ReplyFrame& frame) {
    if (!frame.hasInfo) return 0;
    std::string text = frame.infoJson;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<std::uint32_t>(std::stoul(text));
}

bool IsMonitorFailure(std::uint32_t command) {
    return command == kMonitorLibraryFailed || command == kMonitorSubscriptionFailed ||
           command == kMonitorServiceMissing;
}

}  // namespace

std::vector<RelayAction> DeviceTable::OnPacket(const Packet& packet) {
    std::vector<RelayAction> actions;
    if (packet.header.id != 0) {
        return actions;
    }
    ReplyFrame frame;
    if (ParseReplyFrame(packet.body, frame) != FrameResult::kOk) {
        return actions;
    }
    const std::uint32_t command = packet.header.command;
    const bool isEvent = packet.header.status == kPacketStatusEvent;
    if (isEvent && command == kEventDeviceReady) {
        if (frame.uuid.empty()) {
            return actions;
        }
        RelayDevice device;
        device.udid = frame.uuid;
        device.handle = frame.code;
        ReadReadyInfo(frame, device);
        m_waiting.erase(device.udid);
        m_devices[device.udid] = device;
        actions.push_back({RelayActionKind::kConnected, device, 0});
        actions.push_back({RelayActionKind::kFinishConnect, device, 0});
        return actions;
    }
    if (isEvent && command == kEventDeviceRemoved) {
        for (auto* table : {&m_devices, &m_waiting}) {
            auto found = table->find(frame.uuid);
            if (found == table->end()) continue;
            actions.push_back({RelayActionKind::kDisconnected, found->second, 0});
            table->erase(found);
        }
        return actions;  // nothing for a device that never reported: the host never showed it
    }
    if (isEvent) {
        return actions;
    }
    // Status packets. A monitor failure carries "code" 0; a device report carries the device's handle,
    // which is how status 11 (attached) is told apart from monitor failure 11.
    if (frame.code == 0 && IsMonitorFailure(command)) {
        RelayAction action{RelayActionKind::kMonitorFailed, {}, command};
        actions.push_back(action);
    } else if (command == kStatusDeviceAttached) {
        RelayAction action{RelayActionKind::kStartConnect, {}, 0};
        action.device.handle = frame.code;
        actions.push_back(action);
    } else if (command == kStatusDeviceError) {
        const std::uint32_t code = DeviceErrorCode(frame);
        RelayAction action{
            code == kDeviceErrorNotPaired ? RelayActionKind::kNotPaired : RelayActionKind::kConnectFail, {}, code};
        action.device.udid = frame.uuid;
        action.device.handle = frame.code;
        // The report's data part names the device ({"DeviceName": ...}), as far as it could be read.
        std::string data = frame.data;
        if (frame.type == 0 && !data.empty() && !Inflate(frame.data, data)) data.clear();
        std::map<std::string, std::string> named;
        if (!data.empty() && ReadDeviceInfo(data, named) && named.count("DeviceName") != 0) {
            action.device.properties["DeviceName"] = named["DeviceName"];
        }
        if (!action.device.udid.empty() && m_devices.count(action.device.udid) == 0) {
            m_waiting[action.device.udid] = action.device;
        }
        actions.push_back(action);
    }
    return actions;
}

std::vector<RelayAction> DeviceTable::OnServiceGone() {
    std::vector<RelayAction> actions;
    for (auto* table : {&m_devices, &m_waiting}) {
        for (const auto& entry : *table) {
            actions.push_back({RelayActionKind::kDisconnected, entry.second, 0});
        }
        table->clear();
    }
    return actions;
}

std::string DeviceTable::ProductVersion(const std::string& udid) const {
    auto found = m_devices.find(udid);
    if (found == m_devices.end()) {
        return std::string();
    }
    auto version = found->second.properties.find("ProductVersion");
    return version == found->second.properties.end() ? std::string() : version->second;
}

std::vector<RelayDevice> DeviceTable::Devices() const {
    std::vector<RelayDevice> devices;
    for (const auto& entry : m_devices) {
        devices.push_back(entry.second);
    }
    return devices;
}

bool ReadDeviceInfo(const std::string& json, std::map<std::string, std::string>& properties) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsObject()) {
        return false;
    }
    for (const auto& member : document.GetObject()) {
        const rapidjson::Value& value = member.value;
        std::string text;
        if (value.IsString()) {
            text.assign(value.GetString(), value.GetStringLength());
        } else if (value.IsBool()) {
            text = value.GetBool() ? "1" : "0";
        } else if (value.IsInt64()) {
            text = std::to_string(value.GetInt64());
        } else if (value.IsUint64()) {
            text = std::to_string(value.GetUint64());
        } else if (value.IsDouble()) {
            text = std::to_string(value.GetDouble());
        } else {
            continue;
        }
        properties[std::string(member.name.GetString(), member.name.GetStringLength())] = text;
    }
    return true;
}

bool DeviceTable::AddProperties(const std::string& udid, const std::map<std::string, std::string>& properties) {
    auto it = m_devices.find(udid);
    if (it == m_devices.end()) {
        return false;
    }
    for (const auto& [name, value] : properties) {
        it->second.properties[name] = value;
    }
    return true;
}

const RelayDevice* DeviceTable::Find(const std::string& udid) const {
    auto it = m_devices.find(udid);
    return it == m_devices.end() ? nullptr : &it->second;
}

std::string DeviceTable::DisplayName(const RelayDevice& device) {
    auto name = device.properties.find("DeviceName");
    if (name != device.properties.end() && !name->second.empty()) {
        return name->second;
    }
    auto type = device.properties.find("ProductType");
    return type != device.properties.end() && !type->second.empty() ? type->second : device.udid;
}

}  // namespace relay
