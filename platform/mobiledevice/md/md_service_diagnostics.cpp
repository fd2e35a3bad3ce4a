// "com.apple.mobile.diagnostics_relay": the device's diagnostics service, as far as hosts read it.
// Device-link framing (a 4-byte big-endian length, then a property list). The device serves one
// request and then hangs up without a goodbye of its own:
//
//   {"Request": "IORegistry", "EntryClass": C} (or "EntryName": C)
//       -> {"Diagnostics": {"IORegistry": <entry C>}, "Status": "Success"}, or {"Status": "Failure"}
//          when the image has no entry C;
//   {"Request": "Goodbye"} -> {"Status": "Success"};
//   any other dictionary -> {"Status": "UnknownRequest"}; anything that is not one: no answer.
//
// The entries come from the image's diagnostics.plist: {"IORegistry": {C: {...}}}, for example the
// power source "IOPMPowerSource" with its "CycleCount". The values are sent with the types the file
// gives them, so an image can hand a host a mistyped field.
// Threads: the connection's device thread.
#include "md/md_service.h"

#include <string>

#include "md/md_base.h"
#include "md/md_service_message.h"

namespace {

// Host requests are a few hundred bytes.
constexpr size_t kMaxRequestBytes = 1u << 20;

MDCFPtr StatusReply(const char* status) {
  MDCFPtr reply(CFDictionaryCreateMutable(nullptr, 1, nullptr, nullptr));
  MDCFPtr key = MDCFStringCreate("Status");
  MDCFPtr value = MDCFStringCreate(status);
  if (!reply || !key || !value) return nullptr;
  HLXCFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(reply.get())), key.get(), value.get());
  return reply;
}

// The answer to an IORegistry request for the entry `name`.
MDCFPtr IORegistryReply(const std::string& imageFolder, const std::string& name) {
  MDCFPtr registry = MDLoadImagePlist(imageFolder, "diagnostics.plist");
  CFTypeRef entry = MDDictionaryValue(MDDictionaryValue(registry.get(), "IORegistry"), name.c_str());
  if (entry == nullptr) return StatusReply("Failure");
  MDCFPtr reply = StatusReply("Success");
  MDCFPtr diagnostics(CFDictionaryCreateMutable(nullptr, 1, nullptr, nullptr));
  MDCFPtr diagnosticsKey = MDCFStringCreate("Diagnostics");
  MDCFPtr registryKey = MDCFStringCreate("IORegistry");
  if (!reply || !diagnostics || !diagnosticsKey || !registryKey) return nullptr;
  auto mutableDiagnostics = static_cast<CFMutableDictionaryRef>(const_cast<void*>(diagnostics.get()));
  HLXCFDictionarySetValue(mutableDiagnostics, registryKey.get(), entry);
  HLXCFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(reply.get())), diagnosticsKey.get(),
                          diagnostics.get());
  return reply;
}

void ServeDiagnostics(MDServiceContext& context) {
  std::string body;
  if (!MDReadFrame(context.stream, MDFrameOrder::kBigEndian, kMaxRequestBytes, &body) || body.empty()) return;
  MDCFPtr request = MDParseMessage(body);
  if (!request || CFGetTypeID(request.get()) != kHLXCFDictionaryTypeID) {
    MDLog("diagnostics: a request that is not a dictionary");
    return;
  }
  std::string kind;
  std::string entry;
  MDCFPtr reply;
  if (!MDDictionaryText(request.get(), "Request", &kind)) {
    reply = StatusReply("UnknownRequest");
  } else if (kind == "IORegistry" && (MDDictionaryText(request.get(), "EntryClass", &entry) ||
                                      MDDictionaryText(request.get(), "EntryName", &entry))) {
    reply = IORegistryReply(context.imageFolder, entry);
  } else if (kind == "Goodbye") {
    reply = StatusReply("Success");
  } else {
    reply = StatusReply("UnknownRequest");
  }
  std::string out;
  if (!reply || !MDSerializeSortedBinary(reply.get(), &out)) return;
  (void)MDWriteFrame(context.stream, MDFrameOrder::kBigEndian, out);
  // The handler's return hangs the stream up: no goodbye follows the answer.
}

}  // namespace

void MDRegisterDiagnosticsService() { MDRegisterService("com.apple.mobile.diagnostics_relay", ServeDiagnostics); }
