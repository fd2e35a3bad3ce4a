// The contacts page's record rules: display names, date and GUID texts, the label table, copying, the
// search test on every searched field, the sort orders and the group texts and member sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"
#include "contact_rules.h"
#include "guid_text.h"

using namespace ardena;

namespace {

std::shared_ptr<iOSContactProperty> Entry(const wchar_t* key, const wchar_t* value, const wchar_t* label = L"") {
    auto entry = std::make_shared<iOSContactProperty>();
    entry->labelKey = key;
    entry->value = value;
    entry->labelText = label;
    return entry;
}

}  // namespace

TEST(ContactDisplayName, TakesTheFirstRuleThatApplies) {
    struct Case {
        const char* what;
        void (*fill)(iOSContact&);
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"only a last name", [](iOSContact& c) { c.lastName = L"Smith"; }, L"Smith "},
        {"all five parts",
         [](iOSContact& c) {
             c.prefix = L"Dr.";
             c.firstName = L"Ann";
             c.middleName = L"B";
             c.lastName = L"Cole";
             c.suffix = L"Jr.";
         },
         L"Dr. Ann B Cole Jr. "},
        {"suffix alone beats phonetic names",
         [](iOSContact& c) {
             c.suffix = L"III";
             c.phoneticFirstName = L"Anna";
         },
         L"III "},
        {"phonetic names without a trailing blank",
         [](iOSContact& c) {
             c.phoneticFirstName = L"Anna";
             c.phoneticLastName = L"Kato";
         },
         L"Anna Kato"},
        {"nickname", [](iOSContact& c) { c.nickname = L"Bo"; }, L"Bo"},
        {"only a company", [](iOSContact& c) { c.company = L"Acme"; }, L"Acme"},
        {"organisation parts",
         [](iOSContact& c) {
             c.company = L"Acme";
             c.jobTitle = L"Boss";
         },
         L"Acme Boss"},
        {"nothing but a note", [](iOSContact& c) { c.note = L"call back"; }, L"call back"},
        {"empty", [](iOSContact&) {}, L""},
    };
    for (const Case& c : cases) {
        iOSContact contact;
        c.fill(contact);
        EXPECT_EQ(ContactDisplayName(contact), c.expected) << c.what;
    }
}

TEST(ContactDates, WholeTextMatchesAndFirstDateInside) {
    struct Case {
        const wchar_t* text;
        bool isDate;
        const wchar_t* dateOf;
    };
    const Case cases[] = {
        {L"2020-01-05", true, L"2020-01-05"},
        {L"2020-1-05", false, L"2020-1-05"},
        {L"2020-01-05 00:00:00", false, L"2020-01-05"},
        {L"05.01.2020", false, L"05.01.2020"},
        {L"2020/01/05", false, L"2020/01/05"},
        {L"born 1999-12-31!", false, L"1999-12-31"},
        {L"no digits", false, L"no digits"},
        {L"", false, L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDateText(c.text), c.isDate) << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(DateTextOf(c.text), c.dateOf);
    }
    EXPECT_EQ(StoredDateText(L"2020-01-05"), L"2020-01-05 00:00:00");
}

TEST(ContactGuid, ThirdGroupIsLowerCase) {
    const uint8_t tail[8] = {0x01, 0x02, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0};
    EXPECT_EQ(pages::FormatGuidText(0xDEADBEEF, 0x12AB, 0xCDEF, tail), "DEADBEEF-12AB-cdef-0102-A0B0C0D0E0F0");
    const uint8_t zeros[8] = {};
    EXPECT_EQ(pages::FormatGuidText(1, 2, 3, zeros), "00000001-0002-0003-0000-000000000000");
}

TEST(ContactLabels, FirstEntryWinsAndKindsKeepTheirTexts) {
    const ContactLabelTable table = BuildContactLabelTable({{L"de", L"Germany"}, {L"us", L"United States"}});
    ASSERT_EQ(table.size(), 7u);
    struct Case {
        const wchar_t* kind;
        const wchar_t* key;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {CONTACT_KIND_PHONE, L"other", L"Other"},  // "iPhone" shares the key and comes later
        {CONTACT_KIND_PHONE, L"work", L"work"},    // the phone list's own lower-case text
        {CONTACT_KIND_EMAIL, L"work", L"Work"},
        {CONTACT_KIND_EMAIL, L"other", L"Other"},
        {CONTACT_KIND_URL, L"home page", L"Home Page"},
        {CONTACT_KIND_IM, L"qq", L"QQ"},
        {CONTACT_KIND_DATE, L"anniversary", L"Anniversary"},
        {CONTACT_KIND_RELATED_NAME, L"spouse", L"Spouse"},
        {CONTACT_KIND_ADDRESS, L"home", L"Home"},
    };
    for (const Case& c : cases) {
        const auto& labels = table.at(c.kind).labels;
        const int index = FindLabelIndex(labels, c.key);
        ASSERT_GE(index, 0);
        EXPECT_EQ(labels[static_cast<size_t>(index)].second, c.shown);
    }
    EXPECT_EQ(table.at(CONTACT_KIND_PHONE).labels.size(), 9u);
    EXPECT_EQ(table.at(CONTACT_KIND_IM).labels.size(), 11u);
    EXPECT_EQ(FindLabelIndex(table.at(CONTACT_KIND_PHONE).labels, L"car"), -1);
    EXPECT_EQ(table.at(CONTACT_KIND_ADDRESS).countries.size(), 2u);
    EXPECT_TRUE(table.at(CONTACT_KIND_PHONE).countries.empty());

    iOSContactProperty phone;
    phone.labelKey = L"other";
    EXPECT_EQ(ShownLabel(phone), L"other");
    phone.labelText = L"iPhone";
    EXPECT_EQ(ShownLabel(phone), L"iPhone");
    iOSContactIM im;
    im.labelKey = L"other";
    im.service = L"skype";
    EXPECT_EQ(ShownLabel(im), L"skype");
}

