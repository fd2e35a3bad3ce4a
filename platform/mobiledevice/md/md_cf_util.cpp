// CF helpers (see md_cf_util.h). Threads: any.
#include "md/md_cf_util.h"

bool MDCFStringToUtf8(CFTypeRef string, std::string* text) {
  if (string == nullptr || CFGetTypeID(string) != kHLXCFStringTypeID) return false;
  size_t length = 0;
  const char* bytes = HLXCFStringGetUTF8(static_cast<CFStringRef>(string), &length);
  if (bytes == nullptr) return false;
  text->assign(bytes, length);
  return true;
}

MDCFPtr MDCFStringCreate(const std::string& text) {
  return MDCFPtr(HLXCFStringCreateWithUTF8(text.data(), text.size()));
}
