// The contacts page's export and import files: the XML backup read back by our reader and by Python's
// ElementTree, the CSV by Python's csv module and the vCards by a small independent unfolder.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "python_check.h"
#include "relay_contacts_codec.h"
#include "relay_contacts_files.h"
#include "vnl_utf8.h"

namespace {

using relay::ComposeCsv;
using relay::ComposeVcards;
using relay::ComposeXmlBackup;
using relay::ReadXmlBackup;
using vnl::Utf8FromWide;
using vnl::WideFromUtf8;
using Contacts = std::vector<std::shared_ptr<iOSContact>>;

template <typename Entry = iOSContactProperty>
std::shared_ptr<Entry> Labelled(const wchar_t* kind, const wchar_t* key, const wchar_t* text, const wchar_t* value) {
    auto entry = std::make_shared<Entry>();
    entry->kind = kind;
    entry->labelKey = key;
    entry->labelText = text;
    entry->value = value;
    entry->reserved = L"SUB-1";  // device state the files must not carry
    entry->flag = 2;
    return entry;
}

// Every field filled, with separators, markup, line breaks, non-ASCII text and U+1F600.
std::shared_ptr<iOSContact> FullContact() {
    auto c = std::make_shared<iOSContact>();
    c->identifier = L"DEVICE-ID";
    c->prefix = L"Dr.";
    c->firstName = L"Zoë";
    c->middleName = L"Ann";
    c->lastName = L"Smith, \"the\" <Best> & Co; \\x";
    c->suffix = L"Jr.";
    c->phoneticFirstName = L"ゾーイ";
    c->phoneticLastName = L"スミス";
    c->nickname = L"Zo \U0001F600";
    c->company = L"Acme, Inc.";
    c->department = L"R&D";
    c->jobTitle = L"Engineer";
    c->birthday = L"1992-02-29 00:00:00";
    c->note = L"First line\nSecond\tline\r\nThird \U0001F600 — 日本";
    c->recordKind = L"person";
    c->editState = 2;
    c->groupsBefore = {L"G1"};
    c->phones = {Labelled(CONTACT_KIND_PHONE, L"mobile", L"Mobile", L"+1 555 0100"),
                 Labelled(CONTACT_KIND_PHONE, L"home fax", L"", L"555-0101")};
    c->emails = {Labelled(CONTACT_KIND_EMAIL, L"work", L"Work", L"zoe@example.com")};
    auto address = Labelled<iOSContactAddress>(CONTACT_KIND_ADDRESS, L"home", L"Home\tsweet", L"");
    address->street = L"1 Main St\nApt 2";
    address->city = L"Zürich";
    address->postalCode = L"8001";
    address->country = L"Switzerland";
    address->countryCode = L"ch";
    c->addresses = {address};
    c->urls = {Labelled(CONTACT_KIND_URL, L"home page", L"Home Page", L"https://example.com/a b?x=1,2")};
    auto im = Labelled<iOSContactIM>(CONTACT_KIND_IM, L"other", L"AIM", L"");
    im->service = L"aim";
    im->userName = L"zoe smith";
    c->instantMessaging = {im};
    c->dates = {Labelled(CONTACT_KIND_DATE, L"anniversary", L"Anniversary", L"2015-06-01 00:00:00")};
    c->relatedNames = {Labelled(CONTACT_KIND_RELATED_NAME, L"mother", L"Mother", L"Ann; \"Mom\"")};
    return c;
}

// A company card: no name, a date that is not one, a label key holding separators.
std::shared_ptr<iOSContact> CompanyContact() {
    auto c = std::make_shared<iOSContact>();
    c->company = L"Solo Corp";
    c->birthday = L"not a date";
    c->recordKind = L"company";
    c->phones = {Labelled(CONTACT_KIND_PHONE, L"a,b:\"c", L"", L"123")};
    return c;
}

std::vector<const iOSContact*> Pointers(const Contacts& contacts) {
    std::vector<const iOSContact*> pointers;
    for (const auto& c : contacts) pointers.push_back(c.get());
    return pointers;
}

rapidjson::Document RunJson(const char* program, const std::string& bytes) {
    std::string output;
    EXPECT_EQ(trv::test::RunPythonOn(program, bytes, output), 0) << output;
    rapidjson::Document document;
    document.Parse(output.c_str());
    EXPECT_FALSE(document.HasParseError()) << output;
    return document;
}

std::vector<std::string> Strings(const rapidjson::Value& array) {
    std::vector<std::string> out;
    if (!array.IsArray()) return out;
    for (const auto& item : array.GetArray()) out.emplace_back(item.GetString(), item.GetStringLength());
    return out;
}

// --- XML backup -------------------------------------------------------------------------------------------

void ExpectEntry(const iOSContactProperty& want, const iOSContactProperty& got) {
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.labelKey, want.labelKey);
    EXPECT_EQ(got.labelText, want.labelText);
    EXPECT_EQ(got.value, want.value);
    EXPECT_EQ(got.reserved, L"");
    EXPECT_EQ(got.flag, 0);
}

