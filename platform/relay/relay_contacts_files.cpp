// The contacts page's export and import files; see relay_contacts_files.h.
#include "relay_contacts_files.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "relay_contacts_codec.h"
#include "relay_xml.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

using PropertyList = std::vector<std::shared_ptr<iOSContactProperty>>;

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
}

// "YYYY-MM-DD" of a "YYYY-MM-DD hh:mm:ss" text; empty when the text does not start with such a date.
std::string DatePart(const std::wstring& text) {
    const std::string utf8 = vnl::Utf8FromWide(text);
    if (utf8.size() < 10 || (utf8.size() > 10 && utf8[10] != ' ' && utf8[10] != 'T')) return std::string();
    for (size_t i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? utf8[i] != '-' : (utf8[i] < '0' || utf8[i] > '9')) return std::string();
    }
    const int year = std::stoi(utf8.substr(0, 4));
    const int month = (utf8[5] - '0') * 10 + (utf8[6] - '0');
    const int day = (utf8[8] - '0') * 10 + (utf8[9] - '0');
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
        return std::string();
    }
    return utf8.substr(0, 10);
}

// Prefix, first, middle, last name and suffix; the company for a contact without a name.
std::wstring DisplayName(const iOSContact& contact) {
    std::wstring name;
    for (const std::wstring* part :
         {&contact.prefix, &contact.firstName, &contact.middleName, &contact.lastName, &contact.suffix}) {
        if (part->empty()) continue;
        if (!name.empty()) name += L' ';
        name += *part;
    }
    return name.empty() ? contact.company : name;
}

// The label as the page shows it: the user's own text, else the key.
const std::wstring& ShownLabel(const iOSContactProperty& entry) {
    return entry.labelText.empty() ? entry.labelKey : entry.labelText;
}

// --- vCard ----------------------------------------------------------------------------------------------

constexpr size_t kFoldOctets = 75;

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// One content line and its CRLF, folded: every continuation line starts with a space, which counts
// toward its 75 octets, and a fold never falls inside a character.
void AppendFolded(std::string& out, const std::string& line) {
    size_t at = 0;
    size_t room = kFoldOctets;
    while (line.size() - at > room) {
        size_t cut = at + room;
        while (cut > at && IsUtf8Continuation(line[cut])) --cut;
        if (cut == at) cut = at + room;  // not UTF-8 at all; cannot happen with converted texts
        out.append(line, at, cut - at);
        out += "\r\n ";
        at = cut;
        room = kFoldOctets - 1;
    }
    out.append(line, at, std::string::npos);
    out += "\r\n";
}

// A text value: backslash, comma and semicolon escaped (they separate components and list items),
// line breaks as \n, other control characters left out (a value cannot hold them).
std::string VcardText(const std::wstring& text) {
    const std::string utf8 = vnl::Utf8FromWide(text);
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case ',': out += "\\,"; break;
        case ';': out += "\\;"; break;
        case '\r':
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
            out += "\\n";
            break;
        case '\n': out += "\\n"; break;
        default:
            if (!IsControl(c)) out += c;
            break;
        }
    }
    return out;
}

// A URI value (URL, IMPP): it is not text-escaped, so the bytes a URI cannot hold as they are (controls,
// space, quotes, backslash ...) and those in `extra` become %XX. Other non-ASCII text stays UTF-8.
std::string UriText(const std::wstring& text, const char* extra) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : vnl::Utf8FromWide(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr ||
            std::strchr(extra, c) != nullptr) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// ";TYPE=<label key>" (the label text for an entry without a key); empty without either. Characters a
// parameter cannot hold are left out and a key holding a separator is quoted.
std::string TypeParameter(const iOSContactProperty& entry) {
    std::string value;
    bool quote = false;
    for (const char c : vnl::Utf8FromWide(entry.labelKey.empty() ? entry.labelText : entry.labelKey)) {
        if (IsControl(c) || c == '"') continue;
        if (c == ',' || c == ';' || c == ':') quote = true;
        value += c;
    }
    if (value.empty()) return value;
    return quote ? ";TYPE=\"" + value + "\"" : ";TYPE=" + value;
}

// The IM service as a URI scheme (a letter, then letters, digits, + - .); "im" when nothing is left.
std::string ImScheme(const std::wstring& service) {
    std::string scheme;
    for (char c : vnl::Utf8FromWide(service)) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool letter = c >= 'a' && c <= 'z';
        const bool later = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (letter || (!scheme.empty() && later)) scheme += c;
    }
    return scheme.empty() ? "im" : scheme;
}

