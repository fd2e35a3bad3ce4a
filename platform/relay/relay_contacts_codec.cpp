// Contact texts between the device service and the contacts page; see relay_contacts_codec.h.
#include "relay_contacts_codec.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <random>
#include <set>
#include <type_traits>
#include <utility>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr char kEntityNameKey[] = "com.apple.syncservices.RecordEntityName";
constexpr char kContactEntity[] = "com.apple.contacts.Contact";
constexpr char kGroupEntity[] = "com.apple.contacts.Group";
constexpr char kDeletedRecord[] = "___EmptyParameterString___";

enum class ValueShape { kValue, kDate, kAddress, kIM };

using PropertyList = std::vector<std::shared_ptr<iOSContactProperty>>;

struct SubEntity {
    const char* name;
    ValueShape shape;
    PropertyList iOSContact::*list;  // null for addresses and IM entries, which have lists of their own type
};

// In the order of the write's messages.
const SubEntity kSubEntities[] = {
    {"com.apple.contacts.Phone Number", ValueShape::kValue, &iOSContact::phones},
    {"com.apple.contacts.Email Address", ValueShape::kValue, &iOSContact::emails},
    {"com.apple.contacts.Street Address", ValueShape::kAddress, nullptr},
    {"com.apple.contacts.URL", ValueShape::kValue, &iOSContact::urls},
    {"com.apple.contacts.Related Name", ValueShape::kValue, &iOSContact::relatedNames},
    {"com.apple.contacts.IM", ValueShape::kIM, nullptr},
    {"com.apple.contacts.Date", ValueShape::kDate, &iOSContact::dates},
};

struct TextField {
    const char* name;
    std::wstring iOSContact::*member;
};

// The contact's plain text fields, in the order they are written.
const TextField kContactFields[] = {
    {"first name", &iOSContact::firstName},
    {"middle name", &iOSContact::middleName},
    {"last name", &iOSContact::lastName},
    {"first name yomi", &iOSContact::phoneticFirstName},
    {"middle name yomi", &iOSContact::phoneticMiddleName},
    {"last name yomi", &iOSContact::phoneticLastName},
    {"title", &iOSContact::prefix},
    {"suffix", &iOSContact::suffix},
    {"nickname", &iOSContact::nickname},
    {"company name", &iOSContact::company},
    {"department", &iOSContact::department},
    {"job title", &iOSContact::jobTitle},
};

// --- Texts ----------------------------------------------------------------------------------------------

bool IsXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// `text` as XML character data: markup characters escaped, characters XML cannot carry left out.
void AppendXmlText(std::string& out, const std::wstring& text) {
    vnl::ForEachCodePoint(text, [&out](char32_t c) {
        switch (c) {
        case '&': out += "&amp;"; return;
        case '<': out += "&lt;"; return;
        case '>': out += "&gt;"; return;
        default: break;
        }
        if (IsXmlCharacter(c)) vnl::AppendUtf8(out, c);
    });
}

void AppendXmlText(std::string& out, const std::string& utf8) { AppendXmlText(out, vnl::WideFromUtf8(utf8)); }

std::wstring WideOf(const rapidjson::Value& value) {
    return vnl::WideFromUtf8(std::string(value.GetString(), value.GetStringLength()));
}

// --- Dates ----------------------------------------------------------------------------------------------

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

struct CivilTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

bool ReadDigits(const std::string& text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD hh:mm:ss" with every field in range.
bool ParseLocalText(const std::string& text, CivilTime& time) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return false;
    }
    if (!ReadDigits(text, 0, 4, time.year) || !ReadDigits(text, 5, 2, time.month) ||
        !ReadDigits(text, 8, 2, time.day) || !ReadDigits(text, 11, 2, time.hour) ||
        !ReadDigits(text, 14, 2, time.minute) || !ReadDigits(text, 17, 2, time.second)) {
        return false;
    }
    return time.year >= 1 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
           time.day <= DaysInMonth(time.year, time.month) && time.hour <= 23 && time.minute <= 59 && time.second <= 59;
}

