// Byte buffers (CFData). Immutable once made; the byte pointer stays valid for the object's life.
//
// Threads: any.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

namespace cf {

Ref<DataObj> NewData(const uint8_t* bytes, size_t size) {
  auto data = MakeObject<DataObj>();
  if (size > 0) data->m_bytes.assign(bytes, bytes + size);
  return data;
}

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  return Guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
    if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
    return reinterpret_cast<CFDataRef>(NewData(bytes, static_cast<size_t>(length)).Leak());
  });
}

MD_EXPORT CFDataRef CFDataCreateCopy(CFAllocatorRef, CFDataRef data) {
  return Guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
    const DataObj* valid = As<DataObj>(data);
    if (valid == nullptr) return nullptr;
    return reinterpret_cast<CFDataRef>(NewData(valid->m_bytes.data(), valid->m_bytes.size()).Leak());
  });
}

MD_EXPORT CFIndex CFDataGetLength(CFDataRef data) {
  const DataObj* valid = As<DataObj>(data);
  return valid == nullptr ? 0 : static_cast<CFIndex>(valid->m_bytes.size());
}

// An empty buffer still answers a valid pointer, so that callers may pass it on with length 0.
MD_EXPORT const UInt8* CFDataGetBytePtr(CFDataRef data) {
  static const UInt8 kEmpty = 0;
  const DataObj* valid = As<DataObj>(data);
  if (valid == nullptr) return nullptr;
  return valid->m_bytes.empty() ? &kEmpty : valid->m_bytes.data();
}

}  // extern "C"
