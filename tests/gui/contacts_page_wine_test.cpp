// The contacts page under Wine, driven through the plug-in's receiver as the host drives it: batches and
// their sequences in the list and preview, replies that replace or remove what the page shows, search and
// header sort, the group tree and its answers, checked rows in requests, the iCloud notice, and the editor's
// saves. Controls are found by id; modal menus and dialogs are worked from a timer of the test's thread.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "ardena_harness.h"
#include "contact_codes.h"
#include "list_pages_harness.h"

using namespace ardena_test;

namespace {

constexpr int kList = 5011;
constexpr int kSearchEdit = 5006;
constexpr int kSearchButton = 5005;
constexpr int kGroupTree = 5016;
constexpr int kAllTree = 5015;

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

size_t CountRequests(int64_t code) {
    const auto& requests = Harness::Get().requests;
    return static_cast<size_t>(
        std::count_if(requests.begin(), requests.end(), [code](const HostRequest& r) { return r.code == code; }));
}

const HostRequest* LastRequest(int64_t code) {
    const auto& requests = Harness::Get().requests;
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->code == code) return &*it;
    }
    return nullptr;
}

void Search(HWND page, const wchar_t* text) {
    SetWindowTextW(Child(page, kSearchEdit), text);
    Press(Child(page, kSearchButton));
}

}  // namespace

TEST(ContactsPage, BatchesFillTheListAndANewerOneReplacesItAndThePreview) {
    HWND page = ShowPage(L"page-1");
    ASSERT_NE(page, nullptr);
    HWND list = Child(page, kList);
    Reply(L"page-1", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Ann", L"Lee", L"555-01"), Contact(L"2", L"Bea", L"Moss")}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Ann Lee ", L"Bea Moss "}));
    EXPECT_EQ(Column(list, 2), (std::vector<std::wstring>{L"555-01", L""}));
    EXPECT_TRUE(IsRowSelected(list, 0)) << "the first row is selected once rows arrive";
    EXPECT_TRUE(Contains(PreviewText(page), L"Ann Lee")) << PreviewText(page);

    Reply(L"page-1", sdk::contacts::kReplyContactsLoaded, ContactBatch(1, {Contact(L"3", L"Cy", L"Nash")}));
    EXPECT_EQ(RowCount(list), 3) << "an equal sequence appends";
    Reply(L"page-1", sdk::contacts::kReplyContactsLoaded, ContactBatch(0, {Contact(L"4", L"Old", L"Batch")}));
    EXPECT_EQ(RowCount(list), 3) << "an older batch is dropped";

    // A newer batch, even an empty one, releases every held contact: the preview lets go of its contact.
    Reply(L"page-1", sdk::contacts::kReplyContactsLoaded, ContactBatch(2, {}));
    EXPECT_EQ(RowCount(list), 0);
    EXPECT_EQ(PreviewText(page), L"");
    Reply(L"page-1", sdk::contacts::kReplyContactsLoaded, nullptr);  // loading finished on an empty page
    EXPECT_EQ(RowCount(list), 0);
}

TEST(ContactsPage, LoadingFinishedSortsByNameAndChecksStayWithTheirContacts) {
    HWND page = ShowPage(L"page-2");
    HWND list = Child(page, kList);
    Reply(L"page-2", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Zed", L""), Contact(L"2", L"anna", L""), Contact(L"3", L"Bob", L"")}));
    ClickCheck(list, 0);  // Zed
    ASSERT_TRUE(IsRowChecked(list, 0));
    Reply(L"page-2", sdk::contacts::kReplyContactsLoaded, nullptr);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"anna ", L"Bob ", L"Zed "}));
    EXPECT_FALSE(IsRowChecked(list, 0));
    EXPECT_TRUE(IsRowChecked(list, 2)) << "the check mark moved with Zed";
}