void AppendVcard(std::string& out, const iOSContact& contact) {
    auto textLine = [&out](const char* name, const std::wstring& value) {
        if (!value.empty()) AppendFolded(out, std::string(name) + ":" + VcardText(value));
    };
    auto labelledLines = [&out](const char* name, const PropertyList& list) {
        for (const auto& entry : list) {
            if (entry && !entry->value.empty()) {
                AppendFolded(out, name + TypeParameter(*entry) + ":" + VcardText(entry->value));
            }
        }
    };
    AppendFolded(out, "BEGIN:VCARD");
    AppendFolded(out, "VERSION:3.0");
    AppendFolded(out, "N:" + VcardText(contact.lastName) + ";" + VcardText(contact.firstName) + ";" +
                          VcardText(contact.middleName) + ";" + VcardText(contact.prefix) + ";" +
                          VcardText(contact.suffix));
    AppendFolded(out, "FN:" + VcardText(DisplayName(contact)));
    textLine("X-PHONETIC-FIRST-NAME", contact.phoneticFirstName);
    textLine("X-PHONETIC-MIDDLE-NAME", contact.phoneticMiddleName);
    textLine("X-PHONETIC-LAST-NAME", contact.phoneticLastName);
    textLine("NICKNAME", contact.nickname);
    if (!contact.company.empty() || !contact.department.empty()) {
        std::string org = "ORG:" + VcardText(contact.company);
        if (!contact.department.empty()) org += ";" + VcardText(contact.department);
        AppendFolded(out, org);
    }
    textLine("TITLE", contact.jobTitle);
    const std::string birthday = DatePart(contact.birthday);
    if (!birthday.empty()) AppendFolded(out, "BDAY:" + birthday);
    labelledLines("TEL", contact.phones);
    labelledLines("EMAIL", contact.emails);
    for (const auto& address : contact.addresses) {
        if (!address || (address->street.empty() && address->city.empty() && address->state.empty() &&
                         address->postalCode.empty() && address->country.empty())) {
            continue;
        }
        AppendFolded(out, "ADR" + TypeParameter(*address) + ":;;" + VcardText(address->street) + ";" +
                              VcardText(address->city) + ";" + VcardText(address->state) + ";" +
                              VcardText(address->postalCode) + ";" + VcardText(address->country));
    }
    for (const auto& url : contact.urls) {
        if (url && !url->value.empty()) AppendFolded(out, "URL" + TypeParameter(*url) + ":" + UriText(url->value, ""));
    }
    for (const auto& im : contact.instantMessaging) {
        if (!im || im->userName.empty()) continue;
        // '%', '?' and '#' too: the user name is a plain text, not part of a URI already.
        AppendFolded(out,
                     "IMPP" + TypeParameter(*im) + ":" + ImScheme(im->service) + ":" + UriText(im->userName, "%?#"));
    }
    for (const auto& date : contact.dates) {
        const std::string day = date ? DatePart(date->value) : std::string();
        if (!day.empty()) AppendFolded(out, "X-DATE" + TypeParameter(*date) + ":" + day);
    }
    labelledLines("X-RELATED", contact.relatedNames);
    textLine("NOTE", contact.note);
    AppendFolded(out, "END:VCARD");
}

// --- CSV ------------------------------------------------------------------------------------------------

// clang-format off
const char* const kCsvHeader[] = {"First Name", "Middle Name", "Last Name", "Prefix",   "Suffix",   "Nickname",
                                  "Company",    "Department",  "Job Title", "Birthday", "Note",     "Phones",
                                  "E-mails",    "Addresses",   "URLs",      "IM",       "Dates",    "Related Names"};
// clang-format on

// One field: a leading apostrophe where a spreadsheet would run the text as a formula, then quoted
// when it holds a separator, a quote or a line break.
std::string CsvField(std::string text) {
    if (!text.empty()) {
        const char first = text[0];
        if (first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' || first == '\r') {
            text.insert(0, 1, '\'');
        }
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// `text` on one line: each line break becomes `joiner`, as the entries of a cell are one a line.
std::string OneLine(const std::wstring& text, const char* joiner) {
    const std::string utf8 = vnl::Utf8FromWide(text);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' || utf8[i] == '\n') {
            if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
            out += joiner;
        } else {
            out += utf8[i];
        }
    }
    return out;
}

