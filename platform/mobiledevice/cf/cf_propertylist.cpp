// The exported property-list functions: format detection ("bplist00" is binary, anything else is
// read as XML), the mutability option, error objects and error strings, and writing into a stream.
// The codecs themselves live in the cf_xml_* and cf_binary_* files.
//
// Threads: any.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"
#include "cf/cf_plist.h"

namespace cf {
namespace {

Ref<Object> ParseAnyFormat(std::string_view bytes, CFOptionFlags options, CFPropertyListFormat* format,
                           std::string* error) {
  // Both mutable options make containers mutable; this library has no mutable leaves to make.
  const bool mutableContainers = options != kCFPropertyListImmutable;
  if (bytes.substr(0, kBinaryPlistMagic.size()) == kBinaryPlistMagic) {
    if (format != nullptr) *format = kCFPropertyListBinaryFormat_v1_0;
    return ParseBinaryPlist(bytes, mutableContainers, error);
  }
  if (bytes.substr(0, 6) == "bplist") {
    *error = "unsupported binary property-list version";
    return nullptr;
  }
  if (format != nullptr) *format = kCFPropertyListXMLFormat_v1_0;
  return ParseXmlPlist(bytes, mutableContainers, error);
}

bool Serialise(const Object* list, CFPropertyListFormat format, std::string& out, std::string* error) {
  if (list == nullptr) {
    *error = "not an object";
    return false;
  }
  if (format == kCFPropertyListXMLFormat_v1_0) return WriteXmlPlist(list, out, error);
  if (format == kCFPropertyListBinaryFormat_v1_0) return WriteBinaryPlist(list, out, error);
  *error = "unsupported property-list format";
  return false;
}

std::string_view BytesOf(const DataObj* data) noexcept {
  return {reinterpret_cast<const char*>(data->m_bytes.data()), data->m_bytes.size()};
}

Ref<ErrorObj> MakeError(std::string_view description) {
  auto error = MakeObject<ErrorObj>();
  error->m_description = NewString(description);
  return error;
}

// Error texts come from the codecs (ASCII), so NewString cannot refuse them.
void SetErrorString(CFStringRef* errorString, const std::string& message) {
  if (errorString != nullptr) *errorString = reinterpret_cast<CFStringRef>(NewString(message).Leak());
}

}  // namespace

Ref<ErrorObj> NewError(std::string_view description) { return MakeError(description); }

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                                         CFPropertyListFormat* format, CFErrorRef* error) {
  if (error != nullptr) *error = nullptr;
  return Guarded<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    const DataObj* valid = As<DataObj>(data);
    std::string message = "not a data object";
    Ref<Object> list;
    if (valid != nullptr) list = ParseAnyFormat(BytesOf(valid), options, format, &message);
    if (!list && error != nullptr) *error = reinterpret_cast<CFErrorRef>(NewError(message).Leak());
    return list.Leak();
  });
}

MD_EXPORT CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                                            CFStringRef* errorString) {
  if (errorString != nullptr) *errorString = nullptr;
  return Guarded<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    const DataObj* valid = As<DataObj>(data);
    std::string message = "not a data object";
    Ref<Object> list;
    if (valid != nullptr) list = ParseAnyFormat(BytesOf(valid), options, nullptr, &message);
    if (!list) SetErrorString(errorString, message);
    return list.Leak();
  });
}

MD_EXPORT CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef list) {
  return Guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
    std::string out;
    std::string message;
    if (!Serialise(Validate(list), kCFPropertyListXMLFormat_v1_0, out, &message)) return nullptr;
    return reinterpret_cast<CFDataRef>(NewData(reinterpret_cast<const uint8_t*>(out.data()), out.size()).Leak());
  });
}

// Nothing reaches the stream unless the whole list serialised, so a failed write leaves the stream's
// earlier content intact.
MD_EXPORT CFIndex CFPropertyListWriteToStream(CFPropertyListRef list, CFWriteStreamRef stream,
                                              CFPropertyListFormat format, CFStringRef* errorString) {
  if (errorString != nullptr) *errorString = nullptr;
  return Guarded<CFIndex>(0, [&]() -> CFIndex {
    StreamObj* target = AsMutable<StreamObj>(stream);
    if (target == nullptr || target->m_state != StreamObj::State::kOpen) {
      SetErrorString(errorString, "stream is not open");
      return 0;
    }
    std::string out;
    std::string message;
    if (!Serialise(Validate(list), format, out, &message)) {
      SetErrorString(errorString, message);
      return 0;
    }
    target->m_bytes.insert(target->m_bytes.end(), out.begin(), out.end());
    return static_cast<CFIndex>(out.size());
  });
}

MD_EXPORT CFPropertyListRef HLXCFPropertyListCreateFromBytes(const void* bytes, size_t length, CFOptionFlags options,
                                                             CFPropertyListFormat* format) {
  return Guarded<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    if (bytes == nullptr && length != 0) return nullptr;
    std::string message;
    const std::string_view view(bytes == nullptr ? "" : static_cast<const char*>(bytes), length);
    return ParseAnyFormat(view, options, format, &message).Leak();
  });
}

MD_EXPORT CFDataRef HLXCFPropertyListCreateData(CFPropertyListRef list, CFPropertyListFormat format) {
  return Guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
    std::string out;
    std::string message;
    if (!Serialise(Validate(list), format, out, &message)) return nullptr;
    return reinterpret_cast<CFDataRef>(NewData(reinterpret_cast<const uint8_t*>(out.data()), out.size()).Leak());
  });
}

MD_EXPORT CFStringRef HLXCFErrorGetDescription(CFErrorRef error) {
  const ErrorObj* valid = As<ErrorObj>(error);
  return valid == nullptr ? nullptr : reinterpret_cast<CFStringRef>(valid->m_description.Get());
}

}  // extern "C"
