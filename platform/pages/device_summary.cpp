// The device page's texts; see device_summary.h.
#include "device_summary.h"

#include <cstdlib>

#include "vnl_device_models.h"
#include "vnl_size_text.h"
#include "vnl_utf8.h"

namespace standin_pages {
namespace {

// The device service's codes that the page tells apart (the service's reply codes).
constexpr int64_t kCodeLibraryNotBound = 9;
constexpr int64_t kCodeServiceNotRunning = 14;
constexpr int64_t kCodeNotPaired = 25;
constexpr int64_t kCodeDeviceLocked = 48;

// The host's states (YESTAL_COMMAND_SWITCH_STATUS).
constexpr int64_t kStatusConnecting = 1;
constexpr int64_t kStatusNotPaired = 3;
constexpr int64_t kStatusFailed = 5;
constexpr int64_t kStatusConnected = 6;

std::string Value(const DeviceProperties& properties, const char* name) {
    auto it = properties.find(name);
    return it == properties.end() ? std::string() : it->second;
}

// A number the device reported; `found` is false when it did not, or not as a number.
int64_t Number(const DeviceProperties& properties, const char* name, bool& found) {
    const std::string text = Value(properties, name);
    char* end = nullptr;
    const long long value = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
    found = !text.empty() && end != nullptr && (*end == '\0' || *end == '.');
    return found ? value : 0;
}

int64_t NumberOr0(const DeviceProperties& properties, const char* name) {
    bool found = false;
    return Number(properties, name, found);
}

std::wstring Size(int64_t bytes) { return vnl::FormatByteSize(bytes > 0 ? static_cast<uint64_t>(bytes) : 0); }

void Add(std::vector<SummaryLine>& lines, const wchar_t* label, const std::wstring& value) {
    if (!value.empty()) lines.push_back({label, value});
}

std::wstring Battery(const DeviceProperties& properties) {
    bool found = false;
    const int64_t percent = Number(properties, "BatteryCurrentCapacity", found);
    if (!found) return std::wstring();
    std::wstring text = std::to_wstring(percent) + L"%";
    if (Value(properties, "BatteryIsCharging") == "1") text += L", charging";
    const int64_t cycles = Number(properties, "CycleCount", found);
    if (found) text += L", " + std::to_wstring(cycles) + (cycles == 1 ? L" charge cycle" : L" charge cycles");
    return text;
}

int64_t FreeBytes(const DeviceProperties& properties) {
    bool found = false;
    const int64_t free = Number(properties, "Data_FreeSize", found);
    return found && free > 0 ? free : NumberOr0(properties, "TotalSystemAvailable");
}

std::wstring Capacity(const DeviceProperties& properties) {
    const int64_t total = CapacityBytes(properties);
    if (total <= 0) return std::wstring();
    const int64_t free = FreeBytes(properties);
    if (free <= 0 || free > total) return Size(total);
    return Size(total) + L" (" + Size(total - free) + L" used, " + Size(free) + L" free)";
}

}  // namespace

std::wstring DeviceTitle(const DeviceProperties& properties) {
    const std::string name = Value(properties, "DeviceName");
    return name.empty() ? vnl::ModelName(Value(properties, "ProductType")) : vnl::WideFromUtf8(name);
}

std::vector<SummaryLine> SummaryLines(const DeviceProperties& properties) {
    std::vector<SummaryLine> lines;
    const std::string type = Value(properties, "ProductType");
    Add(lines, L"Model", type.empty() ? std::wstring() : vnl::ModelName(type));
    const std::string version = Value(properties, "ProductVersion");
    const std::string build = Value(properties, "BuildVersion");
    Add(lines, L"iOS version",
        version.empty() ? std::wstring() : vnl::WideFromUtf8(version + (build.empty() ? "" : " (" + build + ")")));
    Add(lines, L"Serial number", vnl::WideFromUtf8(Value(properties, "SerialNumber")));
    Add(lines, L"Phone number", vnl::WideFromUtf8(Value(properties, "PhoneNumber")));
    Add(lines, L"Battery", Battery(properties));
    Add(lines, L"Capacity", Capacity(properties));
    return lines;
}

int64_t CapacityBytes(const DeviceProperties& properties) {
    const int64_t data = NumberOr0(properties, "Data_PhysicalSize");
    return data > 0 ? data : NumberOr0(properties, "TotalDiskCapacity");
}

std::vector<StorageShare> StorageShares(const DeviceProperties& properties) {
    static const struct {
        const char* member;
        const wchar_t* label;
        // clang-format off
    } kCategories[] = {
        {"Application_PhysicalSize", L"Apps"}, {"Photo_PhysicalSize", L"Photos"},
        {"CameraRoll_PhysicalSize", L"Camera Roll"}, {"Movie_PhysicalSize", L"Videos"},
        {"Music_PhysicalSize", L"Music"}, {"Book_PhysicalSize", L"Books"},
        {"Ringtone_PhysicalSize", L"Ringtones"}, {"Data_Others_PhysicalSize", L"Other"},
        // clang-format on
    };
    std::vector<StorageShare> shares;
    for (const auto& category : kCategories) {
        // "Other" is what the categories leave of the used space, and may come out negative.
        const int64_t size = NumberOr0(properties, category.member);
        if (size > 0) shares.push_back({category.label, size});
    }
    return shares;
}

ConnectionState StateAfterSwitch(ConnectionState shown, int64_t status, int64_t code) {
    switch (status) {
    case kStatusConnecting: return ConnectionState::kConnecting;
    case kStatusNotPaired: return ConnectionState::kWaitingForTrust;
    case kStatusFailed:
        if (code == kCodeDeviceLocked) return ConnectionState::kLocked;
        if (code == kCodeNotPaired) return ConnectionState::kWaitingForTrust;
        if (code == kCodeLibraryNotBound || code == kCodeServiceNotRunning) return ConnectionState::kDriverMissing;
        return ConnectionState::kNotRecognised;
    case kStatusConnected: return ConnectionState::kReady;
    default: return shown;
    }
}

std::wstring UnavailableText(int64_t code) {
    // The device service's reply codes that a section's listing can end with.
    struct Reason {
        int64_t code;
        const wchar_t* words;
    };
    static const Reason kReasons[] = {
        {2, L"the device service could not do this work"},
        {3, L"the device's iOS is too old for this section"},
        {7, L"the device is no longer connected"},
        {12, L"the device's file service did not start"},
        {13, L"the device's synchronisation service did not start"},
        {17, L"the device's file service could not be read"},
        {18, L"the device has no database for this section (it is missing, or lacks what this section reads)"},
        {19, L"the device's database for this section could not be opened"},
        {20, L"the device's database for this section could not be read"},
        {24, L"the connection to the device was lost"},
        {25, L"the device waits until you trust this computer on it"},
        {26, L"this computer's pairing with the device is no longer valid: connect the device again"},
        {27, L"the device did not start a session with this computer"},
        {32, L"the device refused to hand over this data"},
        {46, L"the device keeps none of this section's data in its backup (this kind of device has none)"},
        {48, L"the device is locked with a passcode: unlock it and choose the section again"},
        {49, L"the device did not start a session with this computer"},
        {60, L"a backup or restore of the device is running: choose the section again when it has finished"},
    };
    for (const Reason& reason : kReasons) {
        if (reason.code == code) return std::wstring(L"Not available: ") + reason.words + L".";
    }
    return L"Not available: the device service failed with error " + std::to_wstring(code) + L".";
}

ConnectionState StateOfReason(int64_t reason) {
    return StateAfterSwitch(ConnectionState::kNoDevice, kStatusFailed, reason);
}

std::wstring StateWords(ConnectionState state) {
    switch (state) {
    case ConnectionState::kNoDevice: return L"not connected";
    case ConnectionState::kConnecting: return L"connecting";
    case ConnectionState::kWaitingForTrust: return L"waiting for trust";
    case ConnectionState::kLocked: return L"locked";
    case ConnectionState::kDriverMissing: return L"driver missing";
    case ConnectionState::kNotRecognised: return L"not recognized";
    case ConnectionState::kReady: break;
    }
    return L"ready";
}

ConnectionNotice NoticeFor(ConnectionState state) {
    switch (state) {
    case ConnectionState::kNoDevice:
        return {L"Connect a device", L"Connect your iPhone, iPad or iPod touch to this computer with its USB cable."};
    case ConnectionState::kConnecting: return {L"Connecting...", L"Keep the device connected while it is read."};
    case ConnectionState::kWaitingForTrust:
        return {L"Waiting for trust",
                L"Unlock the device and tap \"Trust\" when it asks whether to trust this computer."};
    case ConnectionState::kLocked:
        return {L"The device is locked with a passcode",
                L"Unlock the device with its passcode, then connect it again."};
    case ConnectionState::kDriverMissing:
        return {L"The Apple Mobile Device driver is missing",
                L"The driver is being downloaded and installed; the device is connected afterwards."};
    case ConnectionState::kNotRecognised:
        return {L"The connected device is not recognized", L"Reconnect it, or follow the steps under \"Fix it\"."};
    case ConnectionState::kReady: break;
    }
    return {};
}

}  // namespace standin_pages
