// Lockdown value readers. Every library call goes through the binding table.
#include "utility/hlx_lockdown.h"

#include <cmath>
#include <new>
#include <utility>
#include <vector>

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

// Lockdown values nest a few levels; deeper comes from a broken device and is not followed.
constexpr int kMaxValueDepth = 64;

enum class Converted { kNone, kScalar, kContainer };

Converted ConvertValue(CFTypeRef value, PlistVariant* out, int depth);

Converted ConvertDictionary(CFDictionaryRef dictionary, PlistVariant* out, int depth) {
  CMobileExportFun& md = Md();
  const CFIndex count = md.CFDictionaryGetCount(dictionary);
  if (count < 0) return Converted::kNone;
  std::vector<const void*> keys(static_cast<size_t>(count));
  std::vector<const void*> values(static_cast<size_t>(count));
  md.CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  auto converted = std::make_shared<CIOSDictionary>();
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!keys[i] || md.CFGetTypeID(keys[i]) != kHLXCFStringTypeID) continue;
    PlistVariant entry;
    if (ConvertValue(values[i], &entry, depth + 1) != Converted::kNone) converted->Set(CFStringToUtf8(keys[i]), entry);
  }
  *out = PlistVariant(std::move(converted));
  return Converted::kContainer;
}

Converted ConvertArray(CFArrayRef array, PlistVariant* out, int depth) {
  CMobileExportFun& md = Md();
  const CFIndex count = md.CFArrayGetCount(array);
  PlistVariant::Array elements;
  for (CFIndex i = 0; i < count; ++i) {
    const void* element = md.CFArrayGetValueAtIndex(array, i);
    if (!element) continue;
    PlistVariant converted;
    if (ConvertValue(element, &converted, depth + 1) == Converted::kNone) converted = PlistVariant();
    elements.push_back(std::move(converted));
  }
  if (elements.empty()) return Converted::kNone;
  *out = PlistVariant(std::move(elements));
  return Converted::kContainer;
}

Converted ConvertValue(CFTypeRef value, PlistVariant* out, int depth) {
  if (!value || depth > kMaxValueDepth) return Converted::kNone;
  CMobileExportFun& md = Md();
  switch (md.CFGetTypeID(value)) {
    case kHLXCFStringTypeID: *out = PlistVariant(CFStringToUtf8(value)); return Converted::kScalar;
    case kHLXCFDataTypeID: {
      auto data = static_cast<CFDataRef>(value);
      const CFIndex length = md.CFDataGetLength(data);
      const UInt8* bytes = md.CFDataGetBytePtr(data);
      if (length < 0 || (!bytes && length > 0)) return Converted::kNone;
      std::string hex;
      hex.reserve(static_cast<size_t>(length) * 2);
      static const char kDigits[] = "0123456789ABCDEF";
      for (CFIndex i = 0; i < length; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0xF]);
      }
      *out = PlistVariant(std::move(hex));
      return Converted::kScalar;
    }
    case kHLXCFBooleanTypeID:
      *out = PlistVariant(md.CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0);
      return Converted::kScalar;
    case kHLXCFNumberTypeID: {
      auto number = static_cast<CFNumberRef>(value);
      const CFNumberType type = md.CFNumberGetType(number);
      if (type == kCFNumberSInt32Type || type == kCFNumberIntType) {
        int32_t small = 0;
        if (!md.CFNumberGetValue(number, kCFNumberSInt32Type, &small)) return Converted::kNone;
        *out = PlistVariant(static_cast<int64_t>(small));
        return Converted::kScalar;
      }
      if (type == kCFNumberSInt64Type) {
        int64_t large = 0;
        if (!md.CFNumberGetValue(number, kCFNumberSInt64Type, &large)) return Converted::kNone;
        *out = PlistVariant(large);
        return Converted::kScalar;
      }
      if (type == kCFNumberFloat64Type) {
        double real = 0;
        if (!md.CFNumberGetValue(number, kCFNumberFloat64Type, &real)) return Converted::kNone;
        *out = PlistVariant(real);
        return Converted::kScalar;
      }
      return Converted::kNone;
    }
    case kHLXCFDictionaryTypeID: return ConvertDictionary(static_cast<CFDictionaryRef>(value), out, depth);
    case kHLXCFArrayTypeID: return ConvertArray(static_cast<CFArrayRef>(value), out, depth);
    default: return Converted::kNone;
  }
}

// The rules of GetLockdownValueAsVariant for any CoreFoundation value.
bool CFValueToVariant(CFTypeRef value, PlistVariant* out) {
  try {
    PlistVariant converted;
    const Converted kind = ConvertValue(value, &converted, 0);
    if (kind != Converted::kNone) *out = std::move(converted);
    return kind == Converted::kScalar;
  } catch (const std::bad_alloc&) {
    return false;
  }
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
  if (!Md().CFStringGetCString(cfString, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8)) {
    return {};
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool GetLockdownValueAsVariant(AMDeviceRef device, const std::string& key, const std::string& domain,
                               PlistVariant* out) {
  CFPtr<CFTypeRef> value = CopyLockdownValue(device, key, domain);
  return CFValueToVariant(value.get(), out);
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
      if (value && Md().CFGetTypeID(value) == kHLXCFArrayTypeID &&
          Md().CFArrayGetCount(static_cast<CFArrayRef>(value)) > 0) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace hlx
