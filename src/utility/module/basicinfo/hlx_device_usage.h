// Battery and storage use of a device, the second document of request 300: the battery's charge
// cycles from the diagnostics service and the storage use by media category from the ATC service.
// Each reader starts its service for the request alone (one start, one renewed session, one more
// start) and invalidates it at the end; when the service does not start its members are left out.
//
// The diagnostics service speaks device-link framing (hlx_device_link.h). The ATC service frames
// every message, both ways, with a 4-byte LITTLE-endian length; its bodies are read into the
// worker's 4 MiB transfer buffer (hlx_afc.h), so a body announced longer than that is refused
// before anything is read.
//
// Threads: any worker; one context per request, never shared. No locks of its own (the service
// start takes the device layer's, see hlx_device_session.h).
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mobiledevice.h"

namespace hlx {

struct BinaryPlist;

// Count and size of one media category, as the device reports them.
struct UsageFigure {
  int64_t count = 0;
  int64_t sizeBytes = 0;
};

// The working record of one request 300 while battery and storage are read. The members go into
// `target`, whose allocator must outlive the context.
struct DeviceUsageContext {
  enum class Mode : int32_t {
    kBattery = 0,  // the diagnostics reply is parsed
    kStorage = 1,  // an AssetMetrics message is parsed
  };

  DeviceUsageContext(std::string deviceUdid, rapidjson::Value* targetObject,
                     rapidjson::Document::AllocatorType* targetAllocator)
      : udid(std::move(deviceUdid)), target(targetObject), allocator(targetAllocator) {}

  Mode mode = Mode::kBattery;
  std::string udid;  // for logs
  rapidjson::Value* target;
  rapidjson::Document::AllocatorType* allocator;

  UsageFigure application;
  UsageFigure photo;
  UsageFigure cameraRoll;
  UsageFigure movie;
  UsageFigure book;
  UsageFigure music;
  UsageFigure ringtone;
  int64_t freeBytes = 0;
  int64_t totalBytes = 0;
  // Categories the table does not name, in name order: ("<name>_Count", n), ("<name>_PhysicalSize", n).
  std::vector<std::pair<std::string, int64_t>> extras;
  // total - free - the seven categories; negative when the device's figures overlap, sent as it is.
  int64_t othersBytes = 0;
  bool metricsRead = false;  // an AssetMetrics message of the expected shape was parsed
};

// A ServiceMessageHandler (hlx_device_link.h) that reads one message by the context's mode and
// never asks for more. Battery: the first element of the list must be a dictionary holding
// Diagnostics/IORegistry/CycleCount (an integer), which is added as "CycleCount". Storage: the
// AssetMetrics "Params" fill the context's figures (nothing is added to the target yet). A message
// of any other shape changes nothing. *result is true when the message had the expected shape.
void ParseUsageReply(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result);

// How an ATC exchange ended.
enum class AtcOutcome {
  kMetrics,          // an AssetMetrics message was read
  kEndedByDevice,    // a zero length, "Ping" or "IdleExit": no metrics
  kRefusedLength,    // a body announced longer than the transfer buffer: refused, no metrics
  kConnectionEnded,  // a send or receive failed or the stream ended (also mid-body): no metrics
  kNoBuffer,         // the worker's transfer buffer could not be made
};
const char* AtcOutcomeName(AtcOutcome outcome);

// The ATC message loop: sends `message` (a little-endian length, then the body), then reads
// messages until one ends the exchange; messages of other commands are dropped. The command of a
// message is the text of the first key of its top-level dictionary. AssetMetrics is parsed with
// ParseUsageReply in the storage mode.
// An announced length beyond the 4 MiB buffer and a failed receive (a closed connection) both end
// the exchange without metrics, so neither can overflow the buffer or loop for ever.
AtcOutcome ExchangeAtcMessages(AMDServiceConnectionRef connection, const BinaryPlist& message,
                               DeviceUsageContext* context);

// Adds "CycleCount" when the diagnostics service starts and answers with one. False when the
// service did not start.
bool ReadBatteryCycleCount(AMDeviceRef device, DeviceUsageContext* context);

// Runs the ATC exchange and then, whether metrics came or not, adds the seventeen storage members
// and the extra members (figures never filled stay 0). False, adding nothing, when the service did
// not start.
bool ReadStorageUsage(AMDeviceRef device, DeviceUsageContext* context);

// The storage members in their order, from the context's figures.
void AddStorageMembers(DeviceUsageContext* context);

}  // namespace hlx