// Seconds since 1970 of `time` read as if it were UTC.
int64_t SecondsAsIfUtc(const CivilTime& time) {
    return DaysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

bool LocalToSeconds(const CivilTime& time, int64_t& seconds) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    fields.tm_isdst = -1;
    // -1 is also the failure, and the desktop tree's C library fills in `fields` even then: a true
    // 1969-12-31 23:59:59 UTC is taken through the stand-in year like any other refused time.
    const std::time_t result = std::mktime(&fields);
    if (result == static_cast<std::time_t>(-1)) return false;
    seconds = static_cast<int64_t>(result);
    return true;
}

// Local zone offset (local minus UTC, in seconds) at the local time `time`.
bool LocalOffsetAt(CivilTime time, int64_t& offset) {
    int64_t seconds = 0;
    if (!LocalToSeconds(time, seconds)) {
        // The desktop tree's C library knows no time before 1970 (nor after 3000, or 2038 with a 32-bit
        // time_t): the same day of a year with the same calendar, 28 years on or back, stands in.
        if (time.year < 1971) {
            time.year += 28 * ((1971 - time.year + 27) / 28);
        } else {
            time.year -= 28 * ((time.year - 2037 + 27) / 28);
        }
        if (!LocalToSeconds(time, seconds)) return false;
    }
    offset = SecondsAsIfUtc(time) - seconds;
    return true;
}

void AppendNumber(std::string& out, int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (digits.size() < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - digits.size(), '0');
    out += digits;
}

// --- Listing --------------------------------------------------------------------------------------------

bool ParseJson(const std::string& text, rapidjson::Document& document) {
    // Iterative: a deeply nested text from a confused peer must not exhaust the stack.
    document.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
    return !document.HasParseError();
}

const rapidjson::Value* FindMember(const rapidjson::Value& object, const char* name, size_t length) {
    if (!object.IsObject()) return nullptr;
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
        if (it->name.GetStringLength() == length && std::memcmp(it->name.GetString(), name, length) == 0) {
            return &it->value;
        }
    }
    return nullptr;
}

const rapidjson::Value* FindMember(const rapidjson::Value& object, const char* name) {
    return FindMember(object, name, std::strlen(name));
}

const rapidjson::Value* FindMember(const rapidjson::Value& object, const std::string& name) {
    return FindMember(object, name.data(), name.size());
}

// Sets `target` from the string member `name`; anything but a string leaves it as it is.
void ReadText(const rapidjson::Value& object, const char* name, std::wstring& target) {
    const rapidjson::Value* value = FindMember(object, name);
    if (value != nullptr && value->IsString()) target = WideOf(*value);
}

bool IsObjectOfObjects(const rapidjson::Value& root) {
    if (!root.IsObject()) return false;
    for (auto it = root.MemberBegin(); it != root.MemberEnd(); ++it) {
        if (!it->value.IsObject()) return false;
    }
    return true;
}

void ReadLabelled(const rapidjson::Value& record, const char* entity, iOSContactProperty& property) {
    property.kind = vnl::WideFromUtf8(entity);
    ReadText(record, "id", property.reserved);
    ReadText(record, "type", property.labelKey);
    ReadText(record, "label", property.labelText);
    property.flag = kListedPropertyFlag;
}

// Whether a labelled value of `shape` keeps the field `key` in its record (or the key is its id).
bool IsValueField(ValueShape shape, const std::string& key) {
    static const std::set<std::string> kCommon = {"id", kEntityNameKey, "type", "label"};
    static const std::set<std::string> kAddressFields = {"street",  "city",         "state",
                                                         "postal code", "country", "country code"};
    if (kCommon.count(key) != 0) return true;
    switch (shape) {
    case ValueShape::kAddress: return kAddressFields.count(key) != 0;
    case ValueShape::kIM: return key == "user" || key == "service";
    default: return key == "value";
    }
}

// The text members of `record` that `isKnown` does not take, filed under `id` when there are any.
template <typename IsKnown>
void FileOtherFields(const rapidjson::Value& record, const std::wstring& id, const IsKnown& isKnown,
                     ListedFields* otherFields) {
    if (otherFields == nullptr || id.empty()) return;
    OtherFields fields;
    for (auto field = record.MemberBegin(); field != record.MemberEnd(); ++field) {
        std::string key(field->name.GetString(), field->name.GetStringLength());
        if (field->value.IsString() && !isKnown(key)) {
            fields.emplace_back(std::move(key), std::string(field->value.GetString(), field->value.GetStringLength()));
        }
    }
    if (!fields.empty()) (*otherFields)[id] = std::move(fields);
}

