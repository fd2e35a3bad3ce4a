#pragma once
// The contacts page's rules that need no window: the display name of a contact, the label table that turns
// the device's label keys into display texts, date texts, GUID texts for new groups, the search test, the
// texts of list rows and group items, member-set arithmetic and the sort orders. Compiled into the plug-in
// and into the native tests; no windows.h. Pure functions; any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "contact_records.h"
#include "wide_pair.h"

namespace ardena {

// The list and detail name of a contact (the first rule that applies):
// 1. prefix, first, middle, last, suffix: the non-empty ones, each followed by one blank;
// 2. the non-empty phonetic first, middle and last names joined by single blanks;
// 3. the nickname; 4. the non-empty company, department and job title joined by single blanks;
// 5. the note; 6. the empty text.
std::wstring ContactDisplayName(const iOSContact& contact);

// True when the whole text is four digits, '-', two digits, '-', two digits.
bool IsDateText(const std::wstring& text);
// The first such date inside the text, or the whole text when it holds none.
std::wstring DateTextOf(const std::wstring& text);
// The date as the editor stores it: the date text and " 00:00:00".
std::wstring StoredDateText(const std::wstring& date);

// One kind of the label table: the device's label keys with their display texts, in list order (several
// entries may share a key; a lookup by key takes the first), and, for the address kind only, the country
// list (country code, country name).
struct ContactLabelKind {
    std::wstring kind;
    std::vector<WideStringPair> labels;
    std::vector<WideStringPair> countries;
};
using ContactLabelTable = std::map<std::wstring, ContactLabelKind>;

// The table of the seven labelled kinds; `countries` becomes the address kind's second list.
ContactLabelTable BuildContactLabelTable(const std::vector<WideStringPair>& countries);
// The index of the first entry whose key is `key`, or -1.
int FindLabelIndex(const std::vector<WideStringPair>& entries, const std::wstring& key);

// The label shown for an entry: its label text, else its label key (an IM entry: else its service key).
std::wstring ShownLabel(const iOSContactProperty& entry);
std::wstring ShownLabel(const iOSContactIM& entry);

// Every character folded with towlower.
std::wstring FoldLower(std::wstring text);
// The search test: true when `foldedQuery` (already folded, not empty) is a substring of any searched text
// of the contact, each folded first: the text fields from first name through note; of every phone, e-mail,
// URL, date and related name: label key, value and label text; of every IM entry: label text, service key
// and user name; of every address: label key, street, city, state, postal code and country.
bool ContactMatchesQuery(const iOSContact& contact, const std::wstring& foldedQuery);

// The lines of a preview value without blanks (an e-mail address) too wide for the pane: broken before its
// last '@', so that the line breaks where a reader expects and not in the middle of a word.
std::wstring PreviewValueLines(const std::wstring& value);

// The contacts list's column widths for a list `width` pixels wide, from what each column's widest text
// needs: the number column gets its need; of the rest the names get 60 percent, or more, up to their need,
// as long as the phones keep theirs; the phones get what remains. Never negative.
struct ContactColumnWidths {
    int number;
    int name;
    int phone;
};
ContactColumnWidths SplitContactColumns(int width, int numberNeed, int nameNeed, int phoneNeed);

// The phone column: the value of the first phone with a non-empty value, else empty.
std::wstring FirstPhoneText(const iOSContact& contact);

// A group's tree text: name, " (", member count, ")".
std::wstring GroupItemText(const iOSContactGroup& group);
// The names of the groups whose members hold `identifier` (exact comparison), in order, joined by ",".
std::wstring GroupTextOf(const std::wstring& identifier, const std::vector<std::shared_ptr<iOSContactGroup>>& groups);

// Member sets: both lists sorted by ordinal comparison first; the union keeps one copy of each identifier
// and the difference removes every identifier of `removed`.
std::vector<std::wstring> MemberUnion(std::vector<std::wstring> members, std::vector<std::wstring> added);
std::vector<std::wstring> MemberDifference(std::vector<std::wstring> members, std::vector<std::wstring> removed);

// The order of the held contacts once loading has finished: ascending display name, compared ordinally
// after folding ASCII letters to lower case (an unstable sort).
void SortContactsByName(std::vector<std::shared_ptr<iOSContact>>& contacts);

// A column comparison of two texts: negative, zero or positive.
using TextCompare = int (*)(const wchar_t* first, const wchar_t* second);
// The case-insensitive comparison used where the system's is not at hand (towlower, code unit order).
int CompareTextNoCase(const wchar_t* first, const wchar_t* second);
// Sorts rows (record pointers) by column 1 (display name) or 2 (phone text) with an unstable sort.
void SortContactRows(std::vector<iOSContact*>& rows, int column, bool ascending, TextCompare compare);

}  // namespace ardena
