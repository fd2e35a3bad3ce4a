// Classes, settings, committed records and staged changes of the synchronisation service (see
// md_service_mobilesync_store.h). Threads: see the header.
#include "md/md_service_mobilesync_store.h"

#include <rapidjson/document.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>

#include "md/md_base.h"
#include "md/md_device_image.h"
#include "md/md_service_message.h"

namespace {

// A store of tens of thousands of contacts with their sub-records is some tens of MiB in XML.
constexpr size_t kMaxStoreFileBytes = 256u << 20;
constexpr size_t kMaxSettingsFileBytes = 1u << 20;
constexpr size_t kMaxCachedStores = 8;

MDSyncClassRules MakeContactsRules() {
  MDSyncClassRules rules;
  rules.className = "com.apple.Contacts";
  rules.storeFile = "addressbook.plist";
  // The device answers the change query with two empty batches: writes follow after the first
  // acknowledgement, deletes and group writes acknowledge both.
  rules.changeBatchesBeforeWrites = 2;
  rules.keyPrefix = "Group/";
  rules.keyPrefixEntity = "com.apple.contacts.Group";
  rules.entities.push_back({"com.apple.contacts.Contact", "", false, {}});
  // A group update without "members" (a rename) keeps the members it had.
  rules.entities.push_back({"com.apple.contacts.Group", "members", false, {"members"}});
  for (const char* entity : {"com.apple.contacts.Phone Number", "com.apple.contacts.Email Address",
                             "com.apple.contacts.Street Address", "com.apple.contacts.URL",
                             "com.apple.contacts.Related Name", "com.apple.contacts.IM", "com.apple.contacts.Date"}) {
    rules.entities.push_back({entity, "contact", true, {}});
  }
  return rules;
}

bool IsNumericId(const std::string& id) {
  if (id.empty() || id.size() > 18) return false;
  return std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

MDCFPtr MakeNumber(int64_t value) { return MDCFPtr(HLXCFNumberCreateInt64(value)); }

CFMutableDictionaryRef AsMutableDictionary(const MDCFPtr& pointer) {
  return static_cast<CFMutableDictionaryRef>(const_cast<void*>(pointer.get()));
}

bool IsDictionary(CFTypeRef value) { return value != nullptr && CFGetTypeID(value) == kHLXCFDictionaryTypeID; }
bool IsArray(CFTypeRef value) { return value != nullptr && CFGetTypeID(value) == kHLXCFArrayTypeID; }

std::string EntityOfRecord(CFTypeRef record) {
  std::string entity;
  if (!MDDictionaryText(record, kMDSyncEntityKey, &entity)) entity.clear();
  return entity;
}

CFTypeRef RecordOf(CFDictionaryRef records, const std::string& id) {
  MDCFPtr key = MDCFStringCreate(id);
  return key ? CFDictionaryGetValue(records, key.get()) : nullptr;
}

// A parsed store file. False when the bytes are not a store.
struct ParsedStore {
  MDCFPtr root;
  CFDictionaryRef records = nullptr;
  int64_t nextRecordId = 1;
  CFPropertyListFormat format = kCFPropertyListXMLFormat_v1_0;
};

bool ParseStore(const void* bytes, size_t length, ParsedStore* store) {
  CFPropertyListFormat format = 0;
  MDCFPtr root(HLXCFPropertyListCreateFromBytes(bytes, length, kCFPropertyListImmutable, &format));
  if (!IsDictionary(root.get())) return false;
  CFTypeRef records = MDDictionaryValue(root.get(), "records");
  if (records != nullptr && !IsDictionary(records)) return false;
  CFTypeRef next = MDDictionaryValue(root.get(), "nextRecordId");
  int64_t nextId = 1;
  if (next != nullptr) {
    if (CFGetTypeID(next) != kHLXCFNumberTypeID ||
        !CFNumberGetValue(static_cast<CFNumberRef>(next), kCFNumberSInt64Type, &nextId) || nextId < 1) {
      return false;
    }
  }
  MDCFPtr emptyRecords;
  if (records == nullptr) {
    // A store without records: give the root one so that `records` is never null.
    MDCFPtr mutableRoot(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(root.get())));
    MDCFPtr empty(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    MDCFPtr key = MDCFStringCreate("records");
    if (!mutableRoot || !empty || !key) return false;
    HLXCFDictionarySetValue(AsMutableDictionary(mutableRoot), key.get(), empty.get());
    root = std::move(mutableRoot);
    records = MDDictionaryValue(root.get(), "records");
  }
  store->records = static_cast<CFDictionaryRef>(records);
  store->nextRecordId = nextId;
  store->format = format;
  store->root = std::move(root);
  return true;
}

// Parses the store file at `path` from a read-only mapping: a book of 10,000 contacts is about 20 MiB
// of XML, which reading into a buffer would first zero and then copy. 0, an errno of opening it
// (ENOENT for a missing file), or EINVAL for a file that is no store or too large.
int ParseStoreFile(const std::string& path, ParsedStore* store) {
  MDUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return errno;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > kMaxStoreFileBytes) return EINVAL;
  const size_t length = static_cast<size_t>(info.st_size);
  if (length == 0) return ParseStore("", 0, store) ? 0 : EINVAL;
  void* bytes = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.Get(), 0);
  if (bytes == MAP_FAILED) return errno;
  const bool parsed = ParseStore(bytes, length, store);
  ::munmap(bytes, length);
  return parsed ? 0 : EINVAL;
}