void ReadSubRecords(const rapidjson::Value& object, iOSContact& contact, ListedFields* otherFields) {
    for (const SubEntity& entity : kSubEntities) {
        const rapidjson::Value* list = FindMember(object, entity.name);
        if (list == nullptr || !list->IsArray()) continue;
        for (const rapidjson::Value& record : list->GetArray()) {
            if (!record.IsObject()) continue;
            std::wstring id;
            ReadText(record, "id", id);
            FileOtherFields(record, id, [&entity](const std::string& key) { return IsValueField(entity.shape, key); },
                            otherFields);
            if (entity.shape == ValueShape::kAddress) {
                auto address = std::make_shared<iOSContactAddress>();
                ReadLabelled(record, entity.name, *address);
                ReadText(record, "street", address->street);
                ReadText(record, "city", address->city);
                ReadText(record, "state", address->state);
                ReadText(record, "postal code", address->postalCode);
                ReadText(record, "country", address->country);
                ReadText(record, "country code", address->countryCode);
                contact.addresses.push_back(std::move(address));
                continue;
            }
            if (entity.shape == ValueShape::kIM) {
                auto im = std::make_shared<iOSContactIM>();
                ReadLabelled(record, entity.name, *im);
                ReadText(record, "service", im->service);
                ReadText(record, "user", im->userName);
                contact.instantMessaging.push_back(std::move(im));
                continue;
            }
            auto property = std::make_shared<iOSContactProperty>();
            ReadLabelled(record, entity.name, *property);
            ReadText(record, "value", property->value);
            (contact.*entity.list).push_back(std::move(property));
        }
    }
}

// --- Contact write --------------------------------------------------------------------------------------

// The labelled values of `contact` of one sub-entity, as their common base.
PropertyList ValuesOf(const iOSContact& contact, const SubEntity& entity) {
    switch (entity.shape) {
    case ValueShape::kAddress: return {contact.addresses.begin(), contact.addresses.end()};
    case ValueShape::kIM: return {contact.instantMessaging.begin(), contact.instantMessaging.end()};
    default: return contact.*entity.list;
    }
}

void AppendKey(std::string& out, const char* key) {
    out += "<key>";
    out += key;
    out += "</key>";
}

void AppendStringField(std::string& out, const char* key, const std::wstring& value) {
    if (value.empty()) return;
    AppendKey(out, key);
    out += "<string>";
    AppendXmlText(out, value);
    out += "</string>";
}

// A date field from a local time text; left out when the text is not one.
void AppendDateField(std::string& out, const char* key, const std::wstring& local) {
    const std::string utc = LocalTextToUtcText(vnl::Utf8FromWide(local));
    if (utc.empty()) return;
    AppendKey(out, key);
    out += "<date>" + utc + "</date>";
}

void AppendEntityName(std::string& out, const char* entity) {
    AppendKey(out, kEntityNameKey);
    out += "<string>";
    out += entity;
    out += "</string>";
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return true;
}

// (type, label) of a label the editor chose: its key ("other" without one), and its text only when it
// is the user's own rather than the key's display form.
std::pair<std::wstring, std::wstring> DeviceLabel(const iOSContactProperty& property) {
    const std::wstring type = property.labelKey.empty() ? std::wstring(L"other") : property.labelKey;
    return {type, EqualsIgnoringAsciiCase(property.labelText, type) ? std::wstring() : property.labelText};
}

// Whether `key` is a contact field that the page's record holds (or the entity name).
bool IsRecordField(const std::string& key) {
    for (const TextField& field : kContactFields) {
        if (key == field.name) return true;
    }
    return key == kEntityNameKey || key == "birthday" || key == "notes" || key == "display as company";
}

