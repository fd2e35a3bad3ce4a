// The contacts page's window-free rules; see contact_rules.h.
#include "contact_rules.h"

#include <algorithm>
#include <cwctype>

namespace ardena {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// "dddd-dd-dd" starting at `at`.
bool DateAt(const std::wstring& text, size_t at) {
    static const char kShape[] = "dddd-dd-dd";
    if (text.size() < at + 10) return false;
    for (size_t i = 0; i < 10; ++i) {
        const wchar_t c = text[at + i];
        if (kShape[i] == 'd' ? !IsDigit(c) : c != L'-') return false;
    }
    return true;
}

void AppendJoined(std::wstring& out, const std::wstring& part, const wchar_t* separator) {
    if (part.empty()) return;
    if (!out.empty()) out += separator;
    out += part;
}

bool Holds(const std::wstring& text, const std::wstring& foldedQuery) {
    return FoldLower(text).find(foldedQuery) != std::wstring::npos;
}

bool PropertyMatches(const iOSContactProperty& entry, const std::wstring& query) {
    return Holds(entry.labelKey, query) || Holds(entry.value, query) || Holds(entry.labelText, query);
}

std::wstring FoldAscii(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return out;
}

}  // namespace

std::wstring ContactDisplayName(const iOSContact& c) {
    std::wstring name;
    for (const std::wstring* part : {&c.prefix, &c.firstName, &c.middleName, &c.lastName, &c.suffix}) {
        if (!part->empty()) name += *part + L" ";
    }
    if (!name.empty()) return name;
    for (const std::wstring* part : {&c.phoneticFirstName, &c.phoneticMiddleName, &c.phoneticLastName}) {
        AppendJoined(name, *part, L" ");
    }
    if (!name.empty()) return name;
    if (!c.nickname.empty()) return c.nickname;
    for (const std::wstring* part : {&c.company, &c.department, &c.jobTitle}) {
        AppendJoined(name, *part, L" ");
    }
    if (!name.empty()) return name;
    return c.note;
}

bool IsDateText(const std::wstring& text) { return text.size() == 10 && DateAt(text, 0); }

std::wstring DateTextOf(const std::wstring& text) {
    for (size_t at = 0; at + 10 <= text.size(); ++at) {
        if (DateAt(text, at)) return text.substr(at, 10);
    }
    return text;
}

std::wstring StoredDateText(const std::wstring& date) { return date + L" 00:00:00"; }

ContactLabelTable BuildContactLabelTable(const std::vector<WideStringPair>& countries) {
    ContactLabelTable table;
    auto add = [&table](const wchar_t* kind, std::vector<WideStringPair> labels) {
        table[kind] = ContactLabelKind{kind, std::move(labels), {}};
    };
    add(CONTACT_KIND_PHONE, {{L"home", L"Home"},
                             {L"home fax", L"Home Fax"},
                             {L"mobile", L"Mobile"},
                             {L"work", L"work"},
                             {L"work fax", L"Work Fax"},
                             {L"main", L"Main"},
                             {L"pager", L"Pager"},
                             {L"other", L"Other"},
                             {L"other", L"iPhone"}});
    add(CONTACT_KIND_EMAIL, {{L"home", L"Home"}, {L"work", L"Work"}, {L"other", L"Other"}, {L"other", L"iCloud"}});
    add(CONTACT_KIND_URL, {{L"home page", L"Home Page"}, {L"home", L"Home"}, {L"work", L"Work"}, {L"other", L"Other"}});
    add(CONTACT_KIND_IM, {{L"aim", L"AIM"},
                          {L"msn", L"MSN"},
                          {L"googletalk", L"GoogleTalk"},
                          {L"facebook", L"Facebook"},
                          {L"yahoo", L"Yahoo"},
                          {L"icq", L"ICQ"},
                          {L"jabber", L"Jabber"},
                          {L"qq", L"QQ"},
                          {L"gadugadu", L"Gadugadu"},
                          {L"skype", L"Skype"},
                          {L"other", L"Other"}});
    add(CONTACT_KIND_ADDRESS, {{L"home", L"Home"}, {L"work", L"Work"}, {L"other", L"Other"}});
    table[CONTACT_KIND_ADDRESS].countries = countries;
    add(CONTACT_KIND_DATE, {{L"anniversary", L"Anniversary"}, {L"other", L"Other"}});
    add(CONTACT_KIND_RELATED_NAME, {{L"father", L"Father"},
                                    {L"mother", L"Mother"},
                                    {L"sister", L"Sister"},
                                    {L"brother", L"Brother"},
                                    {L"child", L"Child"},
                                    {L"manager", L"Manager"},
                                    {L"friend", L"Friend"},
                                    {L"parent", L"Parent"},
                                    {L"assistant", L"Assistant"},
                                    {L"spouse", L"Spouse"},
                                    {L"other", L"Other"}});
    return table;
}

int FindLabelIndex(const std::vector<WideStringPair>& entries, const std::wstring& key) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first == key) return static_cast<int>(i);
    }
    return -1;
}

std::wstring ShownLabel(const iOSContactProperty& entry) {
    return entry.labelText.empty() ? entry.labelKey : entry.labelText;
}

std::wstring ShownLabel(const iOSContactIM& entry) { return entry.labelText.empty() ? entry.service : entry.labelText; }