// An empty store (no file yet).
bool EmptyStore(ParsedStore* store) {
  MDCFPtr root(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  MDCFPtr records(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  MDCFPtr key = MDCFStringCreate("records");
  if (!root || !records || !key) return false;
  HLXCFDictionarySetValue(AsMutableDictionary(root), key.get(), records.get());
  store->records = static_cast<CFDictionaryRef>(records.get());
  store->root = std::move(root);
  store->nextRecordId = 1;
  return true;
}

struct CachedStore {
  MDFileIdentity identity;
  MDSyncSnapshot snapshot;
};

struct StoreCache {
  std::mutex mutex;  // guards: entries, users (lock order 6; never held while parsing)
  std::map<std::string, CachedStore> entries;
  size_t users = 0;  // open connections (MDSyncStoreUse)
};

StoreCache& GetStoreCache() {
  static auto* cache = new StoreCache();  // never destroyed: device threads may outlive main
  return *cache;
}

// Removes `id` from the reference arrays of every record; records owned by references that lose
// their last owner go too, and so on. `records` is a deep mutable copy.
void CascadeDelete(CFMutableDictionaryRef records, const MDSyncClassRules& rules, const std::string& firstId) {
  std::vector<std::string> pending{firstId};
  while (!pending.empty()) {
    const std::string id = pending.back();
    pending.pop_back();
    MDCFPtr key = MDCFStringCreate(id);
    if (!key || CFDictionaryGetValue(records, key.get()) == nullptr) continue;
    HLXCFDictionaryRemoveValue(records, key.get());
    for (const auto& [otherId, record] : MDCFSortedEntries(records)) {
      const MDSyncEntityRule* rule = rules.Find(EntityOfRecord(record));
      if (rule == nullptr || rule->referenceField.empty()) continue;
      CFTypeRef references = MDDictionaryValue(record, rule->referenceField.c_str());
      if (!IsArray(references)) continue;
      auto array = static_cast<CFMutableArrayRef>(const_cast<void*>(references));
      bool removed = false;
      for (CFIndex i = CFArrayGetCount(array) - 1; i >= 0; --i) {
        std::string target;
        if (MDCFStringToUtf8(CFArrayGetValueAtIndex(array, i), &target) && target == id) {
          CFArrayRemoveValueAtIndex(array, i);
          removed = true;
        }
      }
      if (removed && rule->ownedByReference && CFArrayGetCount(array) == 0) pending.push_back(otherId);
    }
  }
}

// Keeps only references to records that exist; false when an owned record is left without owner.
bool KeepExistingReferences(CFMutableDictionaryRef records, CFTypeRef record, const MDSyncEntityRule& rule) {
  if (rule.referenceField.empty()) return true;
  CFTypeRef references = MDDictionaryValue(record, rule.referenceField.c_str());
  if (!IsArray(references)) return !rule.ownedByReference || (references == nullptr && rule.ownerlessAtTop);
  auto array = static_cast<CFMutableArrayRef>(const_cast<void*>(references));
  for (CFIndex i = CFArrayGetCount(array) - 1; i >= 0; --i) {
    std::string target;
    if (!MDCFStringToUtf8(CFArrayGetValueAtIndex(array, i), &target) || RecordOf(records, target) == nullptr) {
      CFArrayRemoveValueAtIndex(array, i);
    }
  }
  return !rule.ownedByReference || CFArrayGetCount(array) > 0;
}

}  // namespace

const MDSyncEntityRule* MDSyncClassRules::Find(const std::string& entity) const {
  for (const MDSyncEntityRule& rule : entities) {
    if (rule.name == entity) return &rule;
  }
  return nullptr;
}

const MDSyncClassRules* MDFindSyncClass(const std::string& className) {
  static const auto* classes = new std::vector<MDSyncClassRules>{
      MakeContactsRules(), MDMakeNotesSyncRules(), MDMakeBookmarksSyncRules(), MDMakeCalendarsSyncRules()};
  for (const MDSyncClassRules& rules : *classes) {
    if (rules.className == className) return &rules;
  }
  return nullptr;
}

bool MDSyncIdLess(const std::string& a, const std::string& b) {
  if (IsNumericId(a) && IsNumericId(b)) {
    const size_t za = a.find_first_not_of('0') == std::string::npos ? a.size() : a.find_first_not_of('0');
    const size_t zb = b.find_first_not_of('0') == std::string::npos ? b.size() : b.find_first_not_of('0');
    const size_t la = a.size() - za;
    const size_t lb = b.size() - zb;
    if (la != lb) return la < lb;
    const int order = a.compare(za, la, b, zb, lb);
    if (order != 0) return order < 0;
  }
  return a < b;
}

bool MDParseSyncSettings(const std::string& json, MDSyncSettings* settings) {
  rapidjson::Document document;
  if (document.Parse(json.c_str(), json.size()).HasParseError() || !document.IsObject()) return false;
  MDSyncSettings parsed;
  auto text = [&](const char* key, std::string* out) {
    auto it = document.FindMember(key);
    if (it == document.MemberEnd()) return true;
    if (!it->value.IsString()) return false;
    out->assign(it->value.GetString(), it->value.GetStringLength());
    return true;
  };
  auto flag = [&](const char* key, bool* out) {
    auto it = document.FindMember(key);
    if (it == document.MemberEnd()) return true;
    if (!it->value.IsBool()) return false;
    *out = it->value.GetBool();
    return true;
  };
  auto batch = document.FindMember("batchRecords");
  if (batch != document.MemberEnd()) {
    if (!batch->value.IsUint64() || batch->value.GetUint64() < 1 || batch->value.GetUint64() > kMDMaxSyncBatchRecords) {
      return false;
    }
    parsed.batchRecords = static_cast<size_t>(batch->value.GetUint64());
  }
  auto order = document.FindMember("entityOrder");
  if (order != document.MemberEnd()) {
    if (!order->value.IsObject()) return false;
    for (const auto& entry : order->value.GetObject()) {
      if (!entry.value.IsArray()) return false;
      std::vector<std::string>& entities = parsed.entityOrder[entry.name.GetString()];
      for (const auto& entity : entry.value.GetArray()) {
        if (!entity.IsString()) return false;
        entities.emplace_back(entity.GetString(), entity.GetStringLength());
      }
    }
  }
  auto refuse = document.FindMember("refuseClasses");
  if (refuse != document.MemberEnd()) {
    if (!refuse->value.IsArray()) return false;
    for (const auto& name : refuse->value.GetArray()) {
      if (!name.IsString()) return false;
      parsed.refuseClasses.emplace(name.GetString(), name.GetStringLength());
    }
  }
  std::string dropMode = "close";
  if (!text("cancelOn", &parsed.cancelOn) || !text("dropAnswerTo", &parsed.dropAnswerTo) ||
      !text("dropMode", &dropMode) || !flag("remapNothing", &parsed.remapNothing) ||
      !flag("transcripts", &parsed.transcripts)) {
    return false;
  }
  if (dropMode != "close" && dropMode != "silent") return false;
  parsed.dropSilently = dropMode == "silent";
  *settings = std::move(parsed);
  return true;
}

int MDLoadSyncSettings(const std::string& imageFolder, MDSyncSettings* settings) {
  std::string text;
  const int error = MDReadFile(imageFolder + "/sync.json", kMaxSettingsFileBytes, &text);
  if (error == ENOENT) {
    *settings = MDSyncSettings();
    return 0;
  }
  if (error != 0) return error == EFBIG ? EINVAL : error;
  return MDParseSyncSettings(text, settings) ? 0 : EINVAL;
}

int MDLoadSyncSnapshot(const std::string& imageFolder, const MDSyncClassRules& rules, MDSyncSnapshot* snapshot) {
  const std::string path = imageFolder + "/" + rules.storeFile;
  MDFileIdentity identity;
  int error = MDGetFileIdentity(path, &identity);
  ParsedStore store;
  if (error == ENOENT) {
    if (!EmptyStore(&store)) return ENOMEM;
  } else if (error != 0) {
    return error;
  } else {
    StoreCache& cache = GetStoreCache();
    {
      std::lock_guard<std::mutex> lock(cache.mutex);
      auto it = cache.entries.find(path);
      if (it != cache.entries.end() && it->second.identity == identity) {
        *snapshot = it->second.snapshot;
        return 0;
      }
    }
    error = ParseStoreFile(path, &store);
    if (error != 0) return error;
  }
  MDSyncSnapshot loaded;
  loaded.records = store.records;
  loaded.nextRecordId = store.nextRecordId;
  loaded.root = MDCFShare(store.root.release());
  if (error == 0) {
    // The identity was taken before the read: a file replaced meanwhile has a new identity, so the
    // cache never pins a stale version.
    StoreCache& cache = GetStoreCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    // A process that sees many images (a test run) keeps only the latest few books parsed.
    if (cache.entries.size() >= kMaxCachedStores && cache.entries.count(path) == 0) cache.entries.clear();
    cache.entries[path] = CachedStore{identity, loaded};
  }
  *snapshot = std::move(loaded);
  return 0;
}

MDSyncStoreUse::MDSyncStoreUse() {
  StoreCache& cache = GetStoreCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  ++cache.users;
}

MDSyncStoreUse::~MDSyncStoreUse() {
  std::map<std::string, CachedStore> dropped;
  {
    StoreCache& cache = GetStoreCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (--cache.users == 0) dropped.swap(cache.entries);
  }
  if (dropped.empty()) return;
  dropped.clear();  // the device lives in its client's process: the parse goes with the last user
}

std::vector<std::pair<std::string, CFTypeRef>> MDListSyncRecords(const MDSyncSnapshot& snapshot,
                                                                 const MDSyncClassRules& rules,
                                                                 const MDSyncSettings& settings) {
  std::vector<std::string> order;
  auto named = settings.entityOrder.find(rules.className);
  if (named != settings.entityOrder.end()) {
    for (const std::string& entity : named->second) {
      if (rules.Find(entity) != nullptr && std::find(order.begin(), order.end(), entity) == order.end()) {
        order.push_back(entity);
      }
    }
  }
  for (const MDSyncEntityRule& rule : rules.entities) {
    if (std::find(order.begin(), order.end(), rule.name) == order.end()) order.push_back(rule.name);
  }
  // The records of each listed entity, found through one key object and borrowed entity texts
  // rather than a text copy per record.
  std::vector<std::vector<std::pair<std::string, CFTypeRef>>> byEntity(order.size());
  MDCFPtr entityKey = MDCFStringCreate(kMDSyncEntityKey);
  if (!entityKey) return {};
  const CFIndex count = CFDictionaryGetCount(snapshot.records);
  std::vector<const void*> keys(static_cast<size_t>(count));
  std::vector<const void*> values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(snapshot.records, keys.data(), values.data());
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!IsDictionary(values[i])) continue;
    const CFTypeRef entityValue = CFDictionaryGetValue(static_cast<CFDictionaryRef>(values[i]), entityKey.get());
    if (entityValue == nullptr || CFGetTypeID(entityValue) != kHLXCFStringTypeID) continue;
    size_t entityLength = 0;
    const char* entity = HLXCFStringGetUTF8(static_cast<CFStringRef>(entityValue), &entityLength);
    const std::string_view entityText(entity, entityLength);
    const auto slot = std::find(order.begin(), order.end(), entityText);
    if (slot == order.end()) continue;
    std::string id;
    if (MDCFStringToUtf8(keys[i], &id))
      byEntity[static_cast<size_t>(slot - order.begin())].emplace_back(std::move(id), values[i]);
  }
  std::vector<std::pair<std::string, CFTypeRef>> listed;
  listed.reserve(keys.size());
  for (auto& records : byEntity) {
    // Numeric ids have one order whatever the start. Others (a hand-made store) are put in byte order
    // first, as a sort's result may depend on where it starts when numeric and other ids mix.
    const bool allNumeric =
        std::all_of(records.begin(), records.end(), [](const auto& record) { return IsNumericId(record.first); });
    if (allNumeric) {
      // MDSyncIdLess's order for numeric ids (at most 18 digits): by value, then by text ("07" before
      // "7"), with each id's value read once rather than at every comparison.
      std::vector<std::pair<uint64_t, size_t>> byValue;
      byValue.reserve(records.size());
      for (size_t i = 0; i < records.size(); ++i) {
        uint64_t value = 0;
        for (const char digit : records[i].first) value = value * 10 + static_cast<uint64_t>(digit - '0');
        byValue.emplace_back(value, i);
      }
      std::sort(byValue.begin(), byValue.end(), [&records](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : records[a.second].first < records[b.second].first;
      });
      for (const auto& entry : byValue) listed.push_back(std::move(records[entry.second]));
      continue;
    }
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return MDSyncIdLess(a.first, b.first); });
    listed.insert(listed.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
  }
  return listed;
}