TEST(ContactCopy, SharesValuesButNotListsAndLeavesGroupListsEmpty) {
    iOSContact source;
    source.identifier = L"17";
    source.firstName = L"Ann";
    source.birthday = L"1980-02-03 00:00:00";
    source.editState = 2;
    source.phones = {Entry(L"mobile", L"555-1"), Entry(L"home", L"555-2")};
    source.groupsBefore = {L"g1"};
    source.groupsAfter = {L"g2"};
    source.extraValues = {42};
    iOSContact copy(source);
    EXPECT_EQ(copy.identifier, L"17");
    EXPECT_EQ(copy.firstName, L"Ann");
    EXPECT_EQ(copy.birthday, source.birthday);
    EXPECT_EQ(copy.editState, 2);
    ASSERT_EQ(copy.phones.size(), 2u);
    EXPECT_EQ(copy.phones[0].get(), source.phones[0].get()) << "property records are shared";
    EXPECT_TRUE(copy.groupsBefore.empty());
    EXPECT_TRUE(copy.groupsAfter.empty());
    EXPECT_TRUE(copy.extraValues.empty());
    copy.phones.clear();
    EXPECT_EQ(source.phones.size(), 2u) << "clearing the copy's list leaves the source's";
}

TEST(ContactSearch, EverySearchedFieldIsFoldedAndOthersAreNot) {
    iOSContact c;
    c.identifier = L"ident-XYZ";
    c.recordKind = L"person";
    c.firstName = L"Zoë";
    c.jobTitle = L"Engineer";
    c.note = L"Likes TEA";
    c.phones = {Entry(L"mobile", L"+49 555 0100", L"Handy")};
    c.emails = {Entry(L"work", L"ann@example.org")};
    c.urls = {Entry(L"home page", L"http://ann.example")};
    c.dates = {Entry(L"anniversary", L"2001-06-07 00:00:00")};
    c.relatedNames = {Entry(L"spouse", L"Bob")};
    auto im = std::make_shared<iOSContactIM>();
    im->labelKey = L"other";
    im->labelText = L"Skype";
    im->service = L"skype";
    im->userName = L"annie77";
    im->reserved = L"secret";
    c.instantMessaging = {im};
    auto address = std::make_shared<iOSContactAddress>();
    address->labelKey = L"home";
    address->street = L"1 Main St";
    address->city = L"Springfield";
    address->postalCode = L"12345";
    address->country = L"Freedonia";
    address->countryCode = L"fd";
    c.addresses = {address};

    struct Case {
        const wchar_t* query;
        bool found;
    };
    // clang-format off
    const Case cases[] = {
        {L"zoë", true},       {L"engineer", true},  {L"tea", true},        {L"0100", true},
        {L"handy", true},     {L"mobile", true},    {L"example.org", true}, {L"home page", true},
        {L"2001-06", true},   {L"anniversary", true}, {L"bob", true},     {L"annie7", true},
        {L"skype", true},     {L"springfield", true}, {L"12345", true},   {L"freedonia", true},
        {L"main st", true},   {L"ident", false},    {L"person", false},   {L"secret", false},
        {L"fd", false},       {L"nobody", false},
    };
    // clang-format on
    for (const Case& k : cases) {
        EXPECT_EQ(ContactMatchesQuery(c, FoldLower(k.query)), k.found)
            << std::string(k.query, k.query + wcslen(k.query));
    }
    EXPECT_EQ(FoldLower(L"AbC-1"), L"abc-1");
}

TEST(ContactRows, PhoneColumnIsTheFirstNonEmptyValue) {
    iOSContact c;
    EXPECT_EQ(FirstPhoneText(c), L"");
    c.phones = {Entry(L"home", L""), Entry(L"work", L"555-2"), Entry(L"main", L"555-3")};
    EXPECT_EQ(FirstPhoneText(c), L"555-2");
}

