// The data side of the simulated synchronisation service "com.apple.mobilesync": which data classes
// the device serves and how their records hang together (md_service_mobilesync.cpp speaks the
// protocol), the per-image settings in sync.json, the committed records of a class (one property
// list per class in the image, e.g. addressbook.plist) and the changes a session stages until it
// finishes. Nothing here touches a socket.
//
// A store file is a dictionary {"nextRecordId": integer, "records": {id: record}}; a record is a
// dictionary holding "com.apple.syncservices.RecordEntityName" and its fields. Record ids are
// numeric texts shared by every entity of the class; an id is never handed out twice (the counter
// of handed-out ids lives in counters.json, so ids of sessions that were dropped stay used too).
//
// Threads: a session's objects belong to its connection's device thread. The parsed-file cache is
// process-wide under a leaf mutex (lock order place 6) that is never held while parsing; commits
// take the image lock (place 5) around their read-modify-write of the store file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "md/md_cf_util.h"

// The value that a computer's change sends in place of a record to delete it.
constexpr const char kMDSyncDeletionMark[] = "___EmptyParameterString___";
constexpr const char kMDSyncEntityKey[] = "com.apple.syncservices.RecordEntityName";

// One entity of a class. A reference field holds an array of record ids; when `ownedByReference`
// the record belongs to the records it names and goes when the last of them goes (a phone number of
// a contact), otherwise the references are just dropped (the members of a group).
struct MDSyncEntityRule {
  std::string name;
  std::string referenceField;  // "" when the entity refers to nothing
  bool ownedByReference = false;
  std::vector<std::string> keptWhenAbsent;  // fields an update without them leaves as they were
  // With `ownedByReference`: a record without the reference field at all stands on its own (a
  // top-level bookmark); one whose references all went goes.
  bool ownerlessAtTop = false;
};

struct MDSyncClassRules {
  std::string className;                   // "com.apple.Contacts"
  std::string storeFile;                   // "addressbook.plist"
  int changeBatchesBeforeWrites = 1;       // "no changes" batches that SDMessageGetChangesFromDevice gets
  std::vector<MDSyncEntityRule> entities;  // in the default listing order
  // A computer's key "<prefix><n>" names record n of this entity ("Group/12" is group 12).
  std::string keyPrefix;
  std::string keyPrefixEntity;

  const MDSyncEntityRule* Find(const std::string& entity) const;
};

// The classes besides contacts, each in its own md_service_mobilesync_<class>.cpp.
MDSyncClassRules MDMakeNotesSyncRules();
MDSyncClassRules MDMakeBookmarksSyncRules();
MDSyncClassRules MDMakeCalendarsSyncRules();

// The rules of a data class the device serves, or null.
const MDSyncClassRules* MDFindSyncClass(const std::string& className);

// sync.json of an image (all keys optional):
//   "batchRecords": n            records per SDMessageProcessChanges batch of a listing [100]
//   "entityOrder": {class: [entity, ...]}   listing order of the entities; entities left out are
//                                 listed after the named ones, in the class's default order
//   "refuseClasses": [class]     SDMessageSyncDataClassWithDevice is refused for these
//   "cancelOn": name             the device answers that computer message with SDMessageCancelSession
//   "dropAnswerTo": name         the device does not answer the first computer message of that name:
//   "dropMode": "close"|"silent" it hangs up (close, the default) or stays silent and reads on
//   "remapNothing": bool         SDMessageRemapRecordIdentifiers answers carry no ids [false]
//   "transcripts": bool          each connection writes transcripts/mobilesync-*.jsonl [true]
struct MDSyncSettings {
  size_t batchRecords = 100;
  std::map<std::string, std::vector<std::string>> entityOrder;
  std::set<std::string> refuseClasses;
  std::string cancelOn;
  std::string dropAnswerTo;
  bool dropSilently = false;
  bool remapNothing = false;
  bool transcripts = true;
};

