// The contact editor under Wine, opened from the contacts page and worked from a timer inside its modal
// loop: every OK hands the host one fresh record built from the rows (also after a save the host did not
// confirm), Cancel after a save frees only the editor's own record, an edited contact goes back under its
// identifier with the organisation cleared when its row was emptied, and "Add Field" offers only the kinds
// the contact does not have yet.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ardena_harness.h"
#include "contact_codes.h"

using namespace ardena_test;

namespace {

constexpr int kOk = 4002;
constexpr int kAddField = 4003;
constexpr int kCancel = 4004;
constexpr int kFirstName = 4011;
constexpr int kLastName = 4013;
constexpr int kPropertyView = 4020;

size_t CountRequests(int64_t code) {
    const auto& requests = Harness::Get().requests;
    return static_cast<size_t>(
        std::count_if(requests.begin(), requests.end(), [code](const HostRequest& r) { return r.code == code; }));
}

std::vector<const HostRequest*> Requests(int64_t code) {
    std::vector<const HostRequest*> found;
    for (const HostRequest& request : Harness::Get().requests) {
        if (request.code == code) found.push_back(&request);
    }
    return found;
}

struct ChildSearch {
    std::vector<HWND> edits;
};

BOOL CALLBACK CollectEdits(HWND child, LPARAM parameter) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (_wcsicmp(name, L"Edit") == 0) reinterpret_cast<ChildSearch*>(parameter)->edits.push_back(child);
    return TRUE;
}

// The value edits of a property row, found from the row's delete button (its id is the row's id): the edits
// on the button's line, then those of the lines below it that belong to the row, left to right.
std::vector<HWND> RowEdits(HWND view, int rowId, int lines = 1) {
    HWND button = GetDlgItem(view, rowId);
    if (button == nullptr) return {};
    RECT buttonRect = {};
    GetWindowRect(button, &buttonRect);
    MapWindowPoints(nullptr, view, reinterpret_cast<POINT*>(&buttonRect), 2);
    const int top = buttonRect.top - 4;
    ChildSearch search;
    EnumChildWindows(view, &CollectEdits, reinterpret_cast<LPARAM>(&search));
    std::vector<std::pair<std::pair<int, int>, HWND>> found;
    for (HWND edit : search.edits) {
        if (GetParent(edit) != view) continue;  // the combo boxes' own edits
        RECT rect = {};
        GetWindowRect(edit, &rect);
        MapWindowPoints(nullptr, view, reinterpret_cast<POINT*>(&rect), 2);
        if (rect.top >= top && rect.top < top + lines * 28) found.push_back({{rect.top, rect.left}, edit});
    }
    std::sort(found.begin(), found.end());
    std::vector<HWND> edits;
    for (const auto& entry : found) edits.push_back(entry.second);
    return edits;
}

HWND Editor(const wchar_t* title) { return FindTopLevel(L"#32770", title); }

// A list of steps run one per timer tick; a step that returns false is tried again on the next tick.
struct Steps {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    bool operator()() {
        while (next < steps.size() && steps[next]()) ++next;
        return next == steps.size();
    }
};

HWND PageWithContacts(const wchar_t* key) {
    HWND page = ShowPage(key);
    auto ann = Contact(L"1", L"Ann", L"Lee", L"555-01");
    ann->company = L"Acme";
    ann->department = L"R&D";
    ann->jobTitle = L"Boss";
    Reply(key, sdk::contacts::kReplyContactsLoaded, ContactBatch(1, {ann, Contact(L"2", L"Bea", L"Moss")}));
    return page;
}

}  // namespace