MDSyncStaging::MDSyncStaging(std::string imageFolder, const MDSyncClassRules& rules, MDSyncSnapshot snapshot)
    : m_folder(std::move(imageFolder)), m_rules(rules), m_snapshot(std::move(snapshot)) {}

std::string MDSyncStaging::EntityOf(const std::string& id) const {
  auto made = m_newEntities.find(id);
  if (made != m_newEntities.end()) return made->second;
  CFTypeRef record = RecordOf(m_snapshot.records, id);
  return IsDictionary(record) ? EntityOfRecord(record) : std::string();
}

std::string MDSyncStaging::ResolveReference(const std::string& id) const {
  if (!EntityOf(id).empty()) return id;
  auto remapped = m_remapped.find(id);
  return remapped != m_remapped.end() ? remapped->second : std::string();
}

int MDSyncStaging::Stage(CFDictionaryRef changes, std::vector<std::pair<std::string, std::string>>* remap) {
  struct Upsert {
    std::string key;
    CFTypeRef record;
    const MDSyncEntityRule* rule;
    std::string deviceId;
  };
  std::vector<Upsert> upserts;
  std::vector<Operation> deletions;
  size_t newCount = 0;
  for (const auto& [key, value] : MDCFSortedEntries(changes)) {
    std::string text;
    if (MDCFStringToUtf8(value, &text)) {
      if (text != kMDSyncDeletionMark) continue;
      std::string id = key;
      if (!m_rules.keyPrefix.empty() && key.compare(0, m_rules.keyPrefix.size(), m_rules.keyPrefix) == 0) {
        id = key.substr(m_rules.keyPrefix.size());
        if (EntityOf(id) != m_rules.keyPrefixEntity) continue;  // "Group/5" never deletes contact 5
      } else if (EntityOf(key).empty() && m_remapped.count(key) != 0) {
        id = m_remapped.at(key);
      }
      Operation deletion;
      deletion.deletion = true;
      deletion.id = std::move(id);
      deletions.push_back(std::move(deletion));
      continue;
    }
    if (!IsDictionary(value)) continue;
    const MDSyncEntityRule* rule = m_rules.Find(EntityOfRecord(value));
    if (rule == nullptr) continue;  // not a record of this class: nothing is kept, nothing remapped
    std::string deviceId;
    if (!m_rules.keyPrefix.empty() && key.compare(0, m_rules.keyPrefix.size(), m_rules.keyPrefix) == 0) {
      const std::string named = key.substr(m_rules.keyPrefix.size());
      if (rule->name == m_rules.keyPrefixEntity && EntityOf(named) == rule->name) deviceId = named;
    } else if (EntityOf(key) == rule->name) {
      deviceId = key;
    } else {
      auto remapped = m_remapped.find(key);
      if (remapped != m_remapped.end() && EntityOf(remapped->second) == rule->name) deviceId = remapped->second;
    }
    if (deviceId.empty()) ++newCount;
    upserts.push_back(Upsert{key, value, rule, std::move(deviceId)});
  }

  if (newCount > 0) {
    int64_t first = 0;
    MDDeviceImage image(m_folder);
    const int error =
        image.TakeCounterRange(m_rules.storeFile, m_snapshot.nextRecordId, static_cast<int64_t>(newCount), &first);
    if (error != 0) return error;
    for (Upsert& upsert : upserts) {
      if (!upsert.deviceId.empty()) continue;
      upsert.deviceId = std::to_string(first++);
      m_newEntities[upsert.deviceId] = upsert.rule->name;
    }
    m_highestId = std::max(m_highestId, first - 1);
  }
  // Every id of this message is known before references resolve, so a sub-record may name a
  // contact sent in the same message, before or after it.
  for (const Upsert& upsert : upserts) m_remapped[upsert.key] = upsert.deviceId;

  for (Operation& deletion : deletions) m_operations.push_back(std::move(deletion));
  for (const Upsert& upsert : upserts) {
    MDCFPtr record(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(upsert.record)));
    if (!record) return ENOMEM;
    if (!upsert.rule->referenceField.empty()) {
      CFTypeRef references = MDDictionaryValue(record.get(), upsert.rule->referenceField.c_str());
      if (IsArray(references)) {
        MDCFPtr resolved(CFArrayCreateMutable(nullptr, 0, nullptr));
        if (!resolved) return ENOMEM;
        for (CFIndex i = 0; i < CFArrayGetCount(static_cast<CFArrayRef>(references)); ++i) {
          std::string target;
          if (!MDCFStringToUtf8(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(references), i), &target)) continue;
          const std::string id = ResolveReference(target);
          MDCFPtr idString = MDCFStringCreate(id);
          if (!id.empty() && idString) {
            CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void*>(resolved.get())), idString.get());
          }
        }
        MDCFPtr field = MDCFStringCreate(upsert.rule->referenceField);
        if (!field) return ENOMEM;
        HLXCFDictionarySetValue(AsMutableDictionary(record), field.get(), resolved.get());
      }
    }
    Operation operation;
    operation.id = upsert.deviceId;
    operation.record = std::move(record);
    m_operations.push_back(std::move(operation));
    remap->emplace_back(upsert.key, upsert.deviceId);
  }
  return 0;
}