TEST(ContactSort, RowsSortOnEitherColumnInBothDirections) {
    std::vector<std::unique_ptr<iOSContact>> store;
    auto make = [&store](const wchar_t* last, const wchar_t* phone) {
        auto c = std::make_unique<iOSContact>();
        c->lastName = last;
        if (*phone) c->phones = {Entry(L"home", phone)};
        store.push_back(std::move(c));
        return store.back().get();
    };
    iOSContact* berta = make(L"berta", L"300");
    iOSContact* anna = make(L"Anna", L"100");
    iOSContact* carl = make(L"Carl", L"");
    struct Case {
        int column;
        bool ascending;
        std::vector<iOSContact*> expected;
    };
    const Case cases[] = {
        {1, true, {anna, berta, carl}},
        {1, false, {carl, berta, anna}},
        {2, true, {carl, anna, berta}},
        {2, false, {berta, anna, carl}},
    };
    for (const Case& c : cases) {
        std::vector<iOSContact*> rows = {berta, carl, anna};
        SortContactRows(rows, c.column, c.ascending, &CompareTextNoCase);
        EXPECT_EQ(rows, c.expected) << c.column << (c.ascending ? " ascending" : " descending");
    }
    EXPECT_LT(CompareTextNoCase(L"abc", L"ABD"), 0);
    EXPECT_EQ(CompareTextNoCase(L"ABC", L"abc"), 0);
    EXPECT_GT(CompareTextNoCase(L"abcd", L"ABC"), 0);
}

TEST(ContactSort, LoadedContactsFoldOnlyAsciiLetters) {
    std::vector<std::shared_ptr<iOSContact>> held;
    for (const wchar_t* name : {L"beta", L"Alpha", L"_under", L"Zed"}) {
        auto c = std::make_shared<iOSContact>();
        c->firstName = name;
        held.push_back(c);
    }
    SortContactsByName(held);
    std::vector<std::wstring> names;
    for (const auto& c : held) names.push_back(c->firstName);
    // Ordinal after folding: '_' (0x5F) comes before every lower-case letter.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"_under", L"Alpha", L"beta", L"Zed"}));
}

TEST(ContactGroups, GroupTextJoinsMatchingNamesAndItemTextCountsAllMembers) {
    auto friends = std::make_shared<iOSContactGroup>();
    friends->name = L"Friends";
    friends->members = {L"1", L"2"};
    auto work = std::make_shared<iOSContactGroup>();
    work->name = L"Work";
    work->members = {L"2", L"99"};
    auto others = std::make_shared<iOSContactGroup>();
    others->name = L"Others";
    others->members = {L"22"};
    const std::vector<std::shared_ptr<iOSContactGroup>> groups = {friends, work, others};
    EXPECT_EQ(GroupTextOf(L"2", groups), L"Friends,Work");
    EXPECT_EQ(GroupTextOf(L"1", groups), L"Friends");
    EXPECT_EQ(GroupTextOf(L"7", groups), L"");
    EXPECT_EQ(GroupItemText(*work), L"Work (2)");
}

TEST(ContactGroups, MemberUnionAndDifferenceAreSorted) {
    EXPECT_EQ(MemberUnion({L"3", L"1"}, {L"2", L"3"}), (std::vector<std::wstring>{L"1", L"2", L"3"}));
    EXPECT_EQ(MemberUnion({}, {}), std::vector<std::wstring>{});
    EXPECT_EQ(MemberDifference({L"3", L"1", L"2"}, {L"2", L"9"}), (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_EQ(MemberDifference({L"1", L"1"}, {L"1"}), std::vector<std::wstring>{});
}

TEST(ContactRules, PreviewValuesBreakBeforeTheAtSignAndNeverInsideWords) {
    EXPECT_EQ(ardena::PreviewValueLines(L"ann.longname@example.org"), L"ann.longname\n@example.org");
    EXPECT_EQ(ardena::PreviewValueLines(L"a@b@c.org"), L"a@b\n@c.org") << "before the last '@'";
    EXPECT_EQ(ardena::PreviewValueLines(L"https://example.org/path"), L"https://example.org/path");
    EXPECT_EQ(ardena::PreviewValueLines(L"@handle"), L"@handle");
    EXPECT_EQ(ardena::PreviewValueLines(L"two words@x"), L"two words@x") << "text with blanks wraps by itself";
}

TEST(ContactColumns, NamesGetTheirWidthAsLongAsThePhonesKeepTheirs) {
    struct Case {
        int width, number, name, phone;
        ContactColumnWidths expected;
    };
    const Case cases[] = {
        {500, 60, 150, 120, {60, 264, 176}},  // short names: 60 percent of the rest
        {500, 60, 300, 120, {60, 300, 140}},  // a long name takes more, up to its need
        {500, 60, 400, 120, {60, 320, 120}},  // ... while the phones keep what they need
        {300, 60, 400, 200, {60, 144, 96}},   // a list too narrow for both: the shares stand
        {40, 60, 100, 100, {40, 0, 0}},       // narrower than the numbers
        {-5, 60, 100, 100, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const ContactColumnWidths got = SplitContactColumns(c.width, c.number, c.name, c.phone);
        EXPECT_EQ(got.number, c.expected.number) << c.width << " " << c.name;
        EXPECT_EQ(got.name, c.expected.name) << c.width << " " << c.name;
        EXPECT_EQ(got.phone, c.expected.phone) << c.width << " " << c.name;
        EXPECT_EQ(got.number + got.name + got.phone, std::max(0, c.width));
    }
}