// The listing writes a number as its decimal text: "-12", "0", "7" (a minus or nothing, no leading zero;
// 18 digits at most, so that it fits a 64-bit integer).
bool IsIntegerText(const std::string& text) {
    const size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    const size_t digits = text.size() - start;
    if (digits == 0 || digits > 18 || (digits > 1 && text[start] == '0')) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

void AppendOtherField(std::string& out, const std::string& key, const std::string& text) {
    if (key == "image") {
        AppendKey(out, "image");
        out += "<data>";
        AppendXmlText(out, text);
        out += "</data>";
        return;
    }
    const std::string utc = LocalTextToUtcText(text);
    out += "<key>";
    AppendXmlText(out, key);
    out += "</key>";
    if (IsIntegerText(text)) {
        out += "<integer>" + text + "</integer>";
    } else if (!utc.empty()) {
        out += "<date>" + utc + "</date>";
    } else {
        out += "<string>";
        AppendXmlText(out, text);
        out += "</string>";
    }
}

const OtherFields* OtherFieldsOf(const ListedFields& listed, const std::wstring& id) {
    auto it = id.empty() ? listed.end() : listed.find(id);
    return it == listed.end() ? nullptr : &it->second;
}

template <typename IsKnown>
void AppendOtherFields(std::string& out, const OtherFields* fields, const IsKnown& isKnown) {
    if (fields == nullptr) return;
    for (const auto& field : *fields) {
        if (!isKnown(field.first)) AppendOtherField(out, field.first, field.second);
    }
}

std::string ContactRecord(const iOSContact& contact, const OtherFields* otherFields) {
    std::string out;
    AppendEntityName(out, kContactEntity);
    for (const TextField& field : kContactFields) AppendStringField(out, field.name, contact.*field.member);
    AppendDateField(out, "birthday", contact.birthday);
    AppendStringField(out, "notes", contact.note);
    AppendStringField(out, "display as company", contact.recordKind);
    AppendOtherFields(out, otherFields, IsRecordField);
    return out;
}

// `asListed`: the label is the one the device listed, written back in the device's own strings; a label
// the editor chose is written in the device's form (a key, and a text only when it is the user's own).
// `owners`: the ids of the contacts the value belongs to.
std::string SubRecord(const SubEntity& entity, const iOSContactProperty& property, bool asListed,
                      const std::vector<std::string>& owners, const OtherFields* otherFields) {
    std::string out;
    AppendEntityName(out, entity.name);
    switch (entity.shape) {
    case ValueShape::kValue: AppendStringField(out, "value", property.value); break;
    case ValueShape::kDate: AppendDateField(out, "value", property.value); break;
    case ValueShape::kAddress: {
        const auto& address = static_cast<const iOSContactAddress&>(property);
        AppendStringField(out, "street", address.street);
        AppendStringField(out, "city", address.city);
        AppendStringField(out, "state", address.state);
        AppendStringField(out, "postal code", address.postalCode);
        AppendStringField(out, "country", address.country);
        AppendStringField(out, "country code", address.countryCode);
        break;
    }
    case ValueShape::kIM: {
        const auto& im = static_cast<const iOSContactIM&>(property);
        AppendStringField(out, "user", im.userName);
        AppendStringField(out, "service", im.service);
        break;
    }
    }
    const std::pair<std::wstring, std::wstring> label =
        asListed ? std::make_pair(property.labelKey, property.labelText) : DeviceLabel(property);
    AppendStringField(out, "type", label.first);
    AppendStringField(out, "label", label.second);
    AppendOtherFields(out, otherFields, [&entity](const std::string& key) {
        return IsValueField(entity.shape, key) || key == "contact";
    });
    AppendKey(out, "contact");
    out += "<array>";
    for (const std::string& owner : owners) {
        out += "<string>";
        AppendXmlText(out, owner);
        out += "</string>";
    }
    out += "</array>";
    return out;
}

// The value of `list` whose sub-record id is `id`, or null.
const iOSContactProperty* FindListed(const PropertyList& list, const std::wstring& id) {
    for (const auto& property : list) {
        if (property && property->reserved == id) return property.get();
    }
    return nullptr;
}

// Whether `a` and `b` hold the same value and label.
bool SameValue(const iOSContactProperty& a, const iOSContactProperty& b, ValueShape shape) {
    if (a.labelKey != b.labelKey || a.labelText != b.labelText || a.value != b.value) return false;
    if (shape == ValueShape::kAddress) {
        const auto& x = static_cast<const iOSContactAddress&>(a);
        const auto& y = static_cast<const iOSContactAddress&>(b);
        return x.street == y.street && x.city == y.city && x.state == y.state && x.postalCode == y.postalCode &&
               x.country == y.country && x.countryCode == y.countryCode;
    }
    if (shape == ValueShape::kIM) {
        const auto& x = static_cast<const iOSContactIM&>(a);
        const auto& y = static_cast<const iOSContactIM&>(b);
        return x.service == y.service && x.userName == y.userName;
    }
    return true;
}

// The owners a listed value keeps when `contactKey` writes it: the other contacts that share it, and the
// contact itself unless it gives the value up, in the order of the book.
std::vector<std::string> OwnersOf(const std::wstring& id, const std::string& contactKey, bool keptByContact,
                                  const SharedValues& shared) {
    std::vector<std::string> owners;
    auto it = shared.find(id);
    if (it != shared.end()) {
        for (const std::string& owner : it->second) {
            if (owner != contactKey || keptByContact) owners.push_back(owner);
        }
    }
    if (keptByContact && std::find(owners.begin(), owners.end(), contactKey) == owners.end()) {
        owners.push_back(contactKey);
    }
    return owners;
}

void AppendRecord(std::string& out, const std::string& id, const std::string& body) {
    out += "<key>";
    AppendXmlText(out, id);
    out += "</key><dict>" + body + "</dict>";
}

void AppendDeletion(std::string& out, const std::string& id) {
    out += "<key>";
    AppendXmlText(out, id);
    out += "</key><string>";
    out += kDeletedRecord;
    out += "</string>";
}

std::string Message(const std::string& records, bool more) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><array><string>SDMessageProcessChanges</string><string>com.apple.Contacts</string>"
        "<dict>";
    out += records;
    out += "</dict>";
    out += more ? "<true/>" : "<false/>";
    out += "<dict><key>SyncDeviceLinkEntityNamesKey</key><array>";
    out += std::string("<string>") + kContactEntity + "</string>";
    out += std::string("<string>") + kGroupEntity + "</string>";
    for (const SubEntity& entity : kSubEntities) out += std::string("<string>") + entity.name + "</string>";
    out += "</array><key>SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey</key><true/></dict></array></plist>";
    return out;
}

