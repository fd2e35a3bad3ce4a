// Length framing over the library's service-connection send and receive, through the binding.
#include "utility/hlx_device_link.h"

#include <cstddef>
#include <memory>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_log.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

constexpr size_t kLengthWordBytes = 4;

}  // namespace

// The library's send may take part of a buffer.
bool SendServiceBytes(AMDServiceConnectionRef connection, const uint8_t* bytes, size_t length) {
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  while (length > 0) {
    int sent = md.AMDServiceConnectionSend(connection, bytes, length);
    if (sent <= 0) return false;
    const size_t count = static_cast<size_t>(sent) < length ? static_cast<size_t>(sent) : length;
    bytes += count;
    length -= count;
  }
  return true;
}

bool ReceiveServiceBytes(AMDServiceConnectionRef connection, uint8_t* bytes, size_t length) {
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  while (length > 0) {
    int received = md.AMDServiceConnectionReceive(connection, bytes, length);
    if (received <= 0) return false;
    const size_t count = static_cast<size_t>(received) < length ? static_cast<size_t>(received) : length;
    bytes += count;
    length -= count;
  }
  return true;
}

bool SendServiceMessage(AMDServiceConnectionRef connection, const BinaryPlist& message) {
  if (message.bytes == nullptr && message.length != 0) return false;
  const uint32_t length = message.length;
  const uint8_t word[kLengthWordBytes] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                                          static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  if (!SendServiceBytes(connection, word, sizeof(word))) return false;
  return SendServiceBytes(connection, message.bytes, length);
}

bool ReceiveServiceMessages(AMDServiceConnectionRef connection, ServiceMessageHandler handler, void* context) {
  bool result = false;
  bool more = true;
  while (more) {
    uint8_t word[kLengthWordBytes];
    if (!ReceiveServiceBytes(connection, word, sizeof(word))) break;
    const uint32_t length =
        (uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) | (uint32_t{word[2]} << 8) | uint32_t{word[3]};
    // 0 and anything above the cap end the loop; so does a word with its top bit set, which some
    // senders mean as a negative length.
    if (length == 0 || length > kMaxServiceMessageBytes) {
      if (length != 0) HLX_LOG(WARNING) << "device-link frame of " << length << " bytes refused";
      break;
    }
    uint8_t* raw = nullptr;
    if (!TryAllocBuffer(&raw, length)) {
      HLX_LOG(WARNING) << "device-link frame of " << length << " bytes: no memory";
      break;
    }
    std::unique_ptr<uint8_t[]> body(raw);
    if (!ReceiveServiceBytes(connection, body.get(), length)) break;
    more = false;
    handler(context, body.get(), static_cast<int64_t>(length), &more, &result);
  }
  return result;
}

bool ExchangeServiceMessages(AMDServiceConnectionRef connection, const BinaryPlist& message,
                             ServiceMessageHandler handler, void* context) {
  if (!SendServiceMessage(connection, message)) return false;
  return ReceiveServiceMessages(connection, handler, context);
}

}  // namespace hlx
