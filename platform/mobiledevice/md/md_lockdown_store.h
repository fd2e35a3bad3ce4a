// The lockdown values of one device image: lockdown.plist, a property-list dictionary from domain
// name to a dictionary of values, the key "" holding the values without a domain. Reading parses
// the file once per version of it (cached by file identity) and hands out references to the parsed,
// immutable objects; writing is a read-modify-write under the image lock that keeps the file's format
// (XML or binary). Knows nothing of sessions: md_lockdown.cpp decides who may read and write.
// Threads: any; m_mutex (lock order place 6) guards the cache and is never held while parsing.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "md/md_base.h"
#include "md/md_cf_util.h"

// A bigger lockdown.plist is refused as unreadable (a device's values take a few kilobytes).
constexpr size_t kMDMaxLockdownFileBytes = 16u << 20;

class MDLockdownStore {
 public:
  explicit MDLockdownStore(std::string folder);
  MDLockdownStore(const MDLockdownStore&) = delete;
  MDLockdownStore& operator=(const MDLockdownStore&) = delete;

  // domain null: the values without a domain; key null: the whole domain dictionary. The result is a
  // new reference owned by the caller, or null with *error set (kAMDMissingValueError when the domain
  // or key does not exist, kAMDImageUnreadableError when the file is missing or malformed).
  CFTypeRef CopyValue(const std::string* domain, const std::string* key, int* error);

  // Stores `value` (any property-list object) under domain/key, creating the domain when missing.
  // Returns 0 or a kAMD code; the file is unchanged on failure.
  [[nodiscard]] int SetValue(const std::string* domain, const std::string& key, CFTypeRef value);

  // Frees the parsed file; the next read parses it again (a departed device frees it for good).
  void ReleaseCache();

 private:
  std::shared_ptr<const void> LoadRoot(int* error);

  const std::string m_folder;
  const std::string m_path;
  std::mutex m_mutex;  // guards: m_identity, m_root (lock order 6)
  MDFileIdentity m_identity;
  std::shared_ptr<const void> m_root;
};