template <typename Writer>
void WriteString(Writer& writer, const std::string& text) {
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string Utf8OfValue(const rapidjson::Value& value) {
    return std::string(value.GetString(), value.GetStringLength());
}

}  // namespace

std::string LocalTextToUtcText(const std::string& local) {
    CivilTime time;
    int64_t offset = 0;
    if (!ParseLocalText(local, time) || !LocalOffsetAt(time, offset)) return std::string();
    const int64_t utc = SecondsAsIfUtc(time) - offset;
    int64_t days = utc / 86400;
    int64_t secondOfDay = utc % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 1 || year > 9999) return std::string();  // no four-digit year to write
    std::string out;
    AppendNumber(out, year, 4);
    out += '-';
    AppendNumber(out, month, 2);
    out += '-';
    AppendNumber(out, day, 2);
    out += 'T';
    AppendNumber(out, secondOfDay / 3600, 2);
    out += ':';
    AppendNumber(out, secondOfDay / 60 % 60, 2);
    out += ':';
    AppendNumber(out, secondOfDay % 60, 2);
    out += 'Z';
    return out;
}

std::string NewTemporaryId() {
    std::random_device device;
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    uint32_t word = 0;
    for (int digit = 0; digit < 32; ++digit) {
        if (digit % 8 == 0) word = static_cast<uint32_t>(device());
        if (digit == 8 || digit == 12 || digit == 16 || digit == 20) out += '-';
        out += kHex[word & 0xF];
        word >>= 4;
    }
    return out;
}