int MDSyncStaging::Commit() {
  std::vector<Operation> operations = std::move(m_operations);
  m_operations.clear();
  if (operations.empty()) return 0;
  const std::string path = m_folder + "/" + m_rules.storeFile;
  MDImageLock lock(m_folder);
  if (!lock.IsHeld()) return ENOENT;
  // The file as it is now, not the snapshot: another session may have committed since.
  ParsedStore store;
  int error = ParseStoreFile(path, &store);
  if (error == ENOENT) {
    if (!EmptyStore(&store)) return ENOMEM;
  } else if (error != 0) {
    return error;
  }
  MDCFPtr root(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(store.root.get())));
  if (!root) return ENOMEM;
  auto records = static_cast<CFMutableDictionaryRef>(const_cast<void*>(MDDictionaryValue(root.get(), "records")));
  if (records == nullptr) return EINVAL;

  std::vector<std::string> written;
  for (Operation& operation : operations) {
    if (operation.deletion) {
      CascadeDelete(records, m_rules, operation.id);
      continue;
    }
    const MDSyncEntityRule* rule = m_rules.Find(EntityOfRecord(operation.record.get()));
    if (rule == nullptr) continue;
    CFTypeRef existing = RecordOf(records, operation.id);
    if (IsDictionary(existing) && EntityOfRecord(existing) == rule->name) {
      for (const std::string& field : rule->keptWhenAbsent) {
        CFTypeRef kept = MDDictionaryValue(existing, field.c_str());
        MDCFPtr fieldKey = MDCFStringCreate(field);
        if (kept != nullptr && fieldKey && MDDictionaryValue(operation.record.get(), field.c_str()) == nullptr) {
          MDCFPtr copy(IsArray(kept)
                           ? static_cast<CFTypeRef>(HLXCFArrayCreateMutableCopy(static_cast<CFArrayRef>(kept)))
                           : CFRetain(kept));
          if (copy) HLXCFDictionarySetValue(AsMutableDictionary(operation.record), fieldKey.get(), copy.get());
        }
      }
    }
    MDCFPtr key = MDCFStringCreate(operation.id);
    if (!key) return ENOMEM;
    HLXCFDictionarySetValue(records, key.get(), operation.record.get());
    written.push_back(operation.id);
  }
  // References are checked against the records as they stand after every change, so a record that
  // names one deleted later in the session (or by a session committed meanwhile) does not keep a
  // dangling reference; an owned record left without owner is not kept.
  for (const std::string& id : written) {
    CFTypeRef record = RecordOf(records, id);
    if (!IsDictionary(record)) continue;
    const MDSyncEntityRule* rule = m_rules.Find(EntityOfRecord(record));
    if (rule != nullptr && !KeepExistingReferences(records, record, *rule)) {
      MDCFPtr key = MDCFStringCreate(id);
      if (key) HLXCFDictionaryRemoveValue(records, key.get());
    }
  }
  const int64_t next = std::max(store.nextRecordId, m_highestId + 1);
  MDCFPtr nextKey = MDCFStringCreate("nextRecordId");
  MDCFPtr nextValue = MakeNumber(next);
  if (!nextKey || !nextValue) return ENOMEM;
  HLXCFDictionarySetValue(AsMutableDictionary(root), nextKey.get(), nextValue.get());

  std::string out;
  if (store.format == kCFPropertyListBinaryFormat_v1_0) {
    if (!MDSerializeSortedBinary(root.get(), &out)) return EINVAL;
  } else {
    MDCFPtr data(HLXCFPropertyListCreateData(root.get(), kCFPropertyListXMLFormat_v1_0));
    if (!data) return EINVAL;
    auto dataRef = static_cast<CFDataRef>(data.get());
    out.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(dataRef)), static_cast<size_t>(CFDataGetLength(dataRef)));
  }
  return MDWriteFileAtomic(path, out);
}
