// In-memory write streams: made, opened, written by the property-list writer (cf_propertylist.cpp),
// read back through the kCFStreamPropertyDataWritten property, closed. A stream takes bytes only while
// open, as a stream over allocated buffers does.
//
// Threads: any, but one stream must not be used by two threads at once.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

namespace {

cf::StringObj g_dataWrittenName("kCFStreamPropertyDataWritten", sizeof("kCFStreamPropertyDataWritten") - 1);

}  // namespace

using namespace cf;

extern "C" {

const CFStringRef kCFStreamPropertyDataWritten = reinterpret_cast<CFStringRef>(&g_dataWrittenName);

MD_EXPORT CFWriteStreamRef CFWriteStreamCreateWithAllocatedBuffers(CFAllocatorRef, CFAllocatorRef) {
  return Guarded<CFWriteStreamRef>(
      nullptr, []() -> CFWriteStreamRef { return reinterpret_cast<CFWriteStreamRef>(MakeObject<StreamObj>().Leak()); });
}

MD_EXPORT Boolean CFWriteStreamOpen(CFWriteStreamRef stream) {
  StreamObj* valid = AsMutable<StreamObj>(stream);
  if (valid == nullptr || valid->m_state != StreamObj::State::kNotOpen) return 0;
  valid->m_state = StreamObj::State::kOpen;
  return 1;
}

MD_EXPORT void CFWriteStreamClose(CFWriteStreamRef stream) {
  StreamObj* valid = AsMutable<StreamObj>(stream);
  if (valid != nullptr) valid->m_state = StreamObj::State::kClosed;
}

// The only property is the bytes written so far, as a new data object; anything else gives null.
MD_EXPORT CFTypeRef CFWriteStreamCopyProperty(CFWriteStreamRef stream, CFStringRef name) {
  return Guarded<CFTypeRef>(nullptr, [&]() -> CFTypeRef {
    const StreamObj* valid = As<StreamObj>(stream);
    const StringObj* property = As<StringObj>(name);
    if (valid == nullptr || property == nullptr || !Equal(property, &g_dataWrittenName)) return nullptr;
    return NewData(valid->m_bytes.data(), valid->m_bytes.size()).Leak();
  });
}

}  // extern "C"