TEST(ContactsPage, AnAddedContactThatIsShownIsReplacedInPlace) {
    HWND page = ShowPage(L"page-3");
    HWND list = Child(page, kList);
    Reply(L"page-3", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Ann", L"Lee"), Contact(L"2", L"Bea", L"Moss")}));
    ClickRow(list, 1);
    ASSERT_TRUE(Contains(PreviewText(page), L"Bea Moss"));
    Reply(L"page-3", sdk::contacts::kReplyContactAdded,
          new std::shared_ptr<iOSContact>(Contact(L"2", L"Beatrix", L"Moss", L"555-77")));
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Ann Lee ", L"Beatrix Moss "}));
    EXPECT_EQ(CellText(list, 1, 2), L"555-77");
    EXPECT_TRUE(Contains(PreviewText(page), L"Beatrix Moss")) << "the preview follows the new record";
    Reply(L"page-3", sdk::contacts::kReplyContactAdded, new std::shared_ptr<iOSContact>(Contact(L"3", L"Cy", L"Nash")));
    EXPECT_EQ(RowCount(list), 3);
}

TEST(ContactsPage, RemovingThePreviewedContactClearsThePreview) {
    HWND page = ShowPage(L"page-4");
    HWND list = Child(page, kList);
    Reply(L"page-4", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Ann", L"Lee"), Contact(L"2", L"Bea", L"Moss")}));
    ClickRow(list, 1);
    ASSERT_TRUE(Contains(PreviewText(page), L"Bea Moss"));
    Reply(L"page-4", sdk::contacts::kReplyContactRemoved, _wcsdup(L"9"));
    EXPECT_EQ(RowCount(list), 2) << "an unknown identifier changes nothing";
    Reply(L"page-4", sdk::contacts::kReplyContactRemoved, _wcsdup(L"2"));
    EXPECT_EQ(Column(list, 1), std::vector<std::wstring>{L"Ann Lee "});
    EXPECT_EQ(PreviewText(page), L"");
    RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);  // paints without it
    ClickRow(list, 0);
    EXPECT_TRUE(Contains(PreviewText(page), L"Ann Lee"));
}

TEST(ContactsPage, APreviewShowsTheContactsGroupsAndSections) {
    HWND page = ShowPage(L"page-5");
    HWND list = Child(page, kList);
    auto bea = Contact(L"2", L"Bea", L"Moss", L"555-02");
    bea->birthday = L"1990-04-05 00:00:00";
    Reply(L"page-5", sdk::contacts::kReplyContactsLoaded, ContactBatch(1, {Contact(L"1", L"Ann", L"Lee"), bea}));
    Reply(L"page-5", sdk::contacts::kReplyGroupsLoaded,
          GroupBatch(1, {Group(L"g1", L"Friends", {L"2"}), Group(L"g2", L"Work", {L"2", L"99"}),
                         Group(L"g3", L"Club", {L"1"})}));
    ClickRow(list, 1);
    const std::wstring preview = PreviewText(page);
    EXPECT_TRUE(Contains(preview, L"Group: Friends,Work\n")) << preview;
    EXPECT_TRUE(Contains(preview, L"birthday:  1990-04-05\n")) << preview;
    EXPECT_TRUE(Contains(preview, L"[Phone Number]\nmobile:  555-02\n")) << preview;
    EXPECT_FALSE(Contains(preview, L"[Email Address]")) << "a section without lines has no title";

    // A contact in no group has no group line, and an address too long to stand beside its label goes on
    // lines of its own, broken before the '@' rather than inside a word.
    auto email = std::make_shared<iOSContactProperty>();
    email->kind = CONTACT_KIND_EMAIL;
    email->labelKey = L"work";
    email->value = L"bartholomew.longname@example-company.com";
    bea->emails.push_back(email);
    Reply(L"page-5", sdk::contacts::kReplyGroupsLoaded, GroupBatch(2, {}));
    ClickRow(list, 0);
    ClickRow(list, 1);
    const std::wstring alone = PreviewText(page);
    EXPECT_FALSE(Contains(alone, L"Group:")) << alone;
    pages_test::SaveShot(page, "contacts-page-preview");
    EXPECT_TRUE(Contains(alone, L"[Email Address]\nwork:\nbartholomew.longname\n@example-company.com\n")) << alone;
}

TEST(ContactsPage, SearchNarrowsTheRowsAndTheHeaderSortsDescendingFirst) {
    HWND page = ShowPage(L"page-6");
    HWND list = Child(page, kList);
    Reply(L"page-6", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Carla", L"Ott", L"300"), Contact(L"2", L"anton", L"Roth", L"100"),
                           Contact(L"3", L"Bert", L"Ott", L"200"), Contact(L"4", L"Dana", L"Vogt", L"")}));
    Search(page, L"OTT");
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Carla Ott ", L"Bert Ott "}));
    EXPECT_TRUE(Contains(PreviewText(page), L"Carla Ott")) << "the first found row is previewed";

    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    auto format = [header](int column) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        return item.fmt & (HDF_SORTDOWN | HDF_SORTUP);
    };
    auto clickHeader = [header](int column) {
        RECT rect = {};
        SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((rect.left + rect.right) / 2, 8));
        SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM((rect.left + rect.right) / 2, 8));
        Pump();
    };
    clickHeader(1);  // only the rows shown are sorted
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Carla Ott ", L"Bert Ott "}));
    EXPECT_EQ(format(1), HDF_SORTDOWN);

    Search(page, L"");  // held order again, not a sorted one
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Carla Ott ", L"anton Roth ", L"Bert Ott ", L"Dana Vogt "}));
    clickHeader(1);
    EXPECT_EQ(format(1), HDF_SORTUP);
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"anton Roth ", L"Bert Ott ", L"Carla Ott ", L"Dana Vogt "}));
    clickHeader(2);
    EXPECT_EQ(format(1), 0) << "another column's click removes the arrow";
    EXPECT_EQ(format(2), HDF_SORTDOWN);
    EXPECT_EQ(Column(list, 2), (std::vector<std::wstring>{L"300", L"200", L"100", L""}));
    const std::vector<std::wstring> before = Column(list, 1);
    clickHeader(0);
    EXPECT_EQ(Column(list, 1), before) << "the check column does not sort";
}