void ExpectEntry(const iOSContactAddress& want, const iOSContactAddress& got) {
    ExpectEntry(static_cast<const iOSContactProperty&>(want), got);
    for (auto field : {&iOSContactAddress::street, &iOSContactAddress::city, &iOSContactAddress::state,
                       &iOSContactAddress::postalCode, &iOSContactAddress::country, &iOSContactAddress::countryCode}) {
        EXPECT_EQ(got.*field, want.*field);
    }
}

void ExpectEntry(const iOSContactIM& want, const iOSContactIM& got) {
    ExpectEntry(static_cast<const iOSContactProperty&>(want), got);
    EXPECT_EQ(got.service, want.service);
    EXPECT_EQ(got.userName, want.userName);
}

template <typename List>
void ExpectEntries(const List& want, const List& got) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ExpectEntry(*want[i], *got[i]);
}

// The saved contact's texts and labelled values; none of the device's ids or the page's state.
void ExpectRestored(const iOSContact& want, const iOSContact& got) {
    for (auto field :
         {&iOSContact::firstName, &iOSContact::middleName, &iOSContact::lastName, &iOSContact::phoneticFirstName,
          &iOSContact::phoneticMiddleName, &iOSContact::phoneticLastName, &iOSContact::nickname, &iOSContact::prefix,
          &iOSContact::suffix, &iOSContact::company, &iOSContact::department, &iOSContact::jobTitle,
          &iOSContact::birthday, &iOSContact::note, &iOSContact::recordKind}) {
        EXPECT_EQ(got.*field, want.*field);
    }
    EXPECT_EQ(got.identifier, L"");
    EXPECT_EQ(got.editState, 0);
    EXPECT_TRUE(got.groupsBefore.empty());
    for (auto list :
         {&iOSContact::phones, &iOSContact::emails, &iOSContact::urls, &iOSContact::dates, &iOSContact::relatedNames}) {
        ExpectEntries(want.*list, got.*list);
    }
    ExpectEntries(want.addresses, got.addresses);
    ExpectEntries(want.instantMessaging, got.instantMessaging);
}

TEST(RelayContactsFilesXml, BackupRoundTripKeepsEveryField) {
    const Contacts saved = {FullContact(), CompanyContact(), std::make_shared<iOSContact>()};
    Contacts read = {std::make_shared<iOSContact>()};  // appended to, not replaced
    std::string error;
    ASSERT_TRUE(ReadXmlBackup(ComposeXmlBackup(Pointers(saved)), read, error)) << error;
    ASSERT_EQ(read.size(), 4u);
    for (size_t i = 0; i < saved.size(); ++i) ExpectRestored(*saved[i], *read[i + 1]);

    Contacts none;
    ASSERT_TRUE(ReadXmlBackup(ComposeXmlBackup({}), none, error)) << error;
    EXPECT_TRUE(none.empty());
}

