#pragma once
// The contact editor's rules without its windows: the row kinds of the property view (captions, id ranges,
// record kinds, the "Add Field" menu), the rows a contact opens with, what a row shows when it is made,
// which rows a save accepts and the contact that a save hands to the host. The property view and the
// editor apply them to their controls. Compiled into the plug-in and the native tests; no windows.h. Pure
// functions; any thread.

#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"
#include "contact_rules.h"

namespace ardena {

// Row kinds: a group caption has the odd kind before its rows' even kind.
enum class RowKind : int {
    kPhoneticFirst = 2,
    kPhoneticMiddle = 4,
    kPhoneticLast = 6,
    kBirthday = 8,
    kDate = 10,
    kRelatedName = 12,
    kPhone = 14,
    kEmail = 16,
    kIM = 18,
    kAddress = 20,
    kNote = 22,
    kNickname = 24,
    kOrganization = 26,
    kUrl = 28,
};

// What the rows of a kind are made of.
enum class RowShape : int {
    kSingleEdit,    // one edit, 446 wide
    kDateEdit,      // one edit with the date hint, 446 wide (Birthday)
    kLabelledDate,  // label combo + edit with the date hint
    kLabelled,      // label combo + edit 340
    kIM,            // service combo + user-name edit 340
    kAddress,       // label combo; street, city, state, postal code; country combo
    kNote,          // multi-line edit 446 x 72
    kOrganization,  // job title, department, company
};

struct RowKindInfo {
    RowKind kind;
    const wchar_t* caption;
    int firstId;  // the caption's control id; rows take the following ids up to lastId
    int lastId;
    const wchar_t* recordKind;
    RowShape shape;
    int addFieldId;  // the "Add Field" menu id, 0 when the kind is not offered there
};

// The fourteen kinds in layout order (their id ranges ascend).
const std::vector<RowKindInfo>& RowKinds();
const RowKindInfo* FindRowKind(RowKind kind);
const RowKindInfo* FindRowKindByRecordKind(const std::wstring& recordKind);
const RowKindInfo* FindRowKindByAddFieldId(int menuId);
// The kind whose caption or rows own `controlId`, or null.
const RowKindInfo* FindRowKindById(int controlId);
// Kinds with more than one row allowed (their caption's add button adds a row).
bool IsMultiValued(RowKind kind);

// The "Add Field" menu, in id order: (menu id, text, record kind).
struct AddFieldEntry {
    int id;
    const wchar_t* text;
    const wchar_t* recordKind;
};
const std::vector<AddFieldEntry>& AddFieldTable();

// Hints of the edits: the address and organisation edits show their names; dates show an example.
extern const wchar_t* const kStreetHint;
extern const wchar_t* const kCityHint;
extern const wchar_t* const kStateHint;
extern const wchar_t* const kPostalCodeHint;
extern const wchar_t* const kJobTitleHint;
extern const wchar_t* const kDepartmentHint;
extern const wchar_t* const kCompanyHint;
// "YYYY-MM-DD e.g. " + year + "-01-01".
std::wstring DateHint(const std::wstring& year);

// A row to make: its kind and the record it edits (the row's own copy; address rows hold an
// iOSContactAddress, IM rows an iOSContactIM).
struct RowSeed {
    RowKind kind;
    std::shared_ptr<iOSContactProperty> record;
};

// A new empty record for a row of `kind` (its kind key set).
std::shared_ptr<iOSContactProperty> NewRowRecord(RowKind kind);

// The rows the property view opens with. A new contact: one empty phone, e-mail and address row. An existing
// one: a row over a copy of every phone, e-mail, URL, date, related name, IM entry and address, in that order
// (the contact's seven lists are then emptied: the rows own the values), then, each only when non-empty,
// Organization, Nickname, Birthday, the phonetic names and Note; one empty phone row when it had no phone.
std::vector<RowSeed> SeedRows(iOSContact& contact, bool isNewContact);

// What a row's controls show when it is made.
struct RowContent {
    int labelIndex = -1;              // selected entry of the label (or service) combo, -1 none
    std::wstring labelText;           // the combo's text after the selection (empty: the selection's text)
    std::vector<std::wstring> texts;  // the edits, in control order
    int countryIndex = -1;            // address rows: the selected country
};
RowContent InitialContent(const RowSeed& seed, const ContactLabelTable& labels);

// What a row's controls hold when the user saves.
struct RowInput {
    int labelIndex = -1;
    std::wstring labelText;           // the combo's text
    std::vector<std::wstring> texts;  // the edits, in control order
    int countryIndex = -1;
};

// A row read back: accepted rows carry a new record with the row's values; for a single-valued kind that
// is not accepted, the contact's field is cleared on save.
struct CollectedRow {
    RowKind kind;
    bool accepted = false;
    std::shared_ptr<iOSContactProperty> record;
};
// `shown`: what the row's controls held right after it was made (null: everything counts as typed). A
// text the user left as it was is saved as the record has it, not as the control gives it back (a date
// keeps its time of day, a text keeps what a one-line edit cannot show); a label, service or country left
// as it was on a value read from the device (non-zero flag) keeps the device's own strings, also where
// the label list knows no such key.
CollectedRow CollectRow(const RowSeed& seed, const RowInput& input, const ContactLabelTable& labels,
                        const RowInput* shown = nullptr);
// What a row's controls hold when they show `content` as they were given it.
RowInput ShownInput(const RowContent& content);
// A name edit's text as saved: the contact's own text while the edit shows what it was given.
std::wstring KeptOrTyped(const std::wstring& own, const std::wstring& shown, const std::wstring& typed);

// The record a save hands to the host: a fresh copy of the editor's working record (whose property lists
// the rows emptied) with the five name parts, the group lists sorted and their differences computed, and the
// accepted rows written in row order. Single-valued kinds whose row was not accepted clear their field, and
// an Organization row always writes all three of job title, department and company. The working record is
// never changed, so a save can be repeated and each save carries each row once.
struct NameParts {
    std::wstring prefix, first, middle, last, suffix;
};
std::unique_ptr<iOSContact> BuildSavedContact(const iOSContact& working, const NameParts& names,
                                              const std::vector<CollectedRow>& rows);

}  // namespace ardena
