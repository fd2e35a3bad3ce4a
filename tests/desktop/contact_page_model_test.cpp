// What the contacts page holds as batches and single changes arrive: sequencing of contact and group
// batches, added contacts replacing a shown one in place, removal, search and group membership.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "contact_page_model.h"

using namespace ardena;

namespace {

ContactPtr Contact(const wchar_t* identifier, const wchar_t* first = L"") {
    auto c = std::make_shared<iOSContact>();
    c->identifier = identifier;
    c->firstName = first;
    return c;
}

std::vector<std::wstring> Identifiers(const std::vector<ContactPtr>& contacts) {
    std::vector<std::wstring> out;
    for (const auto& c : contacts) out.push_back(c->identifier);
    return out;
}

}  // namespace

TEST(ContactPageModel, OlderBatchesAreDroppedEqualOnesAppendHigherOnesReplace) {
    struct Step {
        int64_t sequence;
        std::vector<const wchar_t*> items;
        bool accepted;
        bool cleared;
        std::vector<std::wstring> held;
        int sequenceAfter;
    };
    const Step steps[] = {
        {5, {L"a", L"b"}, true, true, {L"a", L"b"}, 5},
        {5, {L"c"}, true, false, {L"a", L"b", L"c"}, 5},
        {4, {L"d"}, false, false, {L"a", L"b", L"c"}, 5},
        {7, {L"e"}, true, true, {L"e"}, 7},
        {9, {}, true, true, {}, 9},  // an empty newer batch still clears and raises the sequence
        {9, {L"f"}, true, false, {L"f"}, 9},
    };
    ContactPageModel model;
    EXPECT_EQ(model.Sequence(), 0);
    for (const Step& step : steps) {
        ItemBatch<iOSContact> batch;
        batch.sequence = step.sequence;
        for (const wchar_t* id : step.items) batch.items.push_back(Contact(id));
        bool cleared = !step.cleared;
        EXPECT_EQ(model.AcceptContacts(batch, cleared), step.accepted) << step.sequence;
        EXPECT_EQ(cleared, step.cleared) << step.sequence;
        EXPECT_EQ(Identifiers(model.Contacts()), step.held) << step.sequence;
        EXPECT_EQ(model.Sequence(), step.sequenceAfter);
    }
    EXPECT_EQ(model.FindContact(L"a"), nullptr) << "the map lets go with the list";
    EXPECT_NE(model.FindContact(L"f"), nullptr);
}

TEST(ContactPageModel, GroupBatchesKeepTheirOwnSequence) {
    ContactPageModel model;
    auto group = [](const wchar_t* id) {
        auto g = std::make_shared<iOSContactGroup>();
        g->identifier = id;
        return g;
    };
    struct Step {
        int64_t sequence;
        std::vector<const wchar_t*> groups;
        bool cleared;
        size_t held;
    };
    const Step steps[] = {
        {3, {L"g1", L"g2"}, true, 2}, {3, {L"g3"}, false, 3}, {2, {L"gx"}, false, 3}, {4, {}, true, 0}};
    for (const Step& step : steps) {
        ItemBatch<iOSContactGroup> batch;
        batch.sequence = step.sequence;
        for (const wchar_t* id : step.groups) batch.items.push_back(group(id));
        bool cleared = false;
        model.AcceptGroups(batch, cleared);
        EXPECT_EQ(cleared, step.cleared) << step.sequence;
        EXPECT_EQ(model.Groups().size(), step.held) << step.sequence;
    }
    EXPECT_EQ(model.GroupSequence(), 4);
    EXPECT_EQ(model.Sequence(), 0) << "groups never move the contacts sequence";
}

TEST(ContactPageModel, AnAddedContactThatIsShownReplacesItInPlace) {
    ContactPageModel model;
    ItemBatch<iOSContact> batch;
    batch.sequence = 1;
    batch.items = {Contact(L"1", L"Ann"), Contact(L"2", L"Bea"), Contact(L"3", L"Cy")};
    bool cleared = false;
    model.AcceptContacts(batch, cleared);

    int replaced = -2;
    auto edited = Contact(L"2", L"Beatrix");
    model.AddContact(edited, replaced);
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(Identifiers(model.Contacts()), (std::vector<std::wstring>{L"1", L"2", L"3"}));
    EXPECT_EQ(model.Contacts()[1], edited);
    EXPECT_EQ(model.FindContact(L"2"), edited);

    model.AddContact(Contact(L"4", L"Dee"), replaced);
    EXPECT_EQ(replaced, -1);
    EXPECT_EQ(Identifiers(model.Contacts()), (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));

    // Contacts without an identifier are never taken for one another.
    model.AddContact(Contact(L""), replaced);
    model.AddContact(Contact(L""), replaced);
    EXPECT_EQ(replaced, -1);
    EXPECT_EQ(model.Contacts().size(), 6u);
}

TEST(ContactPageModel, RemovalSearchAndMembers) {
    ContactPageModel model;
    ItemBatch<iOSContact> batch;
    batch.sequence = 1;
    batch.items = {Contact(L"1", L"Ann"), Contact(L"2", L"Bea"), Contact(L"3", L"Anton")};
    bool cleared = false;
    model.AcceptContacts(batch, cleared);

    EXPECT_EQ(Identifiers(model.Search(L"AN")), (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_EQ(Identifiers(model.Search(L"")), (std::vector<std::wstring>{L"1", L"2", L"3"}));

    iOSContactGroup group;
    group.members = {L"3", L"missing", L"1"};
    EXPECT_EQ(Identifiers(model.MembersOf(group)), (std::vector<std::wstring>{L"3", L"1"}));

    ContactPtr removed = model.RemoveContact(L"1");
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->firstName, L"Ann") << "the caller still holds the record it previews";
    EXPECT_EQ(model.RemoveContact(L"1"), nullptr);
    EXPECT_EQ(Identifiers(model.Contacts()), (std::vector<std::wstring>{L"2", L"3"}));
    EXPECT_EQ(model.FindContact(L"1"), nullptr);
}

TEST(ContactPageModel, GroupsAreMatchedByIdentifierOrGuidAndReplaced) {
    iOSContactGroup loaded;
    loaded.identifier = L"g1";
    iOSContactGroup named;  // made on the page, not yet on the device
    named.guidText = "ABC";
    iOSContactGroup answer;
    answer.identifier = L"g1";
    answer.guidText = "";
    EXPECT_TRUE(ContactPageModel::IsSameGroup(loaded, answer));
    EXPECT_FALSE(ContactPageModel::IsSameGroup(named, answer));
    answer.identifier = L"g9";
    answer.guidText = "ABC";
    EXPECT_TRUE(ContactPageModel::IsSameGroup(named, answer));
    iOSContactGroup emptyA;
    iOSContactGroup emptyB;
    EXPECT_FALSE(ContactPageModel::IsSameGroup(emptyA, emptyB)) << "empty keys match nothing";

    ContactPageModel model;
    auto first = std::make_shared<iOSContactGroup>(loaded);
    model.AppendGroup(first);
    auto replacement = std::make_shared<iOSContactGroup>(loaded);
    replacement->name = L"Renamed";
    EXPECT_TRUE(model.ReplaceGroup(first.get(), replacement));
    EXPECT_EQ(model.FindGroup(L"g1")->name, L"Renamed");
    EXPECT_FALSE(model.ReplaceGroup(first.get(), replacement));
    EXPECT_TRUE(model.RemoveGroup(replacement.get()));
    EXPECT_TRUE(model.Groups().empty());
}