TEST(RelayContactsFilesXml, CharactersXmlCannotCarryAreLeftOut) {
    auto c = std::make_shared<iOSContact>();
    c->firstName =
        L"a\x01"
        L"b\uFFFE"
        L"c\x1F";
    c->note = std::wstring(L"x") + static_cast<wchar_t>(0xD800) + L"y";  // a lone surrogate
    auto phone = Labelled(CONTACT_KIND_PHONE, L"mobile\x0B", L"",
                          L"1\uFFFF"
                          L"2");
    c->phones = {phone};
    const std::string xml = ComposeXmlBackup({c.get()});
    Contacts read;
    std::string error;
    ASSERT_TRUE(ReadXmlBackup(xml, read, error)) << error;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0]->firstName, L"abc");
    EXPECT_EQ(read[0]->note, L"x\uFFFDy");
    ASSERT_EQ(read[0]->phones.size(), 1u);
    EXPECT_EQ(read[0]->phones[0]->labelKey, L"mobile");
    EXPECT_EQ(read[0]->phones[0]->value, L"12");
    std::string output;
    EXPECT_EQ(trv::test::RunPythonOn("import sys, xml.etree.ElementTree as E; E.parse(sys.argv[1])", xml, output), 0);
}

constexpr char kElementTreeReader[] = R"(
import sys, json, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
out = {'root': root.tag, 'attrib': root.attrib, 'contacts': []}
for contact in root:
    fields, entries = {}, []
    for child in contact:
        if child.attrib:
            entries.append([child.tag, child.attrib])
        else:
            fields[child.tag] = child.text or ''
    out['contacts'].append({'tag': contact.tag, 'fields': fields, 'entries': entries})
print(json.dumps(out))
)";

std::string Text(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject() || !object.HasMember(name)) return "<missing " + std::string(name) + ">";
    return std::string(object[name].GetString(), object[name].GetStringLength());
}