bool ReadContactBatch(const std::string& json, std::vector<std::shared_ptr<iOSContact>>& contacts,
                      ListedFields* otherFields) {
    rapidjson::Document document;
    if (!ParseJson(json, document) || !IsObjectOfObjects(document)) return false;
    std::vector<std::shared_ptr<iOSContact>> read;
    ListedFields others;
    for (auto it = document.MemberBegin(); it != document.MemberEnd(); ++it) {
        const rapidjson::Value& object = it->value;
        auto contact = std::make_shared<iOSContact>();
        contact->identifier = WideOf(it->name);
        for (const TextField& field : kContactFields) ReadText(object, field.name, (*contact).*field.member);
        ReadText(object, "birthday", contact->birthday);
        ReadText(object, "notes", contact->note);
        ReadText(object, "display as company", contact->recordKind);
        ReadSubRecords(object, *contact, otherFields != nullptr ? &others : nullptr);
        FileOtherFields(object, contact->identifier, IsRecordField, otherFields != nullptr ? &others : nullptr);
        read.push_back(std::move(contact));
    }
    contacts.insert(contacts.end(), read.begin(), read.end());
    if (otherFields != nullptr) {
        for (auto& entry : others) (*otherFields)[entry.first] = std::move(entry.second);
    }
    return true;
}

bool ReadGroupBatch(const std::string& json, std::vector<std::shared_ptr<iOSContactGroup>>& groups) {
    rapidjson::Document document;
    if (!ParseJson(json, document) || !IsObjectOfObjects(document)) return false;
    std::vector<std::shared_ptr<iOSContactGroup>> read;
    for (auto it = document.MemberBegin(); it != document.MemberEnd(); ++it) {
        auto group = std::make_shared<iOSContactGroup>();
        group->identifier = WideOf(it->name);
        ReadText(it->value, "name", group->name);
        const rapidjson::Value* members = FindMember(it->value, "members");
        if (members != nullptr && members->IsArray()) {
            for (const rapidjson::Value& member : members->GetArray()) {
                if (member.IsString()) group->members.push_back(WideOf(member));
            }
        }
        read.push_back(std::move(group));
    }
    groups.insert(groups.end(), read.begin(), read.end());
    return true;
}

SharedValues SharedValuesOf(const std::vector<std::shared_ptr<iOSContact>>& book) {
    SharedValues shared;
    for (const auto& contact : book) {
        if (!contact || contact->identifier.empty()) continue;
        const std::string owner = vnl::Utf8FromWide(contact->identifier);
        for (const SubEntity& entity : kSubEntities) {
            for (const auto& property : ValuesOf(*contact, entity)) {
                if (!property || property->reserved.empty()) continue;
                std::vector<std::string>& owners = shared[property->reserved];
                if (std::find(owners.begin(), owners.end(), owner) == owners.end()) owners.push_back(owner);
            }
        }
    }
    return shared;
}

ContactWrite ComposeContactWrite(const iOSContact& saved, const iOSContact* held,
                                 const std::function<std::string()>& newTemporaryId, const SharedValues& shared,
                                 const ListedFields& otherFields) {
    ContactWrite write;
    write.contactKey = saved.identifier.empty() ? newTemporaryId() : vnl::Utf8FromWide(saved.identifier);

    std::vector<std::pair<const char*, std::string>> messages;
    std::string contactRecords;
    AppendRecord(contactRecords, write.contactKey, ContactRecord(saved, OtherFieldsOf(otherFields, saved.identifier)));
    messages.emplace_back(kContactEntity, contactRecords);

    for (const SubEntity& entity : kSubEntities) {
        const PropertyList heldValues = held != nullptr ? ValuesOf(*held, entity) : PropertyList();
        std::string records;
        std::set<std::wstring> kept;
        std::set<std::wstring> removed;
        std::set<const iOSContactProperty*> written;
        for (const auto& property : ValuesOf(saved, entity)) {
            if (!property) continue;
            // A value the editor marked removed but left in the record is a removal, not a value.
            if (property->flag == 1) {
                if (!property->reserved.empty()) removed.insert(property->reserved);
                continue;
            }
            if (!written.insert(property.get()).second) continue;  // the same record listed twice
            const iOSContactProperty* listed = FindListed(heldValues, property->reserved);
            // A shared value the user changed becomes this contact's own; the others keep theirs.
            const bool splits = listed != nullptr && !SameValue(*listed, *property, entity.shape) &&
                                !OwnersOf(property->reserved, write.contactKey, false, shared).empty();
            // A label the user left as it was goes back in the device's own strings.
            const bool asListed = listed != nullptr && listed->labelKey == property->labelKey &&
                                  listed->labelText == property->labelText;
            std::string id;
            std::vector<std::string> owners;
            const OtherFields* others = nullptr;
            if (!property->reserved.empty() && !splits && kept.insert(property->reserved).second) {
                id = vnl::Utf8FromWide(property->reserved);
                owners = OwnersOf(property->reserved, write.contactKey, true, shared);
                others = OtherFieldsOf(otherFields, property->reserved);
            } else {
                // New, changed and shared, or a second value claiming an id already written: the device
                // gives it its own.
                id = newTemporaryId();
                write.newProperties[id] = property;
                owners = {write.contactKey};
            }
            AppendRecord(records, id, SubRecord(entity, *property, asListed, owners, others));
            if (!asListed) write.relabelled.push_back(property);
        }
        for (const auto& property : heldValues) {
            if (property && !property->reserved.empty()) removed.insert(property->reserved);
        }
        for (const std::wstring& id : removed) {
            if (kept.count(id) != 0) continue;
            const std::vector<std::string> others = OwnersOf(id, write.contactKey, false, shared);
            const iOSContactProperty* listed = FindListed(heldValues, id);
            if (others.empty() || listed == nullptr) {
                AppendDeletion(records, vnl::Utf8FromWide(id));
            } else {
                // Other contacts share the value: it stays theirs, only this contact lets go of it.
                AppendRecord(records, vnl::Utf8FromWide(id),
                             SubRecord(entity, *listed, true, others, OtherFieldsOf(otherFields, id)));
            }
        }
        if (!records.empty()) messages.emplace_back(entity.name, std::move(records));
    }

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (size_t i = 0; i < messages.size(); ++i) {
        writer.Key(messages[i].first);
        WriteString(writer, Message(messages[i].second, i + 1 < messages.size()));
    }
    writer.EndObject();
    write.dataJson.assign(buffer.GetString(), buffer.GetSize());
    return write;
}