constexpr size_t kMDMaxSyncBatchRecords = 100000;

// False for text that is not a JSON object or a key of the wrong type or range.
[[nodiscard]] bool MDParseSyncSettings(const std::string& json, MDSyncSettings* settings);
// The image's sync.json (defaults when there is none). 0, or EINVAL when it is malformed.
[[nodiscard]] int MDLoadSyncSettings(const std::string& imageFolder, MDSyncSettings* settings);

// The committed state of one class in one image, immutable and shared.
struct MDSyncSnapshot {
  std::shared_ptr<const void> root;   // keeps `records` alive
  CFDictionaryRef records = nullptr;  // {id: record}; never null in a loaded snapshot
  int64_t nextRecordId = 1;
};

// Loads the store file (cached per file version). A missing file is an empty store. 0 or an errno
// (EINVAL for a file that is not a store).
[[nodiscard]] int MDLoadSyncSnapshot(const std::string& imageFolder, const MDSyncClassRules& rules,
                                     MDSyncSnapshot* snapshot);

// Held by each open connection of the service: the parsed stores are kept between the sessions of
// open connections, and dropped when the last connection closes (a parsed book of 10,000 contacts
// holds about 90 MiB, and the simulated device lives inside its client's process).
class MDSyncStoreUse {
 public:
  MDSyncStoreUse();
  ~MDSyncStoreUse();
  MDSyncStoreUse(const MDSyncStoreUse&) = delete;
  MDSyncStoreUse& operator=(const MDSyncStoreUse&) = delete;
};

// The ids of a snapshot's records in listing order: by entity (the settings' order for the class,
// then the rest of the class's entities), within an entity numerically. Records of entities the
// class does not know are not listed.
std::vector<std::pair<std::string, CFTypeRef>> MDListSyncRecords(const MDSyncSnapshot& snapshot,
                                                                 const MDSyncClassRules& rules,
                                                                 const MDSyncSettings& settings);

// Ids compare numerically when both are numeric texts ("9" before "10"), else byte-wise.
bool MDSyncIdLess(const std::string& a, const std::string& b);

// The changes of one session: staged as the computer sends them, applied to the store file at the
// end of the session, dropped with the object otherwise.
class MDSyncStaging {
 public:
  MDSyncStaging(std::string imageFolder, const MDSyncClassRules& rules, MDSyncSnapshot snapshot);

  // Stages the records dictionary of a computer's SDMessageProcessChanges. Every record the device
  // keeps gets a device id, reported in `remap` (sent key, device id) in byte order of the keys: the
  // same id for a record the device has, a new one otherwise. Deletions (kMDSyncDeletionMark) get no
  // entry. References resolve against device ids, then against ids remapped earlier in the
  // session; those that resolve to nothing are dropped. 0 or an errno (the id counter not written).
  [[nodiscard]] int Stage(CFDictionaryRef changes, std::vector<std::pair<std::string, std::string>>* remap);

  // Applies everything staged to the store file, in the order staged. 0 or an errno; the file is
  // unchanged on failure. Staged changes are gone afterwards either way.
  [[nodiscard]] int Commit();

  size_t StagedCount() const { return m_operations.size(); }

 private:
  struct Operation {
    bool deletion = false;
    std::string id;
    MDCFPtr record;  // upserts: the record with its references resolved
  };
  // The entity of a record the session can see (committed or made by this session), or "".
  std::string EntityOf(const std::string& id) const;
  std::string ResolveReference(const std::string& id) const;

  const std::string m_folder;
  const MDSyncClassRules& m_rules;
  MDSyncSnapshot m_snapshot;
  std::map<std::string, std::string> m_newEntities;  // ids made by this session -> entity
  std::map<std::string, std::string> m_remapped;     // keys the computer sent -> device ids
  int64_t m_highestId = 0;                           // the highest id this session took
  std::vector<Operation> m_operations;
};