TEST(RelayContactsFilesXml, ElementTreeReadsTheBackup) {
    const auto full = FullContact();
    const auto company = CompanyContact();
    const rapidjson::Document document = RunJson(kElementTreeReader, ComposeXmlBackup({full.get(), company.get()}));
    ASSERT_TRUE(document.IsObject());
    EXPECT_EQ(Text(document, "root"), "contactsBackup");
    EXPECT_EQ(Text(document["attrib"], "version"), "1");
    const auto& contacts = document["contacts"];
    ASSERT_EQ(contacts.Size(), 2u);
    const auto& fields = contacts[0]["fields"];
    EXPECT_EQ(Text(contacts[0], "tag"), "contact");
    EXPECT_EQ(fields.MemberCount(), 15u) << "every text field but the identifier";
    EXPECT_EQ(Text(fields, "firstName"), "Zoë");
    EXPECT_EQ(Text(fields, "lastName"), "Smith, \"the\" <Best> & Co; \\x");
    EXPECT_EQ(Text(fields, "phoneticFirstName"), "ゾーイ");
    EXPECT_EQ(Text(fields, "phoneticMiddleName"), "");
    EXPECT_EQ(Text(fields, "nickname"), "Zo \xF0\x9F\x98\x80");
    EXPECT_EQ(Text(fields, "note"), "First line\nSecond\tline\r\nThird \xF0\x9F\x98\x80 — 日本");
    EXPECT_EQ(Text(fields, "birthday"), "1992-02-29 00:00:00");
    EXPECT_EQ(Text(contacts[1]["fields"], "recordKind"), "company");

    const auto& entries = contacts[0]["entries"];
    const std::vector<std::string> order = {"phone", "phone", "email", "address", "url", "im", "date", "relatedName"};
    ASSERT_EQ(entries.Size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(std::string(entries[i][0].GetString()), order[i]);
    EXPECT_EQ(Text(entries[0][1], "kind"), Utf8FromWide(CONTACT_KIND_PHONE));
    EXPECT_EQ(Text(entries[0][1], "labelText"), "Mobile");
    EXPECT_EQ(Text(entries[0][1], "value"), "+1 555 0100");
    EXPECT_EQ(Text(entries[3][1], "labelText"), "Home\tsweet");
    EXPECT_EQ(Text(entries[3][1], "street"), "1 Main St\nApt 2");
    EXPECT_EQ(Text(entries[3][1], "countryCode"), "ch");
    EXPECT_EQ(Text(entries[5][1], "service"), "aim");
    EXPECT_EQ(Text(entries[5][1], "userName"), "zoe smith");
    EXPECT_EQ(Text(entries[7][1], "value"), "Ann; \"Mom\"");
    EXPECT_EQ(Text(entries[0][1], "reserved"), "<missing reserved>") << "device ids are not saved";
}

TEST(RelayContactsFilesXml, HandWrittenBackupWithDeclarationCommentsAndReferencesIsRead) {
    const std::string xml =
        "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n"
        "<!-- exported -->\r\n<?app note?>\r\n"
        "<contactsBackup  version = '1' >\r\n"
        "  <contact>\r\n"
        "    <firstName>A&amp;B &lt;&gt;&quot;&apos; &#65;&#x42;&#x1F600;&#0000067;</firstName>\r\n"
        "    <note>line<!-- split -->\r\nnext\rlast</note>\r\n"
        "    <lastName/>\r\n"
        "    <phone labelKey=\"mobile\" value='5&#10;5\r\n5\t5'/>\r\n"
        "    <im service=\"aim\" userName=\"z\"></im>\r\n"
        "  </contact >\r\n"
        "</contactsBackup>\r\n<!-- end -->\r\n";
    Contacts read;
    std::string error;
    ASSERT_TRUE(ReadXmlBackup(xml, read, error)) << error;
    ASSERT_EQ(read.size(), 1u);
    const iOSContact& c = *read[0];
    EXPECT_EQ(c.firstName, L"A&B <>\"' AB\U0001F600C");
    EXPECT_EQ(c.note, L"line\nnext\nlast");  // literal line ends are read as LF, as XML does
    ASSERT_EQ(c.phones.size(), 1u);
    EXPECT_EQ(c.phones[0]->kind, CONTACT_KIND_PHONE);  // an entry without a kind gets its element's
    EXPECT_EQ(c.phones[0]->value, L"5\n5 5 5");        // literal whitespace in attributes is a space
    ASSERT_EQ(c.instantMessaging.size(), 1u);
    EXPECT_EQ(c.instantMessaging[0]->kind, CONTACT_KIND_IM);
    EXPECT_EQ(c.instantMessaging[0]->userName, L"z");
}

TEST(RelayContactsFilesXml, MalformedBackupsAreRefusedWithNothingAppended) {
    const std::string head = "<contactsBackup version=\"1\"><contact>";
    const std::string tail = "</contact></contactsBackup>";
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;  // a part of the error
    } cases[] = {
        {"empty", "", "empty"},
        {"not XML", "BEGIN:VCARD\r\nEND:VCARD\r\n", "not an XML document"},
        {"only a declaration", "<?xml version=\"1.0\"?>\n", "no contacts backup"},
        {"wrong root", "<contacts version=\"1\"></contacts>", "root element is <contacts>"},
        {"root without version", "<contactsBackup></contactsBackup>", "version"},
        {"later version", "<contactsBackup version=\"2\"></contactsBackup>", "version 2"},
        {"mismatched tag", head + "<firstName>a</lastName>" + tail, "does not close <firstName>"},
        {"unclosed", head + "<firstName>a", "ends inside <firstName>"},
        {"closing nothing", "<contactsBackup version=\"1\"></contactsBackup></contact>", "closes nothing"},
        {"second root", "<contactsBackup version=\"1\"/><contactsBackup version=\"1\"/>", "second root"},
        {"text after", "<contactsBackup version=\"1\"/>junk", "after"},
        {"doctype with entity",
         "<!DOCTYPE contactsBackup [<!ENTITY x \"boom\">]><contactsBackup version=\"1\">&x;</contactsBackup>",
         "document type"},
        {"undefined entity", head + "<note>&nbsp;</note>" + tail, "undefined entity"},
        {"bare ampersand", head + "<note>a & b</note>" + tail, "&"},
        {"reference to NUL", head + "<note>&#0;</note>" + tail, "character reference"},
        {"reference to a surrogate", head + "<note>&#xD800;</note>" + tail, "character reference"},
        {"reference past U+10FFFF", head + "<note>&#x110000;</note>" + tail, "character reference"},
        {"huge reference", head + "<note>&#99999999999999999999;</note>" + tail, "character reference"},
        {"reference without digits", head + "<note>&#x;</note>" + tail, "character reference"},
        {"unterminated reference", head + "<note>&#65</note>" + tail, "character reference"},
        {"element inside a field", head + "<note><b>x</b></note>" + tail, "unexpected element <b>"},
        {"text inside an entry", head + "<phone value=\"1\">x</phone>" + tail, "unexpected text"},
        {"unknown element", head + "<photo/>" + tail, "unexpected element <photo>"},
        {"unknown attribute", head + "<phone flag=\"2\"/>" + tail, "unexpected attribute flag"},
        {"repeated attribute", head + "<phone value=\"1\" value=\"2\"/>" + tail, "repeated"},
        {"repeated field", head + "<note>a</note><note>b</note>" + tail, "repeated"},
        {"text in the root", "<contactsBackup version=\"1\">x</contactsBackup>", "unexpected text"},
        {"'<' in an attribute", head + "<phone value=\"a<b\"/>" + tail, "'<'"},
        {"unquoted attribute", head + "<phone value=1/>" + tail, "malformed attribute"},
        {"invalid UTF-8", head + "<note>\xC3\x28</note>" + tail, "not UTF-8"},
        {"UTF-16", std::string("\xFF\xFE<\0c\0", 6), "not UTF-8"},
        {"control character", head + "<note>\x01</note>" + tail, "does not allow"},
        {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><contactsBackup version=\"1\"/>",
         "encoding"},
        {"late declaration", "<!-- c --><?xml version=\"1.0\"?><contactsBackup version=\"1\"/>", "declaration"},
        {"double dash in a comment", "<!-- a -- b --><contactsBackup version=\"1\"/>", "--"},
        {"unclosed comment", "<contactsBackup version=\"1\"/><!-- ", "unclosed comment"},
        {"CDATA", head + "<note><![CDATA[x]]></note>" + tail, "unexpected markup"},
    };
    for (const auto& c : cases) {
        Contacts read = {std::make_shared<iOSContact>()};
        std::string error;
        EXPECT_FALSE(ReadXmlBackup(c.bytes, read, error)) << c.name;
        EXPECT_EQ(read.size(), 1u) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

TEST(RelayContactsFilesXml, EveryTruncationOfABackupIsRefused) {
    const auto full = FullContact();
    const auto company = CompanyContact();
    const std::string xml = ComposeXmlBackup({full.get(), company.get()});
    const size_t end = xml.rfind("</contactsBackup>");
    ASSERT_NE(end, std::string::npos);
    for (size_t size = 0; size < end + 16; ++size) {
        Contacts read;
        std::string error;
        ASSERT_FALSE(ReadXmlBackup(xml.substr(0, size), read, error)) << size;
        ASSERT_TRUE(read.empty()) << size;
        ASSERT_FALSE(error.empty()) << size;
    }
}

TEST(RelayContactsFilesXml, DeepNestingAndHugeInputAreRefusedQuickly) {
    std::string deep = "<contactsBackup version=\"1\"><contact><note>";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    Contacts read;
    std::string error;
    EXPECT_FALSE(ReadXmlBackup(deep, read, error));
    EXPECT_NE(error.find("unexpected element <a> in <note>"), std::string::npos) << error;

    const std::string huge(relay::kMaxBackupBytes + 1, ' ');
    EXPECT_FALSE(ReadXmlBackup(huge, read, error));
    EXPECT_NE(error.find("larger"), std::string::npos) << error;
    EXPECT_TRUE(read.empty());
}

// --- CSV --------------------------------------------------------------------------------------------------

constexpr char kCsvReader[] = R"(
import sys, io, csv, json
data = open(sys.argv[1], 'rb').read()
if not data.startswith(b'\xef\xbb\xbf'):
    print('no byte order mark'); sys.exit(1)
text = data[3:].decode('utf-8')
if not text.endswith('\r\n'):
    print('no final CRLF'); sys.exit(1)
print(json.dumps(list(csv.reader(io.StringIO(text, newline=''), strict=True))))
)";

std::vector<std::vector<std::string>> ReadCsv(const std::string& bytes) {
    const rapidjson::Document document = RunJson(kCsvReader, bytes);
    std::vector<std::vector<std::string>> rows;
    if (document.IsArray()) {
        for (const auto& row : document.GetArray()) rows.push_back(Strings(row));
    }
    return rows;
}

TEST(RelayContactsFilesCsv, PythonReadsTheHeaderAndEveryCell) {
    const auto full = FullContact();
    const auto company = CompanyContact();
    const std::string csv = ComposeCsv({full.get(), nullptr, company.get()});
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
              "\xEF\xBB\xBF"
              "First Name,Middle Name,Last Name,Prefix,Suffix,Nickname,Company,Department,Job Title,"
              "Birthday,Note,Phones,E-mails,Addresses,URLs,IM,Dates,Related Names\r\n");
    const auto rows = ReadCsv(csv);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].size(), 18u);
    EXPECT_EQ(rows[0][17], "Related Names");
    // clang-format off
    const std::vector<std::string> expected = {
        "Zoë", "Ann", "Smith, \"the\" <Best> & Co; \\x", "Dr.", "Jr.", "Zo \xF0\x9F\x98\x80", "Acme, Inc.", "R&D",
        "Engineer", "1992-02-29", "First line\nSecond\tline\r\nThird \xF0\x9F\x98\x80 — 日本",
        "Mobile: +1 555 0100\nhome fax: 555-0101", "Work: zoe@example.com",
        "Home\tsweet: 1 Main St, Apt 2, Zürich, 8001, Switzerland", "Home Page: https://example.com/a b?x=1,2",
        "AIM: zoe smith", "Anniversary: 2015-06-01", "Mother: Ann; \"Mom\""};
    // clang-format on
    EXPECT_EQ(rows[1], expected);
    // clang-format off
    const std::vector<std::string> company_row = {"", "", "", "", "", "", "Solo Corp", "", "", "not a date", "",
                                                  "a,b:\"c: 123", "", "", "", "", "", ""};
    // clang-format on
    EXPECT_EQ(rows[2], company_row);
}

