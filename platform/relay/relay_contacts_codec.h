#pragma once
// The relay module's translation between the device service's contact texts and the contacts page's
// records: the listing's JSON objects become iOSContact and iOSContactGroup records, and a saved record
// becomes the data part of the service's contact write (one XML property-list message per entity, in
// a JSON object), the group writes and deletions. Texts only: no sockets, no windows, no state, so that
// it builds and is tested natively as well as in the 32-bit desktop tree. Any thread.
//
// Field names of the device's records: a contact ("com.apple.contacts.Contact") carries "first name",
// "middle name", "last name", "first name yomi", "middle name yomi", "last name yomi", "title" (the
// prefix), "suffix", "nickname", "company name", "department", "job title", "birthday", "notes" and
// "display as company" ("person" or "company"); its labelled values are sub-records of their own entity
// with "value", "type" (the label key), an optional "label" (the user's own label text) and "contact"
// (the owners' ids); an address has "street", "city", "state", "postal code", "country" and "country
// code" instead of "value"; an IM entry "user" and "service". The listing hands each sub-record to the
// relay inside its contact, under the entity's name, with its "id".

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"

namespace relay {

// A "YYYY-MM-DD hh:mm:ss" local time (as the service lists dates and the editor writes them) as the
// "YYYY-MM-DDThh:mm:ssZ" UTC text of a property-list date; empty when the text is not such a time.
std::string LocalTextToUtcText(const std::string& local);

// A fresh temporary record id for a record the device does not know yet: 32 random hexadecimal digits
// grouped 8-4-4-4-12 in capitals ("0F3A...-....").
std::string NewTemporaryId();

// The non-zero `flag` of every labelled value read from the device (the editor marks a removed one 1).
constexpr int32_t kListedPropertyFlag = 2;

// A listed record's fields that the page's records have no place for, as (key, text) in listing order:
// a contact's picture ("image", base64 text) and whatever else the device keeps with a contact or a
// labelled value. A write sends them back unchanged. By record id (contacts and labelled values share
// one id space).
using OtherFields = std::vector<std::pair<std::string, std::string>>;
using ListedFields = std::map<std::wstring, OtherFields>;

// Appends the contacts of one record reply of the listing ({id: contact object}); a property's
// `reserved` holds its sub-record id, its `kind` the entity name, its `flag` kListedPropertyFlag; the
// label key and text are the record's "type" and "label" as they are (empty when absent), and so is the
// contact's record kind ("display as company"). With `otherFields`, the other fields of each contact
// and labelled value are filed there. False, with nothing appended, when the text is not a JSON object
// of objects.
[[nodiscard]] bool ReadContactBatch(const std::string& json, std::vector<std::shared_ptr<iOSContact>>& contacts,
                                    ListedFields* otherFields = nullptr);
// Appends the groups of one record reply ({id: {"name", "members"}}). False as above.
[[nodiscard]] bool ReadGroupBatch(const std::string& json, std::vector<std::shared_ptr<iOSContactGroup>>& groups);

// One contact write (request 102).
struct ContactWrite {
    std::string dataJson;    // the request's data part before compression
    std::string contactKey;  // the contact's id in the messages: its identifier, or a new temporary id
    // The labelled values that the device does not know yet, by their temporary ids: the device's ids
    // are written into their `reserved` by ApplyContactRemap.
    std::map<std::string, std::shared_ptr<iOSContactProperty>> newProperties;
    // The labelled values whose label went out in the device's form rather than as they hold it:
    // ApplyContactRemap gives them the label the device now has.
    std::vector<std::shared_ptr<iOSContactProperty>> relabelled;
};

// The contacts each listed labelled value belongs to, by sub-record id: the ids of every contact of the
// book whose record lists it, in the book's order (a home number two contacts share has two).
using SharedValues = std::map<std::wstring, std::vector<std::string>>;
SharedValues SharedValuesOf(const std::vector<std::shared_ptr<iOSContact>>& book);

// The write for `saved` (a new record when its identifier is empty). `held` is the record as the device
// listed it (null for a new one): its labelled values that `saved` no longer has (by `reserved` id) are
// deleted, or only let go of when `shared` names other owners. A listed value keeps the owners `shared`
// names; a new one belongs to the contact alone, and so does a shared value the user changed (written
// as a new value, the shared one let go of and left to the others as it was). Whatever the user left
// as it was goes back as the device listed it: the contact's texts (its "display as company" too,
// absent when it was absent), the `otherFields` of the contact and its values ("image" as data, a
// decimal number as an integer, a local time text as a date, any other as a string: the types the
// listing's texts came from) and a value's label in the device's own "type" and "label" strings, custom
// ones included; a label the user chose anew is written as its key, with the text only when it is the
// user's own.
ContactWrite ComposeContactWrite(const iOSContact& saved, const iOSContact* held,
                                 const std::function<std::string()>& newTemporaryId = NewTemporaryId,
                                 const SharedValues& shared = SharedValues(),
                                 const ListedFields& otherFields = ListedFields());

// Reads the write's reply data ({"com.apple.contacts.Contact": {old: new}, entity: {old: new} ...}):
// sets the contact's identifier, the new labelled values' `reserved` ids and the relabelled values'
// label key and text as written (so that a later edit finds them as a listing would). False when the
// reply names no device id for the contact.
[[nodiscard]] bool ApplyContactRemap(const std::string& replyJson, const ContactWrite& write, iOSContact& saved);

// The data parts of the deletions (103, 105: {"id"}) and group writes: 104 {"id": key, "name"}; 106
// {"guid": key, "id": key, "name", "members"}.
std::string ComposeDeleteData(const std::wstring& identifier);
std::string ComposeGroupData(const iOSContactGroup& group, const std::string& key, bool withMembers);
// The device's id for `key` in a group write's reply ({key: [device id, name]}); empty when missing.
std::string ReadGroupReply(const std::string& replyJson, const std::string& key);

}  // namespace relay
