// The contact editor's save rules: the rows a contact opens with, what each row shows, which rows a save
// accepts, and the record that each OK hands to the host (repeatable, one copy of each row, organisation
// and single-valued fields cleared when their rows are emptied).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "contact_editor_rules.h"

using namespace ardena;

namespace {

const ContactLabelTable& Labels() {
    static const ContactLabelTable table = BuildContactLabelTable({{L"de", L"Germany"}, {L"us", L"United States"}});
    return table;
}

std::shared_ptr<iOSContactProperty> Entry(const wchar_t* kind, const wchar_t* key, const wchar_t* value,
                                          const wchar_t* label = L"") {
    auto entry = std::make_shared<iOSContactProperty>();
    entry->kind = kind;
    entry->labelKey = key;
    entry->value = value;
    entry->labelText = label;
    return entry;
}

std::vector<RowKind> KindsOf(const std::vector<RowSeed>& seeds) {
    std::vector<RowKind> kinds;
    for (const RowSeed& seed : seeds) kinds.push_back(seed.kind);
    return kinds;
}

RowInput Input(std::vector<std::wstring> texts, int labelIndex = 0, const wchar_t* labelText = L"",
               int countryIndex = -1) {
    RowInput input;
    input.texts = std::move(texts);
    input.labelIndex = labelIndex;
    input.labelText = labelText;
    input.countryIndex = countryIndex;
    return input;
}

CollectedRow Collect(RowKind kind, const RowInput& input) {
    return CollectRow(RowSeed{kind, NewRowRecord(kind)}, input, Labels());
}

}  // namespace

TEST(ContactEditorRows, KindTablesAndIdRanges) {
    ASSERT_EQ(RowKinds().size(), 14u);
    int previousLast = 4999;
    for (const RowKindInfo& info : RowKinds()) {
        EXPECT_GT(info.firstId, previousLast) << "ranges ascend in layout order";
        previousLast = info.lastId;
        EXPECT_EQ(FindRowKindByRecordKind(info.recordKind), &info);
        if (info.addFieldId != 0) {
            EXPECT_EQ(FindRowKindByAddFieldId(info.addFieldId), &info);
        }
    }
    struct Case {
        int id;
        RowKind kind;
    };
    // clang-format off
    const Case cases[] = {{5100, RowKind::kPhone}, {5199, RowKind::kPhone}, {5200, RowKind::kEmail},
                          {5050, RowKind::kDate},  {5051, RowKind::kRelatedName}, {5701, RowKind::kOrganization}};
    // clang-format on
    for (const Case& c : cases) {
        ASSERT_NE(FindRowKindById(c.id), nullptr) << c.id;
        EXPECT_EQ(FindRowKindById(c.id)->kind, c.kind) << c.id;
    }
    EXPECT_EQ(FindRowKindById(5300 - 1)->kind, RowKind::kEmail);
    EXPECT_EQ(FindRowKindById(5950), nullptr);
    EXPECT_EQ(FindRowKindByAddFieldId(9013), nullptr);
    EXPECT_EQ(FindRowKind(RowKind::kPhone)->addFieldId, 0) << "phones are not offered by Add Field";
    ASSERT_EQ(AddFieldTable().size(), 13u);
    EXPECT_EQ(AddFieldTable().front().id, 9000);
    EXPECT_EQ(AddFieldTable().back().id, 9012);
    EXPECT_TRUE(IsMultiValued(RowKind::kUrl));
    EXPECT_FALSE(IsMultiValued(RowKind::kBirthday));
    EXPECT_EQ(DateHint(L"2031"), L"YYYY-MM-DD e.g. 2031-01-01");
}

TEST(ContactEditorRows, NewContactOpensWithPhoneEmailAndAddress) {
    iOSContact contact;
    EXPECT_EQ(KindsOf(SeedRows(contact, true)),
              (std::vector<RowKind>{RowKind::kPhone, RowKind::kEmail, RowKind::kAddress}));
}

