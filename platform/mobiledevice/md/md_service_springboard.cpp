// "com.apple.springboardservices": the home screen's service, as far as hosts ask it for icons.
// Device-link framing (a 4-byte big-endian length, then a property list). Every request gets one
// answer, so a host waiting on it never hangs:
//
//   {"command": "getIconPNGData", "bundleId": id} -> {"pngData": <the PNG bytes>} for an app of the
//        image with an icon, else {} (an unknown id, an app without icon)
//   anything else -> {}
//
// Threads: the connection's device thread.
#include <string>

#include "md/md_service.h"
#include "md/md_service_installation_apps.h"
#include "md/md_service_message.h"

namespace {

constexpr size_t kMaxRequestBytes = 1u << 20;

MDCFPtr IconReply(const std::string& imageFolder, const std::string& body) {
  MDCFPtr reply(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  MDCFPtr request = MDParseMessage(body);
  std::string command;
  std::string bundleId;
  std::string png;
  if (reply && MDDictionaryText(request.get(), "command", &command) && command == "getIconPNGData" &&
      MDDictionaryText(request.get(), "bundleId", &bundleId) && MDReadAppIcon(imageFolder, bundleId, &png)) {
    MDCFPtr data(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(png.data()), static_cast<CFIndex>(png.size())));
    MDDictionarySet(reply.get(), "pngData", data.get());
  }
  return reply;
}

void ServeSpringboard(MDServiceContext& context) {
  std::string body;
  while (MDReadFrame(context.stream, MDFrameOrder::kBigEndian, kMaxRequestBytes, &body)) {
    MDCFPtr reply = IconReply(context.imageFolder, body);
    std::string out;
    if (!reply || !MDSerializeSortedBinary(reply.get(), &out) ||
        !MDWriteFrame(context.stream, MDFrameOrder::kBigEndian, out)) {
      return;
    }
  }
}

}  // namespace

void MDRegisterSpringboardService() { MDRegisterService("com.apple.springboardservices", ServeSpringboard); }
