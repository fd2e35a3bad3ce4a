// Records of the contact requests (see hlx_contact_collector.h).
#include "utility/module/contact/hlx_contact_collector.h"

#include <algorithm>
#include <cstdlib>

#include "utility/hlx_json.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_sync_session.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z", the whole text.
bool IsUtcDateText(const std::string& text) {
  static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof(kShape) - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == 'd' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
  }
  return true;
}

// The string elements of an array value.
std::vector<std::string> TextsOf(const PlistVariant& value) {
  std::vector<std::string> texts;
  if (const PlistVariant::Array* array = value.GetArray()) {
    for (const PlistVariant& element : *array) {
      if (const std::string* text = element.GetString()) texts.push_back(*text);
    }
  }
  return texts;
}

// Index of the entity in `entities`, added at the end when new. Entity names are interned, so the
// pointers compare as the texts do.
size_t EntitySlot(std::vector<const std::string*>* entities, const std::string* entity) {
  auto it = std::find(entities->begin(), entities->end(), entity);
  if (it != entities->end()) return static_cast<size_t>(it - entities->begin());
  entities->push_back(entity);
  return entities->size() - 1;
}

// Writes each field as a text member of the object being written.
template <class Fields>
void WriteFields(JsonTextWriter& json, const Fields& fields) {
  for (const auto& field : fields) {
    json.Key(*field.key);
    json.String(field.value);
  }
}

// Hands `emit` the records [0, count) as JSON objects of at most `perBatch` members (at least one),
// each member written by write(json, index).
template <class WriteMember>
void EmitBatches(size_t count, size_t perBatch, const ContactRecordSet::BatchSink& emit, const WriteMember& write) {
  perBatch = std::max<size_t>(perBatch, 1);
  for (size_t first = 0; first < count; first += perBatch) {
    JsonTextWriter json;
    json->StartObject();
    for (size_t index = first; index < std::min(count, first + perBatch); ++index) write(json, index);
    json->EndObject();
    emit(json.Text());
  }
}

}  // namespace

const char* const kSubRecordEntities[kSubRecordEntityCount] = {
    "com.apple.contacts.Phone Number", "com.apple.contacts.Email Address", "com.apple.contacts.Street Address",
    "com.apple.contacts.URL",          "com.apple.contacts.Related Name",  "com.apple.contacts.IM",
    "com.apple.contacts.Date"};

std::string ContactFieldText(const std::string& text) {
  if (!IsUtcDateText(text)) return text;
  // Birthdays before 1970 are converted too (UtcTextToLocalText would give "" for them); a moment
  // no conversion reaches keeps its text rather than becoming "".
  std::string local = UtcTextToLocalDateText(text);
  return local.empty() ? text : local;
}

