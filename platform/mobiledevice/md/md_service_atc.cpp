// "com.apple.atc": the device's side of the ATC session, as far as hosts read it. Unlike the
// device-link services, every message in both directions is a 4-byte little-endian length, then
// that many bytes of a property list. Messages are written as binary lists with their dictionary
// keys in byte order, so "Command" is the first key of every message.
//
// The host speaks first ({"Command": "PowerAssertion", ...}); anything else (another command, a
// body that is not a dictionary, a length above 1 MiB, a big-endian length word) makes the device
// hang up without a word. Then the device plays the image's script, atc.plist:
//
//   {"Messages": [entry, ...], "End": "wait" | "hang-up"}
//
// An entry with a "Command" is a message and is sent as it is. An entry with a "Directive" breaks
// the framing on purpose:
//   "zero-length"                         a length word of 0;
//   "hang-up"                             the device hangs up here, without a goodbye;
//   "padded"  + "Message", "Bytes": N     the message as XML, padded with blanks to exactly N bytes
//                                         (XML allows blanks after the root element);
//   "announce" + "Bytes": N, "Send": M    a length word N, then M filler bytes; when M < N the device
//                                         then hangs up mid-body.
// After the last entry the device waits for the host to close ("wait", the default, as a device
// does) or hangs up ("hang-up"). An image without atc.plist hangs up at once; a malformed script
// (or entry) hangs up where it stands.
// Threads: the connection's device thread.
#include "md/md_service.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "md/md_base.h"
#include "md/md_service_message.h"

namespace {

constexpr size_t kMaxHostMessageBytes = 1u << 20;
// Directives announce sizes around the host's 4 MiB buffer; far beyond that is a broken script.
constexpr int64_t kMaxDirectiveBytes = 64ll << 20;

bool ReadInteger(CFTypeRef dictionary, const char* key, int64_t* value) {
  CFTypeRef number = MDDictionaryValue(dictionary, key);
  if (number == nullptr || CFGetTypeID(number) != kHLXCFNumberTypeID) return false;
  return CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt64Type, value) != 0;
}

bool WriteFiller(MDDeviceStream* stream, int64_t count) {
  const std::string block(64 * 1024, '\x5a');
  while (count > 0) {
    const size_t take = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(block.size())));
    if (!stream->WriteAll(block.data(), take)) return false;
    count -= static_cast<int64_t>(take);
  }
  return true;
}

enum class Step { kNext, kStop };

Step PlayDirective(MDDeviceStream* stream, CFTypeRef entry, const std::string& directive) {
  if (directive == "zero-length") {
    return MDWriteLengthWord(stream, MDFrameOrder::kLittleEndian, 0) ? Step::kNext : Step::kStop;
  }
  if (directive == "hang-up") return Step::kStop;
  int64_t bytes = 0;
  if (!ReadInteger(entry, "Bytes", &bytes) || bytes < 0 || bytes > kMaxDirectiveBytes) {
    MDLog("atc: directive %s without a usable \"Bytes\"", directive.c_str());
    return Step::kStop;
  }
  if (directive == "padded") {
    CFTypeRef message = MDDictionaryValue(entry, "Message");
    MDCFPtr xml(message != nullptr ? HLXCFPropertyListCreateData(message, kCFPropertyListXMLFormat_v1_0) : nullptr);
    if (!xml) return Step::kStop;
    auto data = static_cast<CFDataRef>(xml.get());
    std::string body(reinterpret_cast<const char*>(CFDataGetBytePtr(data)), static_cast<size_t>(CFDataGetLength(data)));
    if (static_cast<int64_t>(body.size()) > bytes) {
      MDLog("atc: padded message is %zu bytes, more than the %lld asked for", body.size(),
            static_cast<long long>(bytes));
      return Step::kStop;
    }
    body.append(static_cast<size_t>(bytes) - body.size(), '\n');
    return MDWriteFrame(stream, MDFrameOrder::kLittleEndian, body) ? Step::kNext : Step::kStop;
  }
  if (directive == "announce") {
    int64_t send = 0;
    if (!ReadInteger(entry, "Send", &send) || send < 0 || send > bytes) return Step::kStop;
    if (!MDWriteLengthWord(stream, MDFrameOrder::kLittleEndian, static_cast<uint32_t>(bytes)) ||
        !WriteFiller(stream, send)) {
      return Step::kStop;
    }
    return send < bytes ? Step::kStop : Step::kNext;
  }
  MDLog("atc: unknown directive %s", directive.c_str());
  return Step::kStop;
}

Step PlayEntry(MDDeviceStream* stream, CFTypeRef entry) {
  std::string text;
  if (MDDictionaryText(entry, "Command", &text)) {
    std::string body;
    if (!MDSerializeSortedBinary(entry, &body)) return Step::kStop;
    return MDWriteFrame(stream, MDFrameOrder::kLittleEndian, body) ? Step::kNext : Step::kStop;
  }
  if (MDDictionaryText(entry, "Directive", &text)) return PlayDirective(stream, entry, text);
  MDLog("atc: a script entry that is neither a message nor a directive");
  return Step::kStop;
}

void ServeAtc(MDServiceContext& context) {
  MDDeviceStream* stream = context.stream;
  std::string body;
  if (!MDReadFrame(stream, MDFrameOrder::kLittleEndian, kMaxHostMessageBytes, &body)) return;
  MDCFPtr hello = MDParseMessage(body);
  std::string command;
  if (!MDDictionaryText(hello.get(), "Command", &command) || command != "PowerAssertion") {
    MDLog("atc: the host's first message is not a power assertion");
    return;
  }
  MDCFPtr script = MDLoadImagePlist(context.imageFolder, "atc.plist");
  CFTypeRef messages = MDDictionaryValue(script.get(), "Messages");
  if (messages == nullptr || CFGetTypeID(messages) != kHLXCFArrayTypeID) return;
  auto list = static_cast<CFArrayRef>(messages);
  const CFIndex count = CFArrayGetCount(list);
  for (CFIndex i = 0; i < count; ++i) {
    if (PlayEntry(stream, CFArrayGetValueAtIndex(list, i)) == Step::kStop) return;
  }
  std::string end = "wait";
  (void)MDDictionaryText(script.get(), "End", &end);
  if (end != "wait") return;
  // As a device does: stay until the host closes (or invalidates) the connection.
  while (MDReadFrame(stream, MDFrameOrder::kLittleEndian, kMaxHostMessageBytes, &body)) {
  }
}

}  // namespace

void MDRegisterAtcService() { MDRegisterService("com.apple.atc", ServeAtc); }