TEST(ContactsPage, CheckedRowsAreWhatDeleteAndExportSend) {
    HWND page = ShowPage(L"page-7");
    HWND list = Child(page, kList);
    // clang-format off
    Reply(L"page-7", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1, {Contact(L"1", L"Carla", L"Ott"), Contact(L"2", L"Anton", L"Roth"),
                           Contact(L"3", L"Bert", L"Ott")}));
    // clang-format on
    ClickCheck(list, 0);
    ClickCheck(list, 2);
    Press(Child(page, 5004));  // Delete
    const HostRequest* remove = LastRequest(sdk::contacts::kRequestDelete);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->identifiers, (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_EQ(remove->count, 2);
    EXPECT_EQ(remove->window, page);

    // The export menu's first entry, "Export to CSV", chosen with the keyboard.
    const size_t before = CountRequests(sdk::contacts::kRequestExportCsv);
    MenuSpy spy;
    HWND exportButton = Child(page, 5008);
    SendMessageW(exportButton, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    QueueMenuChoice(page, 0);
    SendMessageW(exportButton, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    ASSERT_TRUE(WaitFor([&] { return CountRequests(sdk::contacts::kRequestExportCsv) > before; }));
    ASSERT_EQ(spy.Menus().size(), 1u);
    EXPECT_EQ(spy.Menus()[0],
              (std::vector<std::wstring>{L"Export to CSV", L"Export to vCards(.vcf)", L"Backup to XML"}));
    const HostRequest* exported = LastRequest(sdk::contacts::kRequestExportCsv);
    ASSERT_NE(exported, nullptr);
    EXPECT_EQ(exported->identifiers, (std::vector<std::wstring>{L"1", L"3"}));
}

TEST(ContactsPage, NewerGroupBatchesTakeTheirItemsWithThem) {
    HWND page = ShowPage(L"page-8");
    HWND tree = Child(page, kGroupTree);
    Reply(L"page-8", sdk::contacts::kReplyGroupsLoaded,
          GroupBatch(1, {Group(L"g1", L"Friends", {L"1"}), Group(L"g2", L"Work", {L"1", L"2"})}));
    EXPECT_EQ(TreeTexts(tree), (std::vector<std::wstring>{L"Friends (1)", L"Work (2)"}));
    Reply(L"page-8", sdk::contacts::kReplyGroupsLoaded, GroupBatch(1, {Group(L"g3", L"Club", {})}));
    EXPECT_EQ(TreeTexts(tree).size(), 3u) << "an equal sequence appends after the existing items";
    Reply(L"page-8", sdk::contacts::kReplyGroupsLoaded, GroupBatch(2, {Group(L"g4", L"Team", {L"3"})}));
    EXPECT_EQ(TreeTexts(tree), std::vector<std::wstring>{L"Team (1)"}) << "items of released groups are gone";
    // Selecting the remaining item reads its record: a stale item would point at a freed group.
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItem(tree, 0)));
    Pump();
    EXPECT_EQ(RowCount(Child(page, kList)), 0);
}