std::wstring FoldLower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

bool ContactMatchesQuery(const iOSContact& c, const std::wstring& query) {
    for (const std::wstring* field :
         {&c.firstName, &c.middleName, &c.lastName, &c.phoneticFirstName, &c.phoneticMiddleName, &c.phoneticLastName,
          &c.nickname, &c.prefix, &c.suffix, &c.company, &c.department, &c.jobTitle, &c.birthday, &c.note}) {
        if (Holds(*field, query)) return true;
    }
    for (const auto* list : {&c.phones, &c.emails, &c.urls, &c.dates, &c.relatedNames}) {
        for (const auto& entry : *list) {
            if (entry && PropertyMatches(*entry, query)) return true;
        }
    }
    for (const auto& entry : c.instantMessaging) {
        if (entry &&
            (Holds(entry->labelText, query) || Holds(entry->service, query) || Holds(entry->userName, query))) {
            return true;
        }
    }
    for (const auto& entry : c.addresses) {
        if (!entry) continue;
        for (const std::wstring* field :
             {&entry->labelKey, &entry->street, &entry->city, &entry->state, &entry->postalCode, &entry->country}) {
            if (Holds(*field, query)) return true;
        }
    }
    return false;
}

std::wstring PreviewValueLines(const std::wstring& value) {
    if (value.find_first_of(L" \t\r\n") != std::wstring::npos) return value;
    const size_t at = value.rfind(L'@');
    if (at == std::wstring::npos || at == 0) return value;
    return value.substr(0, at) + L"\n" + value.substr(at);
}

ContactColumnWidths SplitContactColumns(int width, int numberNeed, int nameNeed, int phoneNeed) {
    width = std::max(0, width);
    const int number = std::min(std::max(0, numberNeed), width);
    const int rest = width - number;
    const int share = rest * 60 / 100;
    int name = share;
    if (nameNeed > share) name = std::min(nameNeed, std::max(share, rest - std::max(0, phoneNeed)));
    return ContactColumnWidths{number, name, rest - name};
}

std::wstring FirstPhoneText(const iOSContact& contact) {
    for (const auto& phone : contact.phones) {
        if (phone && !phone->value.empty()) return phone->value;
    }
    return std::wstring();
}

std::wstring GroupItemText(const iOSContactGroup& group) {
    return group.name + L" (" + std::to_wstring(group.members.size()) + L")";
}

std::wstring GroupTextOf(const std::wstring& identifier, const std::vector<std::shared_ptr<iOSContactGroup>>& groups) {
    std::wstring text;
    for (const auto& group : groups) {
        if (group && std::find(group->members.begin(), group->members.end(), identifier) != group->members.end()) {
            AppendJoined(text, group->name, L",");
        }
    }
    return text;
}

std::vector<std::wstring> MemberUnion(std::vector<std::wstring> members, std::vector<std::wstring> added) {
    std::sort(members.begin(), members.end());
    std::sort(added.begin(), added.end());
    std::vector<std::wstring> out;
    std::set_union(members.begin(), members.end(), added.begin(), added.end(), std::back_inserter(out));
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::vector<std::wstring> MemberDifference(std::vector<std::wstring> members, std::vector<std::wstring> removed) {
    std::sort(members.begin(), members.end());
    std::sort(removed.begin(), removed.end());
    std::vector<std::wstring> out;
    std::set_difference(members.begin(), members.end(), removed.begin(), removed.end(), std::back_inserter(out));
    // set_difference removes one copy per copy in `removed`; a removed identifier goes entirely.
    out.erase(std::remove_if(out.begin(), out.end(),
                             [&removed](const std::wstring& id) {
                                 return std::binary_search(removed.begin(), removed.end(), id);
                             }),
              out.end());
    return out;
}

void SortContactsByName(std::vector<std::shared_ptr<iOSContact>>& contacts) {
    std::vector<std::pair<std::wstring, std::shared_ptr<iOSContact>>> keyed;
    keyed.reserve(contacts.size());
    for (auto& contact : contacts) {
        keyed.emplace_back(contact ? FoldAscii(ContactDisplayName(*contact)) : std::wstring(), std::move(contact));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < keyed.size(); ++i) contacts[i] = std::move(keyed[i].second);
}

int CompareTextNoCase(const wchar_t* first, const wchar_t* second) {
    for (;; ++first, ++second) {
        const wint_t a = std::towlower(static_cast<wint_t>(*first));
        const wint_t b = std::towlower(static_cast<wint_t>(*second));
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

void SortContactRows(std::vector<iOSContact*>& rows, int column, bool ascending, TextCompare compare) {
    std::vector<std::pair<std::wstring, iOSContact*>> keyed;
    keyed.reserve(rows.size());
    for (iOSContact* row : rows) {
        keyed.emplace_back(row == nullptr ? std::wstring()
                           : column == 2  ? FirstPhoneText(*row)
                                          : ContactDisplayName(*row),
                           row);
    }
    std::sort(keyed.begin(), keyed.end(), [compare, ascending](const auto& a, const auto& b) {
        const int order = compare(a.first.c_str(), b.first.c_str());
        return ascending ? order < 0 : order > 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) rows[i] = keyed[i].second;
}

}  // namespace ardena