// Adds "label: value" (the value alone without a label) as the cell's next line.
void AddEntry(std::string& cell, const std::wstring& label, const std::string& value) {
    if (value.empty()) return;
    if (!cell.empty()) cell += '\n';
    const std::string shown = OneLine(label, " ");
    if (!shown.empty()) cell += shown + ": ";
    cell += value;
}

std::string DateCell(const std::wstring& text) {
    const std::string day = DatePart(text);
    return day.empty() ? OneLine(text, " ") : day;
}

std::string LabelledCell(const PropertyList& list, bool dates) {
    std::string cell;
    for (const auto& entry : list) {
        if (entry) AddEntry(cell, ShownLabel(*entry), dates ? DateCell(entry->value) : OneLine(entry->value, " "));
    }
    return cell;
}

std::string AddressCell(const iOSContact& contact) {
    std::string cell;
    for (const auto& address : contact.addresses) {
        if (!address) continue;
        std::string value;
        for (const std::wstring* part :
             {&address->street, &address->city, &address->state, &address->postalCode, &address->country}) {
            const std::string text = OneLine(*part, ", ");
            if (text.empty()) continue;
            if (!value.empty()) value += ", ";
            value += text;
        }
        AddEntry(cell, ShownLabel(*address), value);
    }
    return cell;
}

std::string ImCell(const iOSContact& contact) {
    std::string cell;
    for (const auto& im : contact.instantMessaging) {
        if (im) AddEntry(cell, im->labelText.empty() ? im->service : im->labelText, OneLine(im->userName, " "));
    }
    return cell;
}

void AppendCsvRow(std::string& out, const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) out += ',';
        out += CsvField(cells[i]);
    }
    out += "\r\n";
}

// --- XML backup: the shape --------------------------------------------------------------------------------

constexpr char kRootElement[] = "contactsBackup";
constexpr char kContactElement[] = "contact";
constexpr char kFormatVersion[] = "1";

struct TextField {
    const char* name;
    std::wstring iOSContact::*member;
};

// Every text field but the identifier, in the order they are written.
const TextField kContactFields[] = {
    {"firstName", &iOSContact::firstName},
    {"middleName", &iOSContact::middleName},
    {"lastName", &iOSContact::lastName},
    {"phoneticFirstName", &iOSContact::phoneticFirstName},
    {"phoneticMiddleName", &iOSContact::phoneticMiddleName},
    {"phoneticLastName", &iOSContact::phoneticLastName},
    {"nickname", &iOSContact::nickname},
    {"prefix", &iOSContact::prefix},
    {"suffix", &iOSContact::suffix},
    {"company", &iOSContact::company},
    {"department", &iOSContact::department},
    {"jobTitle", &iOSContact::jobTitle},
    {"birthday", &iOSContact::birthday},
    {"note", &iOSContact::note},
    {"recordKind", &iOSContact::recordKind},
};
constexpr size_t kContactFieldCount = sizeof(kContactFields) / sizeof(kContactFields[0]);

enum class EntryShape { kPlain, kAddress, kIM };

struct EntryElement {
    const char* name;
    EntryShape shape;
    PropertyList iOSContact::*list;  // null for addresses and IM entries, which have lists of their own type
    const wchar_t* kind;             // for an entry saved without one
};

const EntryElement kEntryElements[] = {
    {"phone", EntryShape::kPlain, &iOSContact::phones, CONTACT_KIND_PHONE},
    {"email", EntryShape::kPlain, &iOSContact::emails, CONTACT_KIND_EMAIL},
    {"address", EntryShape::kAddress, nullptr, CONTACT_KIND_ADDRESS},
    {"url", EntryShape::kPlain, &iOSContact::urls, CONTACT_KIND_URL},
    {"im", EntryShape::kIM, nullptr, CONTACT_KIND_IM},
    {"date", EntryShape::kPlain, &iOSContact::dates, CONTACT_KIND_DATE},
    {"relatedName", EntryShape::kPlain, &iOSContact::relatedNames, CONTACT_KIND_RELATED_NAME},
};

template <typename Record>
struct Attribute {
    const char* name;
    std::wstring Record::*member;
};

const Attribute<iOSContactProperty> kLabelledAttributes[] = {
    {"kind", &iOSContactProperty::kind},
    {"labelKey", &iOSContactProperty::labelKey},
    {"labelText", &iOSContactProperty::labelText},
    {"value", &iOSContactProperty::value},
};
// clang-format off
const Attribute<iOSContactAddress> kAddressAttributes[] = {
    {"street", &iOSContactAddress::street},         {"city", &iOSContactAddress::city},
    {"state", &iOSContactAddress::state},           {"postalCode", &iOSContactAddress::postalCode},
    {"country", &iOSContactAddress::country},       {"countryCode", &iOSContactAddress::countryCode},
};
// clang-format on
const Attribute<iOSContactIM> kImAttributes[] = {
    {"service", &iOSContactIM::service},
    {"userName", &iOSContactIM::userName},
};