TEST(ContactEditorRows, ExistingContactOpensWithARowPerValueAndEmptiesItsLists) {
    iOSContact contact;
    contact.phones = {Entry(CONTACT_KIND_PHONE, L"mobile", L"1"), Entry(CONTACT_KIND_PHONE, L"home", L"2"),
                      Entry(CONTACT_KIND_PHONE, L"work", L"3")};
    contact.urls = {Entry(CONTACT_KIND_URL, L"home", L"http://x")};
    contact.company = L"Acme";
    contact.note = L"n";
    contact.birthday = L"1980-02-03 00:00:00";
    const iOSContactProperty* firstPhone = contact.phones[0].get();
    const std::vector<RowSeed> seeds = SeedRows(contact, false);
    EXPECT_EQ(KindsOf(seeds), (std::vector<RowKind>{RowKind::kPhone, RowKind::kPhone, RowKind::kPhone, RowKind::kUrl,
                                                    RowKind::kOrganization, RowKind::kBirthday, RowKind::kNote}));
    EXPECT_EQ(seeds[0].record->value, L"1");
    EXPECT_EQ(seeds[2].record->value, L"3");
    EXPECT_NE(seeds[0].record.get(), firstPhone) << "rows edit copies, never the page's records";
    EXPECT_TRUE(contact.phones.empty());
    EXPECT_TRUE(contact.urls.empty());
    EXPECT_EQ(seeds[4].record->labelText, L"Acme");

    iOSContact noPhone;
    noPhone.emails = {Entry(CONTACT_KIND_EMAIL, L"home", L"a@b")};
    EXPECT_EQ(KindsOf(SeedRows(noPhone, false)), (std::vector<RowKind>{RowKind::kEmail, RowKind::kPhone}));
}

TEST(ContactEditorRows, LabelCombosStartOnTheFirstMatchingEntry) {
    struct Case {
        const char* what;
        RowKind kind;
        const wchar_t* key;
        const wchar_t* label;
        int index;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"phone labelled other", RowKind::kPhone, L"other", L"", 7, L"Other"},
        {"phone shown as iPhone", RowKind::kPhone, L"other", L"iPhone", 7, L"iPhone"},
        {"user's own label", RowKind::kPhone, L"car", L"Car phone", -1, L"Car phone"},
        {"new phone", RowKind::kPhone, L"", L"", 0, L"Home"},
        {"new e-mail", RowKind::kEmail, L"", L"", 0, L"Home"},
        {"new URL", RowKind::kUrl, L"", L"", 0, L"Home Page"},
        {"new date", RowKind::kDate, L"", L"", 0, L"Anniversary"},
        {"new related name", RowKind::kRelatedName, L"", L"", 0, L"Father"},
        {"new address", RowKind::kAddress, L"", L"", 0, L"Home"},
    };
    for (const Case& c : cases) {
        auto record = NewRowRecord(c.kind);
        record->labelKey = c.key;
        record->labelText = c.label;
        const RowContent content = InitialContent(RowSeed{c.kind, record}, Labels());
        EXPECT_EQ(content.labelIndex, c.index) << c.what;
        EXPECT_EQ(content.labelText, c.text) << c.what;
    }
    auto im = std::static_pointer_cast<iOSContactIM>(NewRowRecord(RowKind::kIM));
    EXPECT_EQ(InitialContent(RowSeed{RowKind::kIM, im}, Labels()).labelText, L"AIM");
    im->service = L"skype";
    im->userName = L"ann";
    const RowContent imContent = InitialContent(RowSeed{RowKind::kIM, im}, Labels());
    EXPECT_EQ(imContent.labelIndex, 9);
    EXPECT_EQ(imContent.texts, std::vector<std::wstring>{L"ann"});

    auto address = std::static_pointer_cast<iOSContactAddress>(NewRowRecord(RowKind::kAddress));
    address->countryCode = L"us";
    address->city = L"Boston";
    const RowContent addressContent = InitialContent(RowSeed{RowKind::kAddress, address}, Labels());
    EXPECT_EQ(addressContent.countryIndex, 1);
    EXPECT_EQ(addressContent.texts, (std::vector<std::wstring>{L"", L"Boston", L"", L""}));
    address->countryCode = L"zz";
    EXPECT_EQ(InitialContent(RowSeed{RowKind::kAddress, address}, Labels()).countryIndex, 0);

    auto birthday = NewRowRecord(RowKind::kBirthday);
    birthday->value = L"1980-02-03 00:00:00";
    EXPECT_EQ(InitialContent(RowSeed{RowKind::kBirthday, birthday}, Labels()).texts,
              std::vector<std::wstring>{L"1980-02-03"});
}

