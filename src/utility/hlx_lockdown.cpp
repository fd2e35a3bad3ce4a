// Lockdown value readers. Every library call goes through the binding table.
#include "utility/hlx_lockdown.h"

#include <cmath>

#include "iOSAPI/MobileExportFun.h"
#include "utility/hlx_device_session.h"

namespace hlx {
namespace {

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

bool ReadNumberAsInt64(CFTypeRef value, int64_t* out) {
  if (!value || Md().CFGetTypeID(value) != kHLXCFNumberTypeID) return false;
  auto number = static_cast<CFNumberRef>(value);
  const CFNumberType type = Md().CFNumberGetType(number);
  if (type == kCFNumberFloat64Type || type == kCFNumberFloat32Type || type == kCFNumberDoubleType ||
      type == kCFNumberFloatType) {
    double real = 0;
    if (!Md().CFNumberGetValue(number, kCFNumberFloat64Type, &real) || !std::isfinite(real)) return false;
    *out = static_cast<int64_t>(std::floor(real + 0.5));
    return true;
  }
  // Narrower integers are read widened, so negative values keep their sign.
  return Md().CFNumberGetValue(number, kCFNumberSInt64Type, out) != 0;
}

}  // namespace

CFPtr<CFTypeRef> CopyLockdownValue(AMDeviceRef device, const std::string& key, const std::string& domain) {
  CFStringRef cfKey = key.empty() ? nullptr : Md().__CFStringMakeConstantString(key.c_str());
  CFStringRef cfDomain = domain.empty() ? nullptr : Md().__CFStringMakeConstantString(domain.c_str());
  return CFPtr<CFTypeRef>(Md().AMDeviceCopyValue(device, cfDomain, cfKey));
}

CFPtr<CFTypeRef> CopyLockdownValueByKey(AMDeviceRef device, const std::string& key) {
  return CopyLockdownValue(device, key, "");
}

bool GetLockdownInteger(AMDeviceRef device, const std::string& key, int64_t* out, const std::string& domain) {
  CFPtr<CFTypeRef> value = CopyLockdownValue(device, key, domain);
  return ReadNumberAsInt64(value.get(), out);
}

bool GetLockdownText(AMDeviceRef device, const std::string& key, std::string* out, const std::string& domain) {
  CFPtr<CFTypeRef> value = CopyLockdownValue(device, key, domain);
  if (!value || Md().CFGetTypeID(value.get()) != kHLXCFStringTypeID) return false;
  *out = CFStringToUtf8(value.get());
  return true;
}

bool GetSupportedDeviceFamilies(AMDeviceRef device, std::vector<int64_t>* families) {
  CFPtr<CFTypeRef> value = CopyLockdownValueByKey(device, "SupportedDeviceFamilies");
  if (!value) return false;
  if (Md().CFGetTypeID(value.get()) != kHLXCFArrayTypeID) return true;
  auto array = static_cast<CFArrayRef>(value.get());
  const CFIndex count = Md().CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    int64_t family = 0;
    if (ReadNumberAsInt64(Md().CFArrayGetValueAtIndex(array, i), &family)) families->push_back(family);
  }
  return true;
}

std::string CFStringToUtf8(CFTypeRef string) {
  if (!string || Md().CFGetTypeID(string) != kHLXCFStringTypeID) return {};
  auto cfString = static_cast<CFStringRef>(string);
  // Each UTF-16 unit takes at most three UTF-8 bytes; four leaves room for the terminator.
  std::string buffer(static_cast<size_t>(Md().CFStringGetLength(cfString)) * 4 + 1, '\0');
  if (!Md().CFStringGetCString(cfString, buffer.data(), static_cast<CFIndex>(buffer.size()),
                               kCFStringEncodingUTF8)) {
    return {};
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool IsJailbroken(AMDeviceRef device) {
  int32_t error = 0;
  std::shared_ptr<HLXDeviceService> service = OpenDeviceService(device, &error, "com.apple.afc2", nullptr, true);
  if (!service || !service->AfcConnection()) return false;
  AFCDirectoryRef directory = nullptr;
  const char* probe = "/var/root/Media/Cydia/AutoInstall";
  if (Md().AFCDirectoryOpen(service->AfcConnection(), probe, &directory) != 0 &&
      Md().AFCDirectoryOpen(service->AfcConnection(), probe, &directory) != 0) {
    return false;
  }
  Md().AFCDirectoryClose(service->AfcConnection(), directory);
  return true;
}

bool HasDataSyncAccount(AMDeviceRef device, const std::string& dataClass) {
  CFPtr<CFTypeRef> domain = CopyLockdownValue(device, "", "com.apple.mobile.data_sync");
  if (!domain || Md().CFGetTypeID(domain.get()) != kHLXCFDictionaryTypeID) return false;
  auto dictionary = static_cast<CFDictionaryRef>(domain.get());
  const CFIndex count = Md().CFDictionaryGetCount(dictionary);
  std::vector<const void*> keys(static_cast<size_t>(count));
  std::vector<const void*> values(static_cast<size_t>(count));
  Md().CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  for (CFIndex i = 0; i < count; ++i) {
    if (!keys[i] || !values[i] || CFStringToUtf8(keys[i]) != dataClass) continue;
    if (Md().CFGetTypeID(values[i]) != kHLXCFDictionaryTypeID) continue;
    auto inner = static_cast<CFDictionaryRef>(values[i]);
    const CFIndex innerCount = Md().CFDictionaryGetCount(inner);
    std::vector<const void*> innerKeys(static_cast<size_t>(innerCount));
    std::vector<const void*> innerValues(static_cast<size_t>(innerCount));
    Md().CFDictionaryGetKeysAndValues(inner, innerKeys.data(), innerValues.data());
    for (const void* value : innerValues) {
      if (value && Md().CFGetTypeID(value) == kHLXCFArrayTypeID && Md().CFArrayGetCount(static_cast<CFArrayRef>(value)) > 0) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace hlx