TEST(RelayContactsFilesCsv, CellsASpreadsheetWouldRunAsFormulasAreDefused) {
    auto c = std::make_shared<iOSContact>();
    c->firstName = L"=HYPERLINK(\"http://x\",\"y\")";
    c->lastName = L"-2+3";
    c->nickname = L"@SUM(A1)";
    c->note = L"\tindented";
    c->company = L"a=b";  // only a leading sign counts
    c->phones = {Labelled(CONTACT_KIND_PHONE, L"", L"", L"+1 555")};
    const auto rows = ReadCsv(ComposeCsv({c.get()}));
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].size(), 18u);
    EXPECT_EQ(rows[1][0], "'=HYPERLINK(\"http://x\",\"y\")");
    EXPECT_EQ(rows[1][2], "'-2+3");
    EXPECT_EQ(rows[1][5], "'@SUM(A1)");
    EXPECT_EQ(rows[1][6], "a=b");
    EXPECT_EQ(rows[1][10], "'\tindented");
    EXPECT_EQ(rows[1][11], "'+1 555");
}

// --- vCard ------------------------------------------------------------------------------------------------

// Checks the physical lines (CRLF, at most 75 octets, whole UTF-8 characters, no fold earlier than a
// character's length requires), unfolds them and gives the logical lines and every value split into its
// unescaped components.
constexpr char kVcardReader[] = R"(
import sys, json
data = open(sys.argv[1], 'rb').read()
problems = []
if not data.endswith(b'\r\n'):
    problems.append('no final CRLF')
