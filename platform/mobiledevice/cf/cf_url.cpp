// File-system URLs. The simulated library never resolves them: a URL keeps the path text, its style
// and the directory flag for the MobileDevice half (HLXCFURLGetPath), which maps it onto the device
// image itself.
//
// Threads: any; URLs are immutable.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

namespace {

// Path styles: POSIX, HFS, Windows.
constexpr CFURLPathStyle kLastPathStyle = 2;

}  // namespace

using namespace cf;

extern "C" {

MD_EXPORT CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFURLPathStyle style,
                                                 Boolean isDirectory) {
  return Guarded<CFURLRef>(nullptr, [&]() -> CFURLRef {
    const StringObj* validPath = As<StringObj>(path);
    if (validPath == nullptr || style < 0 || style > kLastPathStyle) return nullptr;
    auto url = MakeObject<URLObj>();
    url->m_path = Ref<StringObj>::Share(validPath);
    url->m_style = style;
    url->m_isDirectory = isDirectory != 0;
    return reinterpret_cast<CFURLRef>(url.Leak());
  });
}

MD_EXPORT CFStringRef HLXCFURLGetPath(CFURLRef url) {
  const URLObj* valid = As<URLObj>(url);
  return valid == nullptr ? nullptr : reinterpret_cast<CFStringRef>(valid->m_path.Get());
}

MD_EXPORT Boolean HLXCFURLIsDirectory(CFURLRef url) {
  const URLObj* valid = As<URLObj>(url);
  return valid != nullptr && valid->m_isDirectory ? 1 : 0;
}

}  // extern "C"