TEST(ContactsEditor, EachOkAfterAFailedSaveSendsOneFreshRecord) {
    HWND page = PageWithContacts(L"editor-1");
    Harness& harness = Harness::Get();
    const size_t before = CountRequests(sdk::contacts::kRequestSaveNew);
    HWND dialog = nullptr;
    HWND view = nullptr;
    Steps steps;
    steps.steps = {
        [&] { return (dialog = Editor(L"New")) != nullptr; },
        [&] {
            view = GetDlgItem(dialog, kPropertyView);
            SetWindowTextW(GetDlgItem(dialog, kFirstName), L"Nina");
            SetWindowTextW(GetDlgItem(dialog, kLastName), L"Berg");
            PressLater(GetDlgItem(view, 5100));  // a second phone row
            return true;
        },
        [&] { return GetDlgItem(view, 5102) != nullptr; },
        [&] {
            const std::vector<HWND> first = RowEdits(view, 5101);
            const std::vector<HWND> second = RowEdits(view, 5102);
            const std::vector<HWND> address = RowEdits(view, 5401, 2);
            if (first.size() != 1 || second.size() != 1 || address.size() != 4) return false;
            SetWindowTextW(first[0], L"555-0100");
            SetWindowTextW(second[0], L"555-0199");
            SetWindowTextW(address[0], L"1 Main St");
            SetWindowTextW(address[1], L"Springfield");
            PressLater(GetDlgItem(dialog, kOk));
            return true;
        },
        // The host does not confirm the first save: the dialog stays, and OK is pressed again.
        [&] { return CountRequests(sdk::contacts::kRequestSaveNew) == before + 1; },
        [&] {
            EXPECT_TRUE(IsWindow(dialog));
            PressLater(GetDlgItem(dialog, kOk));
            return true;
        },
        [&] { return CountRequests(sdk::contacts::kRequestSaveNew) == before + 2; },
        [&] {
            CommandMessage close{};
            close.name = "ARDENA_COMMAND_DO_CONTACT";
            close.wideText = const_cast<wchar_t*>(L"editor-1");
            close.code = sdk::contacts::kReplyCloseEditor;
            harness.record.receive(&close);  // posted to the page, which closes its editor
            return true;
        },
        [&] { return !IsWindow(dialog); },
    };
    TimerDriver driver(std::ref(steps), 15000);
    Press(Child(page, 5000));  // "New": the editor runs modally until it is closed
    ASSERT_FALSE(driver.TimedOut()) << "stopped at step " << steps.next;
    const std::vector<const HostRequest*> saves = Requests(sdk::contacts::kRequestSaveNew);
    ASSERT_EQ(saves.size(), before + 2);
    for (size_t i = before; i < saves.size(); ++i) {
        const iOSContact& saved = *saves[i]->contact;
        EXPECT_EQ(saved.firstName, L"Nina");
        EXPECT_EQ(saved.lastName, L"Berg");
        EXPECT_EQ(saved.recordKind, L"person");
        ASSERT_EQ(saved.phones.size(), 2u) << "save " << i << " carries each phone once";
        EXPECT_EQ(saved.phones[0]->value, L"555-0100");
        EXPECT_EQ(saved.phones[1]->value, L"555-0199");
        EXPECT_TRUE(saved.emails.empty()) << "the empty e-mail row is dropped";
        ASSERT_EQ(saved.addresses.size(), 1u);
        EXPECT_EQ(saved.addresses[0]->street, L"1 Main St");
        EXPECT_EQ(saved.addresses[0]->city, L"Springfield");
        EXPECT_EQ(saved.addresses[0]->state, L"") << "an edit showing its hint is not stored";
        EXPECT_EQ(saves[i]->window, dialog);
    }
    EXPECT_NE(saves[before]->contact.get(), saves[before + 1]->contact.get());
}

TEST(ContactsEditor, CancelAfterASaveEndsWithoutSendingAgain) {
    HWND page = PageWithContacts(L"editor-2");
    const size_t before = CountRequests(sdk::contacts::kRequestSaveNew);
    HWND dialog = nullptr;
    Steps steps;
    steps.steps = {
        [&] { return (dialog = Editor(L"New")) != nullptr; },
        [&] {
            PressLater(GetDlgItem(dialog, kOk));
            return true;
        },
        [&] { return CountRequests(sdk::contacts::kRequestSaveNew) == before + 1; },
        [&] {
            PressLater(GetDlgItem(dialog, kCancel));
            return true;
        },
        [&] { return !IsWindow(dialog); },
    };
    TimerDriver driver(std::ref(steps), 15000);
    Press(Child(page, 5000));
    ASSERT_FALSE(driver.TimedOut()) << "stopped at step " << steps.next;
    EXPECT_EQ(CountRequests(sdk::contacts::kRequestSaveNew), before + 1);
    const iOSContact& saved = *Requests(sdk::contacts::kRequestSaveNew).back()->contact;
    EXPECT_EQ(saved.recordKind, L"person") << "the record the host took is intact after the editor ended";
    EXPECT_TRUE(saved.phones.empty());
}