physical = data[:-2].split(b'\r\n')
for i, line in enumerate(physical):
    if b'\r' in line or b'\n' in line: problems.append('bare line break: %r' % line)
    if len(line) > 75: problems.append('%d octets: %r' % (len(line), line))
    try: line.decode('utf-8')
    except UnicodeDecodeError: problems.append('broken UTF-8: %r' % line)
    if i + 1 < len(physical) and physical[i + 1][:1] == b' ' and len(line) < 72:
        problems.append('early fold: %r' % line)
if problems:
    print('\n'.join(problems)); sys.exit(1)
logical = []
for line in physical:
    if line[:1] == b' ' and logical: logical[-1] += line[1:]
    else: logical.append(line)
logical = [l.decode('utf-8') for l in logical]
def components(value):
    parts, current, i = [], '', 0
    while i < len(value):
        c = value[i]
        if c == '\\' and i + 1 < len(value):
            current += '\n' if value[i + 1] in 'nN' else value[i + 1]; i += 2; continue
        if c == ';': parts.append(current); current = ''
        else: current += c
        i += 1
    return parts + [current]
values = []
for line in logical:
    quoted, cut = False, -1
    for i, c in enumerate(line):
        if c == '"': quoted = not quoted
        elif c == ':' and not quoted: cut = i; break
    values.append([line[:cut], components(line[cut + 1:])])
