#pragma once
// What the device page's stand-in says about a device, kept apart from its windows so that it is tested
// natively: the summary lines made of the properties the relay hands over (the device's lockdown values and
// its battery and storage figures), the storage by category, and the connection states the host sets with
// a hint of what the user can do. Pure functions, no state.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace standin_pages {

using DeviceProperties = std::map<std::string, std::string>;  // UTF-8 names and values, numbers in decimal

struct SummaryLine {
    std::wstring label;
    std::wstring value;
};

// The device's own name, else its model.
std::wstring DeviceTitle(const DeviceProperties& properties);
// Model, iOS version, serial number, phone number, battery and capacity, in that order; a line whose
// figures the device did not report is left out.
std::vector<SummaryLine> SummaryLines(const DeviceProperties& properties);

// One category of the storage in use ("Apps", "Photos", ...), with the bytes it takes.
struct StorageShare {
    std::wstring label;
    int64_t sizeBytes;
};
// The categories that take any space, in a fixed order, the rest of the used space last ("Other"); empty
// when the device reported no storage figures.
std::vector<StorageShare> StorageShares(const DeviceProperties& properties);
// The capacity the storage figures add up to (the data partition's size), 0 when unknown.
int64_t CapacityBytes(const DeviceProperties& properties);

enum class ConnectionState {
    kNoDevice,
    kConnecting,
    kWaitingForTrust,
    kLocked,
    kDriverMissing,
    kNotRecognised,
    kReady,
};

// The state the device page shows for a YESTAL_COMMAND_SWITCH_STATUS: `status` is the host's state
// (1 connecting, 3 not paired, 5 failed, 6 connected; 7 and 8, the summary or a feature page shown, leave
// `shown` as it is) and `code` the device service's error code that the relay passes with a failure.
ConnectionState StateAfterSwitch(ConnectionState shown, int64_t status, int64_t code);

struct ConnectionNotice {
    std::wstring heading;
    std::wstring hint;  // what the user can do; may be empty
};
ConnectionNotice NoticeFor(ConnectionState state);
// The state of a device that is attached but not ready, from the device service's `reason` (25 waiting for
// trust, 48 locked ...), and its few words as a list of devices shows it ("waiting for trust", "locked").
ConnectionState StateOfReason(int64_t reason);
std::wstring StateWords(ConnectionState state);

// What a feature page says in place of its rows when the device service refused the section with reply
// `code` (not 0): "Not available: " and why, in words; a code without words of its own is named by number.
std::wstring UnavailableText(int64_t code);

}  // namespace standin_pages