template <class Records>
size_t ContactRecordSet::IdIndex::SlotOf(const std::string& id, size_t hash, const Records& records) const {
  const size_t mask = m_slots.size() - 1;
  size_t slot = hash & mask;  // std::hash of a string mixes every byte into the low bits too
  while (m_slots[slot].place != kNone && (m_slots[slot].hash != hash || records[m_slots[slot].place].id != id)) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

void ContactRecordSet::IdIndex::Grow() {
  std::vector<Slot> old(std::max<size_t>(64, m_slots.size() * 2));
  old.swap(m_slots);
  const size_t mask = m_slots.size() - 1;
  for (const Slot& entry : old) {
    if (entry.place == kNone) continue;
    size_t slot = entry.hash & mask;
    while (m_slots[slot].place != kNone) slot = (slot + 1) & mask;
    m_slots[slot] = entry;
  }
}

template <class Records>
void ContactRecordSet::IdIndex::Store(Records& records, typename Records::value_type record) {
  if ((m_count + 1) * 2 > m_slots.size()) Grow();
  const size_t hash = std::hash<std::string>()(record.id);
  Slot& slot = m_slots[SlotOf(record.id, hash, records)];
  if (slot.place != kNone) {
    records[slot.place] = std::move(record);
    return;
  }
  slot = Slot{hash, records.size()};
  ++m_count;
  records.push_back(std::move(record));
}

template <class Records>
size_t ContactRecordSet::IdIndex::Find(const std::string& id, const Records& records) const {
  if (m_slots.empty()) return kNone;
  return m_slots[SlotOf(id, std::hash<std::string>()(id), records)].place;
}

std::vector<ContactRecordSet::Field> ContactRecordSet::FieldsOf(const CIOSDictionary& record, const char* skipped) {
  std::vector<Field> fields;
  fields.reserve(record.size());
  for (const auto& [key, value] : record.entries()) {
    if (skipped != nullptr && key == skipped) continue;
    if (const std::string* text = value.GetString()) {
      fields.push_back(Field{Name(key), ContactFieldText(*text)});
    } else if (const int64_t* number = value.GetInt64()) {
      fields.push_back(Field{Name(key), std::to_string(*number)});
    }
  }
  return fields;
}

void ContactRecordSet::Collect(const PlistVariant& message) {
  const PlistVariant::Array* document = message.GetArray();
  if (document == nullptr || document->empty()) return;
  const PlistVariant::Array* elements = (*document)[0].GetArray();
  if (elements == nullptr) return;
  for (const PlistVariant& element : *elements) {
    const CIOSDictionary* dictionary = element.GetDictionary();
    if (dictionary == nullptr) continue;
    for (const auto& [id, value] : dictionary->entries()) {
      if (const CIOSDictionary* record = value.GetDictionary()) CollectRecord(id, *record);
    }
  }
}

void ContactRecordSet::CollectRecord(const std::string& id, const CIOSDictionary& record) {
  const PlistVariant* entityValue = record.Find(kSyncRecordEntityKey);
  const std::string* entity = entityValue != nullptr ? entityValue->GetString() : nullptr;
  if (entity == nullptr) return;
  if (*entity == kContactEntity) {
    m_contactIndex.Store(m_contacts, Contact{id, FieldsOf(record, nullptr)});
    return;
  }
  if (*entity == kGroupEntity) {
    Group group;
    group.id = id;
    // Group texts are taken unchanged (no date conversion); every array field adds its texts to the
    // one "members" member, so the object never holds a member name twice.
    for (const auto& [key, value] : record.entries()) {
      if (const std::string* text = value.GetString()) {
        group.fields.push_back(Field{Name(key), *text});
      } else if (value.GetArray() != nullptr) {
        group.hasMembers = true;
        for (std::string& member : TextsOf(value)) group.members.push_back(std::move(member));
      }
    }
    m_groupIndex.Store(m_groups, std::move(group));
    return;
  }
  // Any other entity is a sub-record of the contacts named in its "contact" array; without one (or
  // when it is no array) it belongs to nobody and is not listed.
  const PlistVariant* owners = record.Find("contact");
  if (owners == nullptr || owners->GetArray() == nullptr) return;
  m_subRecordIndex.Store(m_subRecords, SubRecord{id, Name(*entity), FieldsOf(record, "contact"), TextsOf(*owners)});
}

void ContactRecordSet::ContactBatches(size_t perBatch, const BatchSink& emit) const {
  // Links, made now that every batch is in: per contact, the sub-records of each entity in arrival
  // order, the entities in the order their first sub-record of this contact came.
  struct Links {
    std::vector<const std::string*> entities;
    std::vector<std::vector<size_t>> records;  // per entity slot
  };
  std::vector<Links> links(m_contacts.size());
  for (size_t s = 0; s < m_subRecords.size(); ++s) {
    const SubRecord& sub = m_subRecords[s];
    std::vector<size_t> seen;
    for (const std::string& owner : sub.owners) {
      const size_t found = m_contactIndex.Find(owner, m_contacts);
      if (found == IdIndex::kNone) continue;                                   // a contact the device did not send
      if (std::find(seen.begin(), seen.end(), found) != seen.end()) continue;  // named twice
      seen.push_back(found);
      Links& contactLinks = links[found];
      const size_t slot = EntitySlot(&contactLinks.entities, sub.entity);
      if (contactLinks.records.size() <= slot) contactLinks.records.resize(slot + 1);
      contactLinks.records[slot].push_back(s);
    }
  }

  EmitBatches(m_contacts.size(), perBatch, emit, [&](JsonTextWriter& json, size_t c) {
    const Contact& contact = m_contacts[c];
    json.Key(contact.id);
    json->StartObject();
    WriteFields(json, contact.fields);
    for (size_t slot = 0; slot < links[c].entities.size(); ++slot) {
      json.Key(*links[c].entities[slot]);
      json->StartArray();
      for (size_t s : links[c].records[slot]) {
        const SubRecord& sub = m_subRecords[s];
        json->StartObject();
        json.Key("id");
        json.String(sub.id);
        WriteFields(json, sub.fields);
        json->EndObject();
      }
      json->EndArray();
    }
    json->EndObject();
  });
}

void ContactRecordSet::GroupBatches(size_t perBatch, const BatchSink& emit) const {
  EmitBatches(m_groups.size(), perBatch, emit, [&](JsonTextWriter& json, size_t g) {
    const Group& group = m_groups[g];
    json.Key(group.id);
    json->StartObject();
    WriteFields(json, group.fields);
    if (group.hasMembers) {
      json.Key("members");
      json->StartArray();
      for (const std::string& member : group.members) json.String(member);
      json->EndArray();
    }
    json->EndObject();
  });
}

void ReadContactAnswer(ContactSyncContext& context, const SyncMessage& message) {
  switch (context.step) {
    case ContactStep::kListing:
      if (message.answer.anotherBatch) context.records.Collect(message.parsed);
      break;
    case ContactStep::kIdMap: {
      if (context.idMap > static_cast<size_t>(kSubRecordEntityCount)) break;
      std::map<std::string, std::string>& remap = context.remaps[context.idMap];
      for (const PlistVariant& element : message.elements) {
        const CIOSDictionary* dictionary = element.GetDictionary();
        if (dictionary == nullptr) continue;
        for (const auto& [oldId, value] : dictionary->entries()) {
          if (const std::string* deviceId = value.GetString()) remap[oldId] = *deviceId;
        }
      }
      break;
    }
    case ContactStep::kDeviceIdOfKey:
      for (const PlistVariant& element : message.elements) {
        const CIOSDictionary* dictionary = element.GetDictionary();
        const PlistVariant* value = dictionary != nullptr ? dictionary->Find(context.recordKey) : nullptr;
        if (value != nullptr && value->GetString() != nullptr) context.deviceId = *value->GetString();
      }
      break;
    case ContactStep::kIgnored: break;
  }
}

SyncMessageReader ContactAnswerReader(ContactSyncContext& context) {
  return [&context](const SyncMessage& message) { ReadContactAnswer(context, message); };
}

}  // namespace hlx