print(json.dumps({'lines': logical, 'values': values, 'physical': len(physical)}))
)";

TEST(RelayContactsFilesVcard, CardsReadBackLineByLine) {
    const auto full = FullContact();
    const auto company = CompanyContact();
    const rapidjson::Document document = RunJson(kVcardReader, ComposeVcards({full.get(), nullptr, company.get()}));
    ASSERT_TRUE(document.IsObject());
    const std::vector<std::string> expected = {
        "BEGIN:VCARD",
        "VERSION:3.0",
        "N:Smith\\, \"the\" <Best> & Co\\; \\\\x;Zoë;Ann;Dr.;Jr.",
        "FN:Dr. Zoë Ann Smith\\, \"the\" <Best> & Co\\; \\\\x Jr.",
        "X-PHONETIC-FIRST-NAME:ゾーイ",
        "X-PHONETIC-LAST-NAME:スミス",
        "NICKNAME:Zo \xF0\x9F\x98\x80",
        "ORG:Acme\\, Inc.;R&D",
        "TITLE:Engineer",
        "BDAY:1992-02-29",
        "TEL;TYPE=mobile:+1 555 0100",
        "TEL;TYPE=home fax:555-0101",
        "EMAIL;TYPE=work:zoe@example.com",
        "ADR;TYPE=home:;;1 Main St\\nApt 2;Zürich;;8001;Switzerland",
        "URL;TYPE=home page:https://example.com/a%20b?x=1,2",
        "IMPP;TYPE=other:aim:zoe%20smith",
        "X-DATE;TYPE=anniversary:2015-06-01",
        "X-RELATED;TYPE=mother:Ann\\; \"Mom\"",
        "NOTE:First line\\nSecond\tline\\nThird \xF0\x9F\x98\x80 — 日本",
        "END:VCARD",
        "BEGIN:VCARD",
        "VERSION:3.0",
        "N:;;;;",
        "FN:Solo Corp",
        "ORG:Solo Corp",
        "TEL;TYPE=\"a,b:c\":123",
        "END:VCARD",
    };
    EXPECT_EQ(Strings(document["lines"]), expected);
    const auto& values = document["values"];
    ASSERT_EQ(values.Size(), expected.size());
    EXPECT_EQ(Strings(values[2][1]),
              (std::vector<std::string>{"Smith, \"the\" <Best> & Co; \\x", "Zoë", "Ann", "Dr.", "Jr."}));
    EXPECT_EQ(Strings(values[13][1]),
              (std::vector<std::string>{"", "", "1 Main St\nApt 2", "Zürich", "", "8001", "Switzerland"}));
    EXPECT_EQ(Strings(values[18][1]),
              (std::vector<std::string>{"First line\nSecond\tline\nThird \xF0\x9F\x98\x80 — 日本"}));
}

TEST(RelayContactsFilesVcard, FoldsAt75OctetsBetweenWholeCharacters) {
    // Notes of two-, three- and four-byte characters, shifted so that the 75th octet falls on every byte
    // of a character in turn.
    Contacts notes;
    for (const wchar_t* character : {L"é", L"日", L"\U0001F600"}) {
        for (size_t shift = 0; shift < 4; ++shift) {
            auto c = std::make_shared<iOSContact>();
            c->note = std::wstring(shift, L'x');
            for (int i = 0; i < 100; ++i) c->note += character;
            notes.push_back(c);
        }
    }
    const rapidjson::Document document = RunJson(kVcardReader, ComposeVcards(Pointers(notes)));
    ASSERT_TRUE(document.IsObject());
    const auto lines = Strings(document["lines"]);
    ASSERT_EQ(lines.size(), 6 * notes.size());
    for (size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(lines[6 * i + 4], "NOTE:" + Utf8FromWide(notes[i]->note));
    EXPECT_GE(document["physical"].GetUint(), lines.size() + 2 * notes.size()) << "every note is folded twice at least";
}

}  // namespace