TEST(ContactEditorRows, SaveAcceptsOnlyRowsWithUsableValues) {
    struct Case {
        const char* what;
        RowKind kind;
        RowInput input;
        bool accepted;
    };
    const Case cases[] = {
        {"birthday with hyphens", RowKind::kBirthday, Input({L"2020-01-05"}), true},
        {"birthday with slashes", RowKind::kBirthday, Input({L"2020/01/05"}), false},
        {"birthday hint", RowKind::kBirthday, Input({DateHint(L"2024")}), false},
        {"date day first with dots", RowKind::kDate, Input({L"05.01.2020"}), false},
        {"date year first", RowKind::kDate, Input({L"2020-01-05"}), true},
        {"blank phone", RowKind::kPhone, Input({L"   "}), false},
        {"phone", RowKind::kPhone, Input({L"555"}), true},
        {"address of hints", RowKind::kAddress, Input({L"Street", L"City", L"State", L"Postal Code"}), false},
        {"address with a city", RowKind::kAddress, Input({L"Street", L"Lyon", L"State", L"Postal Code"}), true},
        {"organisation of hints", RowKind::kOrganization, Input({L"Jobtitle", L" Department ", L"Company"}), false},
        {"organisation with a company", RowKind::kOrganization, Input({L"Jobtitle", L"", L"Acme"}), true},
        {"blank nickname", RowKind::kNickname, Input({L"\t"}), false},
        {"IM without user name", RowKind::kIM, Input({L""}), false},
    };
    for (const Case& c : cases) {
        const CollectedRow row = Collect(c.kind, c.input);
        EXPECT_EQ(row.accepted, c.accepted) << c.what;
        EXPECT_EQ(row.record != nullptr, c.accepted) << c.what;
    }
}

TEST(ContactEditorRows, LabelsAreReadFromTheComboOrTyped) {
    const CollectedRow typed = Collect(RowKind::kPhone, Input({L"555"}, -1, L"Car phone"));
    EXPECT_EQ(typed.record->labelKey, L"other");
    EXPECT_EQ(typed.record->labelText, L"Car phone");
    const CollectedRow chosen = Collect(RowKind::kPhone, Input({L"555"}, 2, L"Mobile"));
    EXPECT_EQ(chosen.record->labelKey, L"mobile");
    EXPECT_EQ(chosen.record->labelText, L"Mobile");

    const CollectedRow msn = Collect(RowKind::kIM, Input({L"ann"}, 1, L"MSN"));
    const auto& im = static_cast<const iOSContactIM&>(*msn.record);
    EXPECT_EQ(im.service, L"msn");
    EXPECT_EQ(im.labelText, L"MSN");
    EXPECT_EQ(im.labelKey, L"other");
    const CollectedRow ownService = Collect(RowKind::kIM, Input({L"ann"}, -1, L"Signal"));
    EXPECT_EQ(static_cast<const iOSContactIM&>(*ownService.record).service, L"other");
    EXPECT_EQ(ownService.record->labelText, L"Signal");

    const CollectedRow address =
        Collect(RowKind::kAddress, Input({L" 1 Main St ", L"City", L"", L"02100"}, 1, L"Work", 1));
    const auto& a = static_cast<const iOSContactAddress&>(*address.record);
    EXPECT_EQ(a.street, L"1 Main St");
    EXPECT_EQ(a.city, L"") << "a text that still shows its hint is not stored";
    EXPECT_EQ(a.postalCode, L"02100");
    EXPECT_EQ(a.labelKey, L"work");
    EXPECT_EQ(a.countryCode, L"us");
    EXPECT_EQ(a.country, L"United States");
}

TEST(ContactEditorSave, NothingTypedSendsAnEmptyPerson) {
    iOSContact working;
    working.recordKind = L"person";
    std::vector<CollectedRow> rows;
    for (const RowSeed& seed : SeedRows(working, true)) {
        rows.push_back(CollectRow(seed, Input({L"", L"", L"", L""}), Labels()));
    }
    const auto saved = BuildSavedContact(working, NameParts{}, rows);
    EXPECT_EQ(saved->recordKind, L"person");
    EXPECT_TRUE(saved->phones.empty());
    EXPECT_TRUE(saved->emails.empty());
    EXPECT_TRUE(saved->addresses.empty());
    EXPECT_EQ(saved->identifier, L"");
}