// --- XML backup: writing ----------------------------------------------------------------------------------

template <typename Record, size_t N>
void AppendAttributes(std::string& out, const Record& record, const Attribute<Record> (&attributes)[N]) {
    for (const auto& attribute : attributes) {
        out += ' ';
        out += attribute.name;
        out += "=\"";
        AppendXmlEscaped(out, record.*attribute.member, true);
        out += '"';
    }
}

void AppendXmlContact(std::string& out, const iOSContact& contact) {
    out += "  <contact>\n";
    for (const TextField& field : kContactFields) {
        const std::wstring& text = contact.*field.member;
        out += "    <";
        out += field.name;
        if (text.empty()) {
            out += "/>\n";
            continue;
        }
        out += '>';
        AppendXmlEscaped(out, text, false);
        out += "</";
        out += field.name;
        out += ">\n";
    }
    auto openEntry = [&out](const EntryElement& element, const iOSContactProperty& entry) {
        out += "    <";
        out += element.name;
        AppendAttributes(out, entry, kLabelledAttributes);
    };
    for (const EntryElement& element : kEntryElements) {
        if (element.shape == EntryShape::kAddress) {
            for (const auto& address : contact.addresses) {
                if (!address) continue;
                openEntry(element, *address);
                AppendAttributes(out, *address, kAddressAttributes);
                out += "/>\n";
            }
        } else if (element.shape == EntryShape::kIM) {
            for (const auto& im : contact.instantMessaging) {
                if (!im) continue;
                openEntry(element, *im);
                AppendAttributes(out, *im, kImAttributes);
                out += "/>\n";
            }
        } else {
            for (const auto& entry : contact.*element.list) {
                if (!entry) continue;
                openEntry(element, *entry);
                out += "/>\n";
            }
        }
    }
    out += "  </contact>\n";
}

// --- XML backup: reading ----------------------------------------------------------------------------------

// Reads one backup in a single pass with an explicit stack of open elements, which the format bounds to
// three (backup, contact, field or entry): no recursion, and anything deeper is refused where it opens.
class BackupReader final : public XmlReader {
public:
    bool Read(const std::string& text, std::vector<std::shared_ptr<iOSContact>>& contacts, std::string& error) {
        if (!XmlReader::Read(text, kMaxBackupBytes, error)) return false;
        contacts.insert(contacts.end(), m_contacts.begin(), m_contacts.end());
        return true;
    }

private:
    const char* DocumentKind() const override { return "contacts backup"; }
    std::string* TextTarget() override { return m_field != nullptr ? &m_fieldText : nullptr; }

    // --- The backup's elements

    bool OnOpen(const std::string& name, const XmlAttributes& attributes) override {
        switch (OpenElements().size()) {
        case 0: {
            if (name != kRootElement)
                return Fail("not a contacts backup: the root element is <" + ShownXmlName(name) + ">");
            if (attributes.size() != 1 || attributes[0].first != "version") {
                return Fail("the backup's root needs its version alone");
            }
            if (attributes[0].second != kFormatVersion) {
                return Fail("unsupported backup version " + ShownXmlName(attributes[0].second));
            }
            break;
        }
        case 1:
            if (name != kContactElement) return Fail("unexpected element <" + ShownXmlName(name) + "> in the backup");
            if (!attributes.empty()) return Fail("unexpected attribute on <contact>");
            m_contacts.push_back(std::make_shared<iOSContact>());
            m_seenFields.assign(kContactFieldCount, false);
            break;
        case 2:
            if (!OpenContactChild(name, attributes)) return false;
            break;
        default: return Fail("unexpected element <" + ShownXmlName(name) + "> in <" + OpenElements().back() + ">");
        }
        return true;
    }

