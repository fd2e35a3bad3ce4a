#pragma once
// The contact records as the contacts page reads and writes them and as the relay module builds them:
// iOSContact with its labelled values (iOSContactProperty, iOSContactAddress, iOSContactIM) and the group
// record iOSContactGroup. Records cross library boundaries inside batches and single-record payloads; every
// GUI deliverable is built with the same compiler and runtime, so the types and the heap are the same on
// both sides, and a shared pointer made in one library is released safely in another (its deleter lives in
// the library that made it, which stays loaded for the life of the process). All texts are UTF-16.
//
// No threads of their own: a record belongs to whoever holds it last (the page on its UI thread, or the
// relay module while it answers). Copying follows the page's rules, written down at each type.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One labelled value of a contact (a phone, an e-mail address, a URL, a date, a related name).
class iOSContactProperty {
public:
    std::wstring kind;       // the property kind key, "com.apple.contacts.Phone Number" ...
    std::wstring reserved;   // carried unchanged for the service side; never shown or edited
    std::wstring labelKey;   // the device's label key: "home", "mobile", "other" ...
    std::wstring value;      // the number, address, URL, date text or name
    std::wstring labelText;  // the label as shown: a display text of the label list or the user's own text
    int32_t flag = 0;        // 0 in a record made by the editor; the editor sets a non-zero flag to 1 on removal
};

// A postal address: the labelled value's fields, then the address texts.
class iOSContactAddress : public iOSContactProperty {
public:
    std::wstring street;
    std::wstring city;
    std::wstring state;
    std::wstring postalCode;
    std::wstring country;      // display text
    std::wstring countryCode;  // key
};

// An instant-messaging entry: the label key is "other" and the label text holds the service's display text.
class iOSContactIM : public iOSContactProperty {
public:
    std::wstring service;  // "aim", "msn", ... or "other"
    std::wstring userName;
};

class iOSContact {
public:
    iOSContact() = default;
    // The page's copy: the texts, the seven property lists (the copy shares the property records with the
    // source) and the edit state. The group lists and the extra values start empty.
    iOSContact(const iOSContact& other)
        : identifier(other.identifier),
          firstName(other.firstName),
          middleName(other.middleName),
          lastName(other.lastName),
          phoneticFirstName(other.phoneticFirstName),
          phoneticMiddleName(other.phoneticMiddleName),
          phoneticLastName(other.phoneticLastName),
          nickname(other.nickname),
          prefix(other.prefix),
          suffix(other.suffix),
          company(other.company),
          department(other.department),
          jobTitle(other.jobTitle),
          birthday(other.birthday),
          note(other.note),
          recordKind(other.recordKind),
          phones(other.phones),
          emails(other.emails),
          instantMessaging(other.instantMessaging),
          addresses(other.addresses),
          urls(other.urls),
          dates(other.dates),
          relatedNames(other.relatedNames),
          editState(other.editState) {}
    iOSContact& operator=(const iOSContact&) = delete;

    std::wstring identifier;  // set by the service side; empty in a record made by the editor
    std::wstring firstName;
    std::wstring middleName;
    std::wstring lastName;
    std::wstring phoneticFirstName;
    std::wstring phoneticMiddleName;
    std::wstring phoneticLastName;
    std::wstring nickname;
    std::wstring prefix;
    std::wstring suffix;
    std::wstring company;
    std::wstring department;
    std::wstring jobTitle;
    std::wstring birthday;  // date text; the editor writes "YYYY-MM-DD 00:00:00"
    std::wstring note;
    std::wstring recordKind;  // "person" in a record made by the editor
    std::vector<std::shared_ptr<iOSContactProperty>> phones;
    std::vector<std::shared_ptr<iOSContactProperty>> emails;
    std::vector<std::shared_ptr<iOSContactIM>> instantMessaging;
    std::vector<std::shared_ptr<iOSContactAddress>> addresses;
    std::vector<std::shared_ptr<iOSContactProperty>> urls;
    std::vector<std::shared_ptr<iOSContactProperty>> dates;  // values "YYYY-MM-DD 00:00:00"
    std::vector<std::shared_ptr<iOSContactProperty>> relatedNames;
    int32_t editState = 0;  // 0 in a new record; 2 in the page's copy of an existing contact for the editor
    std::vector<std::wstring> groupsBefore;   // group identifiers before editing
    std::vector<std::wstring> groupsAfter;    // group identifiers after editing
    std::vector<std::wstring> groupsRemoved;  // computed by the editor on save
    std::vector<std::wstring> groupsAdded;    // computed by the editor on save
    std::vector<int64_t> extraValues;         // the service side's; never read, written or copied by the page
};

class iOSContactGroup {
public:
    std::wstring identifier;  // empty in a group the user has just named
    std::wstring name;
    std::vector<std::wstring> members;  // contact identifiers, in member order
    std::string guidText;               // "%08X-%04X-%04x-..." text of a new group; narrow
};

// Property kind keys: the first field of every property record and of every editor row.
#define CONTACT_KIND_PHONE L"com.apple.contacts.Phone Number"
#define CONTACT_KIND_EMAIL L"com.apple.contacts.Email Address"
#define CONTACT_KIND_IM L"com.apple.contacts.IM"
#define CONTACT_KIND_ADDRESS L"com.apple.contacts.Street Address"
#define CONTACT_KIND_URL L"com.apple.contacts.URL"
#define CONTACT_KIND_DATE L"com.apple.contacts.Date"
#define CONTACT_KIND_RELATED_NAME L"com.apple.contacts.Related Name"
