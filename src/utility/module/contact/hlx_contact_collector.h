// What the contacts module reads out of the device's synchronisation messages: the records of a
// listing (contacts, groups and the sub-records that belong to contacts) and the id maps that
// answer its writes; and the JSON the desktop sees of them.
//
// The listing links sub-records to their contacts only after every batch is in, so a phone number
// whose id sorts before its contact's ("10" < "9") or that comes in an earlier batch than its
// contact is still listed with it. A record that comes twice is one record, the later one.
//
// Threads: one context per request, used by the request's worker only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "utility/hlx_sync_session.h"

namespace hlx {

class CIOSDictionary;

constexpr const char kContactEntity[] = "com.apple.contacts.Contact";
constexpr const char kGroupEntity[] = "com.apple.contacts.Group";
// The sub-record entities in the order of the writer's messages and of its reply.
constexpr int kSubRecordEntityCount = 7;
extern const char* const kSubRecordEntities[kSubRecordEntityCount];

// Record replies carry at most this many members.
constexpr size_t kContactReplyBatch = 100;

// The records of one listing.
class ContactRecordSet {
 public:
  ContactRecordSet() = default;
  // Records point into the set's own name table.
  ContactRecordSet(const ContactRecordSet&) = delete;
  ContactRecordSet& operator=(const ContactRecordSet&) = delete;

  // Takes the records of one device message (every record dictionary of every dictionary element).
  void Collect(const PlistVariant& message);

  size_t ContactCount() const { return m_contacts.size(); }
  size_t GroupCount() const { return m_groups.size(); }

  // The JSON texts of the record replies, handed to `emit` one at a time (a listing of thousands of
  // contacts is never held as text whole): objects of at most `perBatch` members named by record id,
  // in the order the records first came. Contacts carry their sub-records.
  using BatchSink = std::function<void(const std::string& json)>;
  void ContactBatches(size_t perBatch, const BatchSink& emit) const;
  void GroupBatches(size_t perBatch, const BatchSink& emit) const;

 private:
  // Keys and entity names repeat in every record: each is held once, in m_names, and records point
  // at it (a book of 10,000 contacts has about 300,000 fields).
  struct Field {
    const std::string* key;
    std::string value;
  };
  struct Contact {
    std::string id;
    std::vector<Field> fields;
  };
  struct Group {
    std::string id;
    std::vector<Field> fields;
    bool hasMembers = false;
    std::vector<std::string> members;
  };
  struct SubRecord {
    std::string id;
    const std::string* entity;
    std::vector<Field> fields;
    std::vector<std::string> owners;
  };

  // Record ids to their places in a record list, open-addressed over a flat array of (hash, place):
  // a listing adds tens of thousands of ids, and a hash node per id cost more than the rest of the
  // collecting. The ids themselves are the records'.
  class IdIndex {
   public:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    // Puts `record` in `records`: appended when its id is new, else in the place of the record
    // sent earlier under that id (a record sent twice: the later one counts).
    template <class Records>
    void Store(Records& records, typename Records::value_type record);
    // The place of `id`, or kNone.
    template <class Records>
    size_t Find(const std::string& id, const Records& records) const;

   private:
    struct Slot {
      size_t hash = 0;
      size_t place = kNone;  // kNone: an empty slot
    };
    // The slot that holds `id`, or the empty slot where it would go.
    template <class Records>
    size_t SlotOf(const std::string& id, size_t hash, const Records& records) const;
    void Grow();

    std::vector<Slot> m_slots;  // a power of two in size, at most half full
    size_t m_count = 0;
  };

  void CollectRecord(const std::string& id, const CIOSDictionary& record);
  const std::string* Name(const std::string& text) { return &*m_names.insert(text).first; }
  // The text and integer fields of a record in key order, as the desktop sees them; `skipped` is a
  // key that is not a field (the owners of a sub-record).
  std::vector<Field> FieldsOf(const CIOSDictionary& record, const char* skipped);

  std::unordered_set<std::string> m_names;  // node-based: the pointers to its texts stay valid

  // Deques: a listing of thousands of records grows them without moving what is in.
  std::deque<Contact> m_contacts;
  IdIndex m_contactIndex;
  std::deque<Group> m_groups;
  IdIndex m_groupIndex;
  std::deque<SubRecord> m_subRecords;  // arrival order
  IdIndex m_subRecordIndex;
};

// What the next answer of a contact request is for.
enum class ContactStep {
  kListing,        // a listing's batch: the first, or an acknowledgement's
  kIdMap,          // the id map of a write, into remaps[idMap] (0 contacts, then kSubRecordEntities)
  kIgnored,        // an answer taken and not looked at
  kDeviceIdOfKey,  // the device id of `recordKey`
};

// What one contact request reads from the device's answers.
struct ContactSyncContext {
  ContactStep step = ContactStep::kListing;
  size_t idMap = 0;
  ContactRecordSet records;
  std::map<std::string, std::string> remaps[1 + kSubRecordEntityCount];  // old id -> device id
  std::string recordKey;
  std::string deviceId;
};

// Reads one answer by the context's step.
void ReadContactAnswer(ContactSyncContext& context, const SyncMessage& message);
// The session's reader for the context's answers.
SyncMessageReader ContactAnswerReader(ContactSyncContext& context);

// A record field's text as the desktop sees it: a UTC time "YYYY-MM-DDThh:mm:ssZ" becomes local
// time "YYYY-MM-DD hh:mm:ss"; any other text stays as it is.
std::string ContactFieldText(const std::string& text);

}  // namespace hlx