TEST(ContactsPage, AGroupIsNamedFilledAndRenamedFromItsLatestRecord) {
    HWND page = ShowPage(L"page-9");
    HWND list = Child(page, kList);
    HWND tree = Child(page, kGroupTree);
    Reply(L"page-9", sdk::contacts::kReplyContactsLoaded,
          ContactBatch(1,
                       {Contact(L"1", L"Ann", L"Lee"), Contact(L"2", L"Bea", L"Moss"), Contact(L"3", L"Cy", L"Nash")}));
    Press(Child(page, 5001));  // unfold the group panel
    EXPECT_TRUE(IsWindowVisible(tree));
    EXPECT_TRUE(IsWindowVisible(Child(page, kAllTree)));

    // Add group, name it, end the edit: the host is asked to create it.
    Press(Child(page, 5017));
    HWND edit = reinterpret_cast<HWND>(SendMessageW(tree, TVM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(WindowText(edit), L"");
    SetWindowTextW(edit, L"Club");
    SendMessageW(tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    Pump();
    ASSERT_EQ(CountRequests(sdk::contacts::kRequestCreateGroup), 1u) << "one edit, one group";
    const HostRequest* created = LastRequest(sdk::contacts::kRequestCreateGroup);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->group->name, L"Club");
    EXPECT_EQ(created->group->identifier, L"");
    EXPECT_TRUE(created->group->members.empty());
    EXPECT_TRUE(std::regex_match(created->group->guidText,
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << created->group->guidText;

    auto answer = new iOSContactGroup(*created->group);
    answer->identifier = L"g-club";
    Reply(L"page-9", sdk::contacts::kReplyGroupChanged, answer);
    EXPECT_EQ(TreeTexts(tree), std::vector<std::wstring>{L"Club (0)"});

    // Select it and add two members: "Add" shows every contact to check, "OK" sends the union.
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItem(tree, 0)));
    Pump();
    Press(Child(page, 5000));
    EXPECT_TRUE(IsWindowVisible(Child(page, 5019)));
    EXPECT_FALSE(IsWindowVisible(tree));
    ASSERT_EQ(RowCount(list), 3);
    ClickCheck(list, 2);
    ClickCheck(list, 0);
    Press(Child(page, 5019));
    const HostRequest* filled = LastRequest(sdk::contacts::kRequestChangeGroup);
    ASSERT_NE(filled, nullptr);
    EXPECT_EQ(filled->group->identifier, L"g-club");
    EXPECT_EQ(filled->group->members, (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_TRUE(IsWindowVisible(tree));
    EXPECT_EQ(RowCount(list), 0) << "back to the group's members";

    // The device's answer replaces the page's record: the list and the tree show the new members...
    Reply(L"page-9", sdk::contacts::kReplyGroupChanged, new iOSContactGroup(*filled->group));
    EXPECT_EQ(TreeTexts(tree), std::vector<std::wstring>{L"Club (2)"});
    EXPECT_EQ(Column(list, 1), (std::vector<std::wstring>{L"Ann Lee ", L"Cy Nash "}));
    // ...and a rename starts from them instead of reverting the member change.
    SendMessageW(tree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(TreeItem(tree, 0)));
    edit = reinterpret_cast<HWND>(SendMessageW(tree, TVM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(WindowText(edit), L"Club") << "the edit starts with the group's name";
    SetWindowTextW(edit, L"Readers");
    SendMessageW(tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    Pump();
    const HostRequest* renamed = LastRequest(sdk::contacts::kRequestChangeGroup);
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->group->name, L"Readers");
    EXPECT_EQ(renamed->group->members, (std::vector<std::wstring>{L"1", L"3"}));

    // Ending an edit with the group's own name sends nothing; cancelling a new group's edit removes it.
    const size_t changes = CountRequests(sdk::contacts::kRequestChangeGroup);
    SendMessageW(tree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(TreeItem(tree, 0)));
    SendMessageW(tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    Pump();
    EXPECT_EQ(CountRequests(sdk::contacts::kRequestChangeGroup), changes);
    Press(Child(page, 5017));
    EXPECT_EQ(TreeTexts(tree).size(), 2u);
    SendMessageW(tree, TVM_ENDEDITLABELNOW, TRUE, 0);
    Pump();
    EXPECT_EQ(TreeTexts(tree).size(), 1u);

    // Removing the group asks the host; its answer takes the item away.
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItem(tree, 0)));
    Press(Child(page, 5018));
    const HostRequest* removal = LastRequest(sdk::contacts::kRequestRemoveGroup);
    ASSERT_NE(removal, nullptr);
    EXPECT_EQ(removal->identifiers, std::vector<std::wstring>{L"g-club"});
    Reply(L"page-9", sdk::contacts::kReplyGroupRemoved, _wcsdup(L"g-club"));
    EXPECT_TRUE(TreeTexts(tree).empty());
}

TEST(ContactsPage, TheICloudNoticeReplacesThePage) {
    HWND page = ShowPage(L"page-10");
    HWND list = Child(page, kList);
    HWND continueButton = Child(page, 5014);
    EXPECT_FALSE(IsWindowVisible(continueButton));
    Reply(L"page-10", sdk::contacts::kReplyHideCloudNotice);  // no notice up: nothing
    EXPECT_TRUE(IsWindowVisible(list));
    Reply(L"page-10", sdk::contacts::kReplyShowCloudNotice);
    EXPECT_FALSE(IsWindowVisible(list));
    EXPECT_FALSE(IsWindowVisible(Child(page, kSearchEdit)));
    EXPECT_TRUE(IsWindowVisible(continueButton));
    Reply(L"page-10", sdk::contacts::kReplyShowCloudNotice);
    EXPECT_TRUE(IsWindowVisible(continueButton));
    pages_test::SaveShot(page, "contacts-page-notice");
    const size_t loads = CountRequests(sdk::contacts::kRequestLoad);
    Press(continueButton);
    EXPECT_EQ(CountRequests(sdk::contacts::kRequestLoad), loads + 1);
    Reply(L"page-10", sdk::contacts::kReplyHideCloudNotice);
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_FALSE(IsWindowVisible(continueButton));
}

TEST(ContactsPage, DroppedFilesAreAcceptedThroughTheDropMenu) {
    HWND page = ShowPage(L"page-11");
    EXPECT_NE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'd') + L"\\contacts.xml";
    const size_t before = Harness::Get().requests.size();
    MenuSpy spy;
    QueueMenuChoice(page, 0);  // "Drag and drop here"
    SendMessageW(page, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({longPath, L"D:\\b.xml"})), 0);
    ASSERT_EQ(spy.Menus().size(), 1u);
    EXPECT_EQ(spy.Menus()[0], std::vector<std::wstring>{L"Drag and drop here"});
    // Dismissing the menu ends the drop as well.
    PostMessageW(page, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageW(page, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"D:\\c.xml"})), 0);
    EXPECT_EQ(spy.Menus().size(), 2u);
    // The contacts page has no request that takes files: nothing reaches the host either way.
    EXPECT_EQ(Harness::Get().requests.size(), before);
}

TEST(ContactsPage, TheListFitsItsWidthWithTheGroupPanelOpenOrClosed) {
    HWND page = ShowPage(L"page-hscroll");
    HWND list = Child(page, kList);
    std::vector<std::shared_ptr<iOSContact>> many;
    for (int i = 0; i < 30; ++i) many.push_back(Contact(std::to_wstring(i).c_str(), L"Name", L"Surname", L"555"));
    Reply(L"page-hscroll", sdk::contacts::kReplyContactsLoaded, ContactBatch(1, many));
    auto hasHorizontalBar = [list]() { return (GetWindowLongW(list, GWL_STYLE) & WS_HSCROLL) != 0; };
    EXPECT_FALSE(hasHorizontalBar());
    Press(Child(page, 5001));  // unfold the group panel: the list narrows
    ASSERT_TRUE(IsWindowVisible(Child(page, kGroupTree)));
    EXPECT_FALSE(hasHorizontalBar()) << "the columns shrink with the list";
    pages_test::SaveShot(page, "contacts-page-groups");
    Press(Child(page, 5002));  // fold it again
    EXPECT_FALSE(hasHorizontalBar());
}