    bool OpenContactChild(const std::string& name, const XmlAttributes& attributes) {
        iOSContact& contact = *m_contacts.back();
        for (size_t i = 0; i < kContactFieldCount; ++i) {
            if (name != kContactFields[i].name) continue;
            if (m_seenFields[i]) return Fail("<" + name + "> repeated in a contact");
            if (!attributes.empty()) return Fail("unexpected attribute on <" + name + ">");
            m_seenFields[i] = true;
            m_field = &(contact.*kContactFields[i].member);
            m_fieldText.clear();
            return true;
        }
        for (const EntryElement& element : kEntryElements) {
            if (name != element.name) continue;
            if (element.shape == EntryShape::kAddress) {
                auto address = std::make_shared<iOSContactAddress>();
                if (!ReadEntry(element, attributes, *address, kAddressAttributes)) return false;
                contact.addresses.push_back(std::move(address));
            } else if (element.shape == EntryShape::kIM) {
                auto im = std::make_shared<iOSContactIM>();
                if (!ReadEntry(element, attributes, *im, kImAttributes)) return false;
                contact.instantMessaging.push_back(std::move(im));
            } else {
                auto entry = std::make_shared<iOSContactProperty>();
                if (!ReadEntry(element, attributes, *entry, kLabelledAttributes)) return false;
                (contact.*element.list).push_back(std::move(entry));
            }
            return true;
        }
        return Fail("unexpected element <" + ShownXmlName(name) + "> in <contact>");
    }

    // An entry's attributes: the labelled value's own, then those of its shape (`extra`).
    template <typename Record, size_t N>
    bool ReadEntry(const EntryElement& element, const XmlAttributes& attributes, Record& entry,
                   const Attribute<Record> (&extra)[N]) {
        for (const auto& attribute : attributes) {
            std::wstring* target = nullptr;
            for (const auto& known : kLabelledAttributes) {
                if (attribute.first == known.name) target = &(entry.*known.member);
            }
            for (const auto& known : extra) {
                if (attribute.first == known.name) target = &(entry.*known.member);
            }
            if (target == nullptr) {
                return Fail("unexpected attribute " + ShownXmlName(attribute.first) + " on <" + element.name + ">");
            }
            *target = vnl::WideFromUtf8(attribute.second);
        }
        if (entry.kind.empty()) entry.kind = element.kind;
        return true;
    }

    void OnClose() override {
        if (m_field != nullptr) {
            *m_field = vnl::WideFromUtf8(m_fieldText);
            m_field = nullptr;
        }
    }

    std::vector<std::shared_ptr<iOSContact>> m_contacts;
    std::vector<bool> m_seenFields;   // of the contact being read, by kContactFields
    std::wstring* m_field = nullptr;  // the contact field whose element is open
    std::string m_fieldText;
};

}  // namespace

std::string ComposeVcards(const std::vector<const iOSContact*>& contacts) {
    std::string out;
    for (const iOSContact* contact : contacts) {
        if (contact != nullptr) AppendVcard(out, *contact);
    }
    return out;
}

std::string ComposeCsv(const std::vector<const iOSContact*>& contacts) {
    std::string out = "\xEF\xBB\xBF";  // spreadsheets take a file without it for the local code page
    AppendCsvRow(out, std::vector<std::string>(std::begin(kCsvHeader), std::end(kCsvHeader)));
    for (const iOSContact* contact : contacts) {
        if (contact == nullptr) continue;
        const iOSContact& c = *contact;
        AppendCsvRow(out,
                     {vnl::Utf8FromWide(c.firstName), vnl::Utf8FromWide(c.middleName), vnl::Utf8FromWide(c.lastName),
                      vnl::Utf8FromWide(c.prefix), vnl::Utf8FromWide(c.suffix), vnl::Utf8FromWide(c.nickname),
                      vnl::Utf8FromWide(c.company), vnl::Utf8FromWide(c.department), vnl::Utf8FromWide(c.jobTitle),
                      DateCell(c.birthday), vnl::Utf8FromWide(c.note), LabelledCell(c.phones, false),
                      LabelledCell(c.emails, false), AddressCell(c), LabelledCell(c.urls, false), ImCell(c),
                      LabelledCell(c.dates, true), LabelledCell(c.relatedNames, false)});
    }
    return out;
}

std::string ComposeXmlBackup(const std::vector<const iOSContact*>& contacts) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<";
    out += kRootElement;
    out += " version=\"";
    out += kFormatVersion;
    out += "\">\n";
    for (const iOSContact* contact : contacts) {
        if (contact != nullptr) AppendXmlContact(out, *contact);
    }
    out += "</";
    out += kRootElement;
    out += ">\n";
    return out;
}

bool ReadXmlBackup(const std::string& bytes, std::vector<std::shared_ptr<iOSContact>>& contacts, std::string& error) {
    return BackupReader().Read(bytes, contacts, error);
}

}  // namespace relay
