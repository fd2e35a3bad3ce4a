// The section list's contents and page switching: the host fills the section list, creates every page
// window when the device page reports a new device, shows the page of the chosen section and has its data
// loaded when the relay module does not hold it yet, and answers the relay module's questions about
// sections. Handlers run on the thread of the module that invoked them (the UI thread for the pages).
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <glog/logging.h>

#include "command_names.h"
#include "command_bus.h"
#include "feature_table.h"
#include "host_handlers.h"
#include "host_platform.h"
#include "page_order.h"
#include "section_ids.h"

namespace trv {
namespace {

constexpr uint32_t kHeaderColour = 0x7F7F7F;
constexpr int32_t kSectionRowValue = 30;
constexpr int64_t kOverviewSummaryShown = 7;
constexpr int64_t kOverviewPageShown = 8;
constexpr int64_t kRelayWindowShow = 5;
const wchar_t kNoDevice[] = L"No detected device";

using namespace sdk;

struct SectionRow {
    int32_t id;
    int32_t parentId;
    const wchar_t* text;
    int32_t left;
    const char* image;
    bool hasChildren;
    bool header;
};

const SectionRow kSectionRows[] = {
    {kSectionSummary, 0, L"Summary", 10, "common\\section\\section-home.png", false, false},
    {kSectionInfoHeader, 0, L"Info", 10, nullptr, false, true},
    {kSectionContacts, 0, L"Contacts", 40, "common\\section\\section-contacts.png", false, false},
    {kSectionMessages, 0, L"Messages", 40, "common\\section\\section-message.png", false, false},
    {kSectionNotes, 0, L"Notes", 40, "common\\section\\section-note.png", false, false},
    {kSectionCalendars, 0, L"Calendars", 40, "common\\section\\section-calendar.png", false, false},
    {kSectionBookmarks, 0, L"Bookmarks", 40, "common\\section\\section-bookmark.png", false, false},
    {kSectionMediaHeader, 0, L"Media", 10, nullptr, false, true},
    {kSectionMusic, 0, L"Music", 40, "common\\section\\section-music.png", true, false},
    {kSectionSongs, kSectionMusic, L"Songs", 70, nullptr, false, false},
    {kSectionVoiceMemos, kSectionMusic, L"Voice Memos", 70, nullptr, false, false},
    {kSectionTones, kSectionMusic, L"Tones", 70, nullptr, false, false},
    {kSectionVideos, 0, L"Videos", 40, "common\\section\\section-video.png", true, false},
    {kSectionMovies, kSectionVideos, L"Movies", 70, nullptr, false, false},
    {kSectionTvShows, kSectionVideos, L"TV Shows", 70, nullptr, false, false},
    {kSectionMusicVideos, kSectionVideos, L"Music Videos", 70, nullptr, false, false},
    {kSectionPhotoGroup, 0, L"Photos", 40, "common\\section\\section-photo.png", true, false},
    {kSectionPhotos, kSectionPhotoGroup, L"Photos", 70, nullptr, false, false},
    {kSectionAlbums, kSectionPhotoGroup, L"Albums", 70, nullptr, false, false},
    {kSectionBooks, 0, L"Books", 40, "common\\section\\section-book.png", false, false},
    {kSectionAppsHeader, 0, L"Apps", 10, nullptr, false, true},
    {kSectionApps, 0, L"Apps", 40, "common\\section\\section-app.png", false, false},
};

// Shows the page of the chosen view and, when the relay does not hold the view's data yet, has it loaded.
void SwitchToFeature(CommandMessage* message, const FeatureRow& row, const PageView& view) {
    const FeaturePage& page = *row.windows;
    message->status = kOverviewPageShown;
    SendToOwner(YESTAL_COMMAND_SWITCH_STATUS, message);
    SendToOwner(YESTAL_COMMAND_HIDE_CONNECT_CHILD, message);
    if (view.switchCode != kKeepCode) {
        message->code = view.switchCode;
    }
    SendToOwner(page.show, message);

    message->code = view.queryCode;
    message->status = view.relayStatus;
    SendToOwner(page.switchRelay, message);
    if (message->status != 0) {
        return;  // the relay holds the data already
    }
    if (page.prepareCode != 0) {
        message->code = page.prepareCode;
        message->status = view.switchCode;
        message->value2 = 0;
        SendToOwner(row.page, message);
    }
    message->code = view.loadCode;
    message->status = view.relayStatus;
    SendToOwner(page.switchRelay, message);
}

}  // namespace

void FillSectionListRecord(SectionListRecord& record, int32_t parentHeight) {
    CommandBus& bus = CommandBus::Instance();
    void* font = CurrentHostPlatform().SectionFont();
    record = SectionListRecord{};
    record.width = *SharedSectionWidth();
    record.height = parentHeight;
    record.rowValue = kSectionRowValue;
    record.tailValue = 0;
    record.highestId = kHighestSectionId;
    size_t slot = 0;
    for (const SectionRow& row : kSectionRows) {
        SectionEntry& entry = record.entries[slot++];
        entry.id = row.id;
        entry.parentId = row.parentId;
        entry.value = -1;
        entry.image = row.image != nullptr ? bus.GetImage(row.image) : nullptr;
        entry.text = row.text;
        entry.left = row.left;
        entry.childIndent = row.hasChildren ? 20 : 0;
        entry.textColour = row.header ? kHeaderColour : 0;
        entry.font = font;
        entry.selectable = row.header ? 0 : 1;
    }
}

void BuildSectionList(TrvWindow parent) {
    SectionListRecord record;
    const TrvRect client = CurrentHostPlatform().ClientRect(parent);
    FillSectionListRecord(record, client.bottom - client.top);
    CommandMessage message{};
    message.window = parent;
    message.extra = &record;
    SendToOwner(QUARNEL_COMMAND_CREATE_WINDOW, &message);
}

extern "C" void TRV_CALL OnSelectItem(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    wchar_t* const callersText = message->wideText;
    message->wideText = nullptr;
    SendToOwner(LUNDER_COMMAND_GET_CURRENT_DEVICE, message);
    // The title bar's answer is a heap string of ours; it travels to the pages as their key and is freed
    // here, where the caller's own text is put back.
    wchar_t* const device = message->wideText;
    if (device != nullptr && std::wcscmp(device, kNoDevice) != 0) {
        SendToOwner(YESTAL_COMMAND_GET_CURRENT_CONNECT, message);
        SendToOwner(ZERITH_COMMAND_RECORD_TYPE, message);
        const int64_t section = message->value4;
        if (section == kSectionSummary) {
            SendToOwner(YESTAL_COMMAND_HIDE_CONNECT_CHILD, message);
            message->status = kOverviewSummaryShown;
            SendToOwner(YESTAL_COMMAND_SWITCH_STATUS, message);
            message->status = kRelayWindowShow;
            SendToOwner(ZERITH_COMMAND_SHOW_WINDOW, message);
        } else if (const PageView* view = nullptr; const FeatureRow* row = FindSectionView(section, view)) {
            message->wideText = device;
            SwitchToFeature(message, *row, *view);
            message->status = kRelayWindowShow;
            SendToOwner(ZERITH_COMMAND_SHOW_WINDOW, message);
        }
    }
    std::free(device);
    message->wideText = callersText;
}

extern "C" void TRV_CALL OnAddedDevice(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    TrvWindow container = message->window;
    void* const callersData = message->data;
    const int64_t receivedCode = message->code;
    for (const PageTarget& target : FeaturePageOrder()) {
        // Each page gets its own rectangle and the container as parent: a page answers its own window in
        // `window`, which must not become the next page's parent.
        TrvRect rect = CurrentHostPlatform().ClientRect(container);
        message->window = container;
        message->data = &rect;
        message->code = target.code == kKeepCode ? receivedCode : target.code;
        SendToOwner(ShowOrSizeName(target, PageCommand::Show), message);
    }
    message->window = container;
    message->data = callersData;  // the rectangles were lent for the calls only
}

extern "C" void TRV_CALL OnUpdateSectionType(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    SendToOwner(message->text != nullptr ? QUARNEL_COMMAND_SELECT_ITEM : QUARNEL_COMMAND_RESET_NUMBER, message);
}

extern "C" void TRV_CALL OnGetOwner(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    const PageView* view = nullptr;
    const FeatureRow* row = FindSectionView(message->code, view);
    if (row == nullptr || view->ownerCode == kNoOwnerCode) {
        return;
    }
    message->code = view->ownerCode;
    if (row->windows->viewInStatus) {
        message->status = view->relayStatus;
    }
    SendToOwner(row->page, message);
}

}  // namespace trv