TEST(ContactEditorSave, EachSaveCarriesEachRowOnceAndLeavesTheWorkingRecordAlone) {
    iOSContact working;
    working.recordKind = L"person";
    const std::vector<RowSeed> seeds = {
        {RowKind::kPhone, NewRowRecord(RowKind::kPhone)},
        {RowKind::kPhone, NewRowRecord(RowKind::kPhone)},
        {RowKind::kAddress, NewRowRecord(RowKind::kAddress)},
        {RowKind::kDate, NewRowRecord(RowKind::kDate)},
    };
    const std::vector<RowInput> inputs = {Input({L"555-0100"}, 2, L"Mobile"), Input({L"555-0199"}, 0, L"Home"),
                                          Input({L"1 Main St", L"Springfield", L"IL", L"62701"}, 0, L"Home", 1),
                                          Input({L"2001-06-07"}, 0, L"Anniversary")};
    std::vector<CollectedRow> rows;
    for (size_t i = 0; i < seeds.size(); ++i) rows.push_back(CollectRow(seeds[i], inputs[i], Labels()));
    NameParts names;
    names.first = L"Ann";
    names.last = L"Lee";

    // A failed save leaves the dialog open and OK can be pressed again: every press sends a record of its own
    // with each row exactly once.
    for (int press = 0; press < 3; ++press) {
        const auto saved = BuildSavedContact(working, names, rows);
        ASSERT_EQ(saved->phones.size(), 2u) << "press " << press;
        EXPECT_EQ(saved->phones[0]->value, L"555-0100");
        EXPECT_EQ(saved->phones[0]->labelKey, L"mobile");
        EXPECT_EQ(saved->phones[1]->value, L"555-0199");
        ASSERT_EQ(saved->addresses.size(), 1u);
        EXPECT_EQ(saved->addresses[0]->city, L"Springfield");
        ASSERT_EQ(saved->dates.size(), 1u);
        EXPECT_EQ(saved->dates[0]->value, L"2001-06-07 00:00:00");
        EXPECT_EQ(rows[3].record->value, L"2001-06-07") << "the row keeps its typed date";
        EXPECT_EQ(saved->firstName, L"Ann");
        EXPECT_NE(saved->phones[0].get(), rows[0].record.get()) << "the record sent is not the row's";
    }
    EXPECT_TRUE(working.phones.empty());
    EXPECT_EQ(working.firstName, L"");
}

TEST(ContactEditorSave, EmptiedRowsClearTheirFieldsIncludingTheWholeOrganisation) {
    iOSContact original;
    original.identifier = L"42";
    original.company = L"Acme";
    original.department = L"R&D";
    original.jobTitle = L"Boss";
    original.nickname = L"Bo";
    original.note = L"old note";
    original.birthday = L"1970-01-01 00:00:00";
    original.editState = 2;
    iOSContact working(original);
    const std::vector<RowSeed> seeds = SeedRows(working, false);
    std::vector<CollectedRow> rows;
    for (const RowSeed& seed : seeds) {
        RowInput input;
        switch (seed.kind) {
        case RowKind::kOrganization: input = Input({L"Jobtitle", L"", L"Company"}); break;  // all cleared
        case RowKind::kNickname: input = Input({L""}); break;
        case RowKind::kBirthday: input = Input({L"1970/01/01"}); break;  // no longer a date
        case RowKind::kNote: input = Input({L"new note"}); break;
        default: input = Input({L""}); break;
        }
        rows.push_back(CollectRow(seed, input, Labels()));
    }
    const auto saved = BuildSavedContact(working, NameParts{}, rows);
    EXPECT_EQ(saved->company, L"");
    EXPECT_EQ(saved->department, L"");
    EXPECT_EQ(saved->jobTitle, L"");
    EXPECT_EQ(saved->nickname, L"");
    EXPECT_EQ(saved->birthday, L"");
    EXPECT_EQ(saved->note, L"new note");
    EXPECT_EQ(saved->identifier, L"42");
    EXPECT_EQ(saved->editState, 2);

    // Keeping only the company clears the department and job title the contact had.
    iOSContact again(original);
    std::vector<CollectedRow> organisation;
    for (const RowSeed& seed : SeedRows(again, false)) {
        if (seed.kind == RowKind::kOrganization) {
            organisation.push_back(CollectRow(seed, Input({L"", L"Department", L"Acme"}), Labels()));
        }
    }
    const auto kept = BuildSavedContact(again, NameParts{}, organisation);
    EXPECT_EQ(kept->company, L"Acme");
    EXPECT_EQ(kept->department, L"");
    EXPECT_EQ(kept->jobTitle, L"");
}

TEST(ContactEditorSave, GroupListsAreSortedAndDiffed) {
    iOSContact working;
    working.groupsBefore = {L"g3", L"g1", L"g2"};
    working.groupsAfter = {L"g4", L"g2"};
    const auto saved = BuildSavedContact(working, NameParts{}, {});
    EXPECT_EQ(saved->groupsBefore, (std::vector<std::wstring>{L"g1", L"g2", L"g3"}));
    EXPECT_EQ(saved->groupsRemoved, (std::vector<std::wstring>{L"g1", L"g3"}));
    EXPECT_EQ(saved->groupsAdded, (std::vector<std::wstring>{L"g4"}));
}
