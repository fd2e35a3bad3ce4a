// UIDs: the object references of keyed archives, which only binary property lists carry natively
// (the XML writer spells them as a one-key dictionary {"CF$UID": n}, as keyed archives expect).
//
// Threads: any; UIDs are immutable.
#include "cf/cf_object.h"

#include "cf/cf_internal.h"

namespace cf {

Ref<UIDObj> NewUID(uint64_t value) { return MakeObject<UIDObj>(value); }

}  // namespace cf

using namespace cf;

extern "C" {

MD_EXPORT CFTypeRef HLXCFUIDCreate(uint64_t value) {
  return Guarded<CFTypeRef>(nullptr, [&] { return static_cast<CFTypeRef>(NewUID(value).Leak()); });
}

MD_EXPORT Boolean HLXCFUIDGetValue(CFTypeRef uid, uint64_t* value) {
  const UIDObj* valid = As<UIDObj>(uid);
  if (valid == nullptr || value == nullptr) return 0;
  *value = valid->m_value;
  return 1;
}

}  // extern "C"
