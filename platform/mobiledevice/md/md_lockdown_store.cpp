// Reading and writing lockdown.plist (see md_lockdown_store.h). Every node taken from the file is
// type-checked before use: the root and each domain must be dictionaries.
// Threads: any.
#include "md/md_lockdown_store.h"

#include "md/md_codes.h"

#include <cerrno>
#include <utility>

namespace {

bool IsPropertyListType(CFTypeRef value) {
  switch (CFGetTypeID(value)) {
    case kHLXCFStringTypeID:
    case kHLXCFDictionaryTypeID:
    case kHLXCFArrayTypeID:
    case kHLXCFDataTypeID:
    case kHLXCFBooleanTypeID:
    case kHLXCFNumberTypeID:
    case kHLXCFDateTypeID: return true;
    default: return false;
  }
}

}  // namespace

MDLockdownStore::MDLockdownStore(std::string folder)
    : m_folder(std::move(folder)), m_path(m_folder + "/lockdown.plist") {}

void MDLockdownStore::ReleaseCache() {
  std::shared_ptr<const void> root;
  std::lock_guard<std::mutex> lock(m_mutex);
  root.swap(m_root);
  m_identity = MDFileIdentity();
}

std::shared_ptr<const void> MDLockdownStore::LoadRoot(int* error) {
  MDFileIdentity identity;
  if (MDGetFileIdentity(m_path, &identity) != 0) {
    *error = kAMDImageUnreadableError;
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_root && m_identity == identity) return m_root;
  }
  std::string bytes;
  if (MDReadFile(m_path, kMDMaxLockdownFileBytes, &bytes) != 0) {
    *error = kAMDImageUnreadableError;
    return nullptr;
  }
  CFTypeRef parsed = HLXCFPropertyListCreateFromBytes(bytes.data(), bytes.size(), kCFPropertyListImmutable, nullptr);
  std::shared_ptr<const void> root = MDCFShare(parsed);
  if (!root || CFGetTypeID(root.get()) != kHLXCFDictionaryTypeID) {
    MDLog("lockdown.plist of an image is not a dictionary");
    *error = kAMDImageUnreadableError;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_identity = identity;
  m_root = root;
  return root;
}

CFTypeRef MDLockdownStore::CopyValue(const std::string* domain, const std::string* key, int* error) {
  *error = 0;
  std::shared_ptr<const void> root = LoadRoot(error);
  if (!root) return nullptr;
  MDCFPtr domainName = MDCFStringCreate(domain != nullptr ? *domain : std::string());
  if (!domainName) {
    *error = kAMDInvalidArgumentError;
    return nullptr;
  }
  CFTypeRef domainValues = CFDictionaryGetValue(static_cast<CFDictionaryRef>(root.get()), domainName.get());
  if (domainValues == nullptr || CFGetTypeID(domainValues) != kHLXCFDictionaryTypeID) {
    *error = kAMDMissingValueError;
    return nullptr;
  }
  if (key == nullptr) return CFRetain(domainValues);
  MDCFPtr keyName = MDCFStringCreate(*key);
  if (!keyName) {
    *error = kAMDInvalidArgumentError;
    return nullptr;
  }
  CFTypeRef value = CFDictionaryGetValue(static_cast<CFDictionaryRef>(domainValues), keyName.get());
  if (value == nullptr) {
    *error = kAMDMissingValueError;
    return nullptr;
  }
  // The parsed tree is immutable and the cache holds its own reference, so handing out one more
  // reference to a node is safe even after the cache moves on to a newer file.
  return CFRetain(value);
}

int MDLockdownStore::SetValue(const std::string* domain, const std::string& key, CFTypeRef value) {
  if (value == nullptr || !IsPropertyListType(value)) return kAMDInvalidArgumentError;
  MDCFPtr domainName = MDCFStringCreate(domain != nullptr ? *domain : std::string());
  MDCFPtr keyName = MDCFStringCreate(key);
  if (!domainName || !keyName) return kAMDInvalidArgumentError;

  MDImageLock lock(m_folder);
  if (!lock.IsHeld()) return kAMDNotConnectedError;
  std::string bytes;
  if (MDReadFile(m_path, kMDMaxLockdownFileBytes, &bytes) != 0) return kAMDImageUnreadableError;
  CFPropertyListFormat format = kCFPropertyListXMLFormat_v1_0;
  MDCFPtr parsed(HLXCFPropertyListCreateFromBytes(bytes.data(), bytes.size(), kCFPropertyListImmutable, &format));
  if (!parsed || CFGetTypeID(parsed.get()) != kHLXCFDictionaryTypeID) return kAMDImageUnreadableError;
  MDCFPtr rootCopy(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(parsed.get())));
  if (!rootCopy) return kAMDImageUnreadableError;
  auto root = static_cast<CFMutableDictionaryRef>(const_cast<void*>(rootCopy.get()));

  CFTypeRef existing = CFDictionaryGetValue(root, domainName.get());
  MDCFPtr domainValues;
  if (existing == nullptr) {
    domainValues.reset(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  } else if (CFGetTypeID(existing) == kHLXCFDictionaryTypeID) {
    // The root's deep copy made the domain mutable; take our own reference to edit it.
    domainValues.reset(CFRetain(existing));
  } else {
    return kAMDImageUnreadableError;
  }
  if (!domainValues) return kAMDUndefinedError;
  auto mutableDomain = static_cast<CFMutableDictionaryRef>(const_cast<void*>(domainValues.get()));
  HLXCFDictionarySetValue(mutableDomain, keyName.get(), value);
  HLXCFDictionarySetValue(root, domainName.get(), mutableDomain);

  MDCFPtr data(HLXCFPropertyListCreateData(root, format == kCFPropertyListBinaryFormat_v1_0
                                                     ? kCFPropertyListBinaryFormat_v1_0
                                                     : kCFPropertyListXMLFormat_v1_0));
  if (!data) return kAMDInvalidArgumentError;  // the value holds something a property list cannot
  auto dataRef = static_cast<CFDataRef>(data.get());
  std::string out(reinterpret_cast<const char*>(CFDataGetBytePtr(dataRef)),
                  static_cast<size_t>(CFDataGetLength(dataRef)));
  if (MDWriteFileAtomic(m_path, out) != 0) return kAMDUndefinedError;
  return 0;
}
