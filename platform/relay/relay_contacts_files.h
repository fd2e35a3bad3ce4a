#pragma once
// The contacts page's export and import files: the checked contacts as one vCard file, one CSV table or
// one XML backup, and the backup read back. Bytes in, bytes out (UTF-8): the relay writes and reads the
// files itself. No state; any thread.
//
// vCard (3.0, CRLF, lines folded at 75 octets between whole UTF-8 characters), per contact:
//   BEGIN:VCARD / VERSION:3.0 / N:last;first;middle;prefix;suffix / FN:display name
//   X-PHONETIC-FIRST-NAME, X-PHONETIC-MIDDLE-NAME, X-PHONETIC-LAST-NAME, NICKNAME, ORG:company;department,
//   TITLE, BDAY:YYYY-MM-DD, NOTE
//   TEL;TYPE=<label key>, EMAIL;TYPE=.., ADR;TYPE=..:;;street;city;state;postal code;country, URL;TYPE=..
//   IMPP;TYPE=..:<service>:<user>     (the service as a URI scheme, "im" when there is none)
//   X-DATE;TYPE=<label key>:YYYY-MM-DD and X-RELATED;TYPE=<label key>:<name>
//   END:VCARD
// Text values escape backslash, comma, semicolon and line breaks; URL and IMPP values are URIs and get
// percent escapes for the characters a URI cannot hold instead. Dates that are not "YYYY-MM-DD..." texts
// are left out.
//
// CSV (UTF-8 with a byte order mark, CRLF, fields quoted as spreadsheets expect): one header row of
// First Name .. Note, then one cell per labelled kind (Phones, E-mails, Addresses, URLs, IM, Dates,
// Related Names) holding "label: value" entries, one a line. A cell that a spreadsheet would take for a
// formula (starting with = + - @, a tab or CR) gets a leading apostrophe.
//
// XML backup (UTF-8):
//   <contactsBackup version="1">
//     <contact>
//       <firstName>..</firstName> .. <recordKind>..</recordKind>   every text field, always, in this order
//       <phone kind=".." labelKey=".." labelText=".." value=".."/>  and email, url, date, relatedName
//       <address kind labelKey labelText value street city state postalCode country countryCode/>
//       <im kind labelKey labelText value service userName/>
//     </contact>
//   </contactsBackup>
// Device ids (the contact's identifier, the labelled values' sub-record ids) are not saved: an imported
// contact is always a new record on the device.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"

namespace relay {

// The names the exports are written under.
constexpr wchar_t kVcardsFileName[] = L"Contacts.vcf";
constexpr wchar_t kCsvFileName[] = L"Contacts.csv";
constexpr wchar_t kXmlBackupFileName[] = L"Contacts.xml";

// The largest backup ReadXmlBackup accepts.
constexpr std::size_t kMaxBackupBytes = 64u * 1024 * 1024;

// The whole file for the contacts, in their order; null entries are skipped.
std::string ComposeVcards(const std::vector<const iOSContact*>& contacts);
std::string ComposeCsv(const std::vector<const iOSContact*>& contacts);
std::string ComposeXmlBackup(const std::vector<const iOSContact*>& contacts);

// Appends the contacts of a backup made by ComposeXmlBackup: identifiers and sub-record ids empty,
// property flags 0, record kinds as saved, group lists empty. False, with nothing appended and a short
// reason in `error`, when the bytes are not such a backup (or are larger than kMaxBackupBytes).
[[nodiscard]] bool ReadXmlBackup(const std::string& bytes, std::vector<std::shared_ptr<iOSContact>>& contacts,
                                 std::string& error);

}  // namespace relay