bool ApplyContactRemap(const std::string& replyJson, const ContactWrite& write, iOSContact& saved) {
    rapidjson::Document document;
    if (!ParseJson(replyJson, document) || !document.IsObject()) return false;
    const rapidjson::Value* contactIds = FindMember(document, kContactEntity);
    const rapidjson::Value* deviceId = contactIds == nullptr ? nullptr : FindMember(*contactIds, write.contactKey);
    if (deviceId == nullptr || !deviceId->IsString() || deviceId->GetStringLength() == 0) return false;
    saved.identifier = WideOf(*deviceId);
    for (const auto& property : write.relabelled) {
        if (!property) continue;
        const std::pair<std::wstring, std::wstring> label = DeviceLabel(*property);
        property->labelKey = label.first;
        property->labelText = label.second;
        if (property->flag == 0) property->flag = kListedPropertyFlag;
    }
    for (const auto& entry : write.newProperties) {
        if (!entry.second) continue;
        for (auto it = document.MemberBegin(); it != document.MemberEnd(); ++it) {
            const rapidjson::Value* id = FindMember(it->value, entry.first);
            if (id != nullptr && id->IsString()) {
                entry.second->reserved = WideOf(*id);
                break;
            }
        }
    }
    return true;
}

std::string ComposeDeleteData(const std::wstring& identifier) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("id");
    WriteString(writer, vnl::Utf8FromWide(identifier));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ComposeGroupData(const iOSContactGroup& group, const std::string& key, bool withMembers) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    if (withMembers) {
        writer.Key("guid");
        WriteString(writer, key);
    }
    writer.Key("id");
    WriteString(writer, key);
    writer.Key("name");
    WriteString(writer, vnl::Utf8FromWide(group.name));
    if (withMembers) {
        writer.Key("members");
        writer.StartArray();
        for (const std::wstring& member : group.members) WriteString(writer, vnl::Utf8FromWide(member));
        writer.EndArray();
    }
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ReadGroupReply(const std::string& replyJson, const std::string& key) {
    rapidjson::Document document;
    if (!ParseJson(replyJson, document) || !document.IsObject()) return std::string();
    const rapidjson::Value* entry = FindMember(document, key);
    if (entry == nullptr || !entry->IsArray() || entry->Empty() || !(*entry)[0].IsString()) return std::string();
    return Utf8OfValue((*entry)[0]);
}

}  // namespace relay