TEST(ContactsEditor, AnEditedContactKeepsItsIdentifierAndLosesAnEmptiedOrganisation) {
    HWND page = PageWithContacts(L"editor-3");
    ClickRow(Child(page, 5011), 0);
    const size_t before = CountRequests(sdk::contacts::kRequestSaveEdited);
    HWND dialog = nullptr;
    std::wstring shownFirstName;
    Steps steps;
    steps.steps = {
        [&] { return (dialog = Editor(L"Edit")) != nullptr; },
        [&] {
            shownFirstName = WindowText(GetDlgItem(dialog, kFirstName));
            HWND view = GetDlgItem(dialog, kPropertyView);
            const std::vector<HWND> organisation = RowEdits(view, 5701);
            if (organisation.size() != 3) return false;
            for (HWND edit : organisation) SetWindowTextW(edit, L"");
            PressLater(GetDlgItem(dialog, kOk));
            return true;
        },
        [&] { return CountRequests(sdk::contacts::kRequestSaveEdited) == before + 1; },
        [&] {
            PressLater(GetDlgItem(dialog, kCancel));
            return true;
        },
        [&] { return !IsWindow(dialog); },
    };
    TimerDriver driver(std::ref(steps), 15000);
    Press(Child(page, 5007));  // "Edit" on the selected row
    ASSERT_FALSE(driver.TimedOut()) << "stopped at step " << steps.next;
    EXPECT_EQ(shownFirstName, L"Ann");
    const iOSContact& saved = *Requests(sdk::contacts::kRequestSaveEdited).back()->contact;
    EXPECT_EQ(saved.identifier, L"1");
    EXPECT_EQ(saved.editState, 2);
    EXPECT_EQ(saved.company, L"");
    EXPECT_EQ(saved.department, L"");
    EXPECT_EQ(saved.jobTitle, L"");
    ASSERT_EQ(saved.phones.size(), 1u);
    EXPECT_EQ(saved.phones[0]->value, L"555-01");
}

TEST(ContactsEditor, AddFieldOffersOnlyTheKindsNotPresent) {
    HWND page = PageWithContacts(L"editor-4");
    HWND dialog = nullptr;
    bool noteRow = false;
    MenuSpy spy;
    Steps steps;
    steps.steps = {
        [&] { return (dialog = Editor(L"New")) != nullptr; },
        [&] {
            // The press posts its click; the keys queued behind it choose "Note", the menu's second entry.
            PressLater(GetDlgItem(dialog, kAddField));
            QueueMenuChoice(dialog, 1);
            return true;
        },
        [&] { return (noteRow = GetDlgItem(GetDlgItem(dialog, kPropertyView), 5501) != nullptr); },
        [&] {
            PressLater(GetDlgItem(dialog, kCancel));
            return true;
        },
        [&] { return !IsWindow(dialog); },
    };
    TimerDriver driver(std::ref(steps), 15000);
    Press(Child(page, 5000));
    ASSERT_FALSE(driver.TimedOut()) << "stopped at step " << steps.next;
    // A new contact has phone, e-mail and address rows: those kinds are not offered.
    ASSERT_EQ(spy.Menus().size(), 1u);
    EXPECT_EQ(spy.Menus()[0], (std::vector<std::wstring>{L"Im", L"Note", L"Nickname", L"Organization", L"Url", L"Date",
                                                         L"Birthday", L"Related Name", L"Phonetic first name",
                                                         L"Phonetic middle name", L"Phonetic last name"}));
    EXPECT_TRUE(noteRow);
}
