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
#include "host_handlers.h"
#include "host_platform.h"
#include "page_order.h"

namespace trv {
namespace {

constexpr uint32_t kHeaderColour = 0x7F7F7F;
constexpr int32_t kSectionRowValue = 30;
constexpr int32_t kHighestSectionId = 21;
constexpr int64_t kOverviewSummaryShown = 7;
constexpr int64_t kOverviewPageShown = 8;
constexpr int64_t kRelayWindowShow = 5;
constexpr int64_t kPhotoPrepareCode = 11;
const wchar_t kNoDevice[] = L"No detected device";

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
    {0, 0, L"Summary", 10, "common\\section\\section-home.png", false, false},
    {1, 0, L"Info", 10, nullptr, false, true},
    {2, 0, L"Contacts", 40, "common\\section\\section-contacts.png", false, false},
    {3, 0, L"Messages", 40, "common\\section\\section-message.png", false, false},
    {4, 0, L"Notes", 40, "common\\section\\section-note.png", false, false},
    {5, 0, L"Calendars", 40, "common\\section\\section-calendar.png", false, false},
    {6, 0, L"Bookmarks", 40, "common\\section\\section-bookmark.png", false, false},
    {7, 0, L"Media", 10, nullptr, false, true},
    {8, 0, L"Music", 40, "common\\section\\section-music.png", true, false},
    {9, 8, L"Songs", 70, nullptr, false, false},
    {10, 8, L"Voice Memos", 70, nullptr, false, false},
    {11, 8, L"Tones", 70, nullptr, false, false},
    {12, 0, L"Videos", 40, "common\\section\\section-video.png", true, false},
    {13, 12, L"Movies", 70, nullptr, false, false},
    {14, 12, L"TV Shows", 70, nullptr, false, false},
    {15, 12, L"Music Videos", 70, nullptr, false, false},
    {16, 0, L"Photos", 40, "common\\section\\section-photo.png", true, false},
    {17, 16, L"Photos", 70, nullptr, false, false},
    {18, 16, L"Albums", 70, nullptr, false, false},
    {19, 0, L"Books", 40, "common\\section\\section-book.png", false, false},
    {20, 0, L"Apps", 10, nullptr, false, true},
    {21, 0, L"Apps", 40, "common\\section\\section-app.png", false, false},
};

// What choosing a feature section does: the page shown, the view id it is shown with (and that the relay
// gets in `status` for videos and photos), the relay name and its query and load codes.
struct SectionSwitch {
    int32_t section;
    const char* page;
    int64_t viewCode;     // kNoView: `code` is left as the section list sent it
    int64_t relayStatus;  // the relay's `status` for the query and the load
    const char* relay;
    int64_t queryCode;
    int64_t loadCode;
    bool photos;
};

constexpr int64_t kNoView = -1;

const SectionSwitch kSwitches[] = {
    {2, ARDENA_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_CONTACT, 1, 2, false},
    {3, SORVAD_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_SMS, 22, 24, false},
    {4, CORTAL_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_NOTE, 56, 58, false},
    {5, WENDRA_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_CALENDAR, 63, 65, false},
    {6, DUNMAR_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_BOOKMARK, 99, 101, false},
    {9, MULVAR_COMMAND_SHOW_WINDOW, 9, 0, ZERITH_COMMAND_DO_MEDIA, 93, 95, false},
    {10, ELVIST_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_RECORDING, 81, 83, false},
    {11, FAYDRA_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_ITUNES, 78, 80, false},
    {13, VINTOR_COMMAND_SHOW_WINDOW, 13, 13, ZERITH_COMMAND_DO_MEDIA, 84, 86, false},
    {14, VINTOR_COMMAND_SHOW_WINDOW, 14, 14, ZERITH_COMMAND_DO_MEDIA, 90, 92, false},
    {15, VINTOR_COMMAND_SHOW_WINDOW, 15, 15, ZERITH_COMMAND_DO_MEDIA, 87, 89, false},
    {17, PIMSEL_COMMAND_SHOW_WINDOW, 0, 0, ZERITH_COMMAND_DO_PHOTO, 123, 125, true},
    {18, PIMSEL_COMMAND_SHOW_WINDOW, 1, 1, ZERITH_COMMAND_DO_PHOTO, 127, 129, true},
    {19, TELBOR_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_ITUNES, 72, 74, false},
    {21, GAVREL_COMMAND_SHOW_WINDOW, kNoView, 0, ZERITH_COMMAND_DO_APP, 50, 52, false},
};

const SectionSwitch* FindSwitch(int64_t section) {
    for (const SectionSwitch& entry : kSwitches) {
        if (entry.section == section) {
            return &entry;
        }
    }
    return nullptr;
}

void SwitchToFeature(CommandMessage* message, const SectionSwitch& entry) {
    message->status = kOverviewPageShown;
    SendToOwner(YESTAL_COMMAND_SWITCH_STATUS, message);
    SendToOwner(YESTAL_COMMAND_HIDE_CONNECT_CHILD, message);
    if (entry.viewCode != kNoView) {
        message->code = entry.viewCode;
    }
    SendToOwner(entry.page, message);

    message->code = entry.queryCode;
    message->status = entry.relayStatus;
    SendToOwner(entry.relay, message);
    if (message->status != 0) {
        return;  // the relay holds the data already
    }
    if (entry.photos) {
        message->code = kPhotoPrepareCode;
        message->status = entry.viewCode;
        message->value2 = 0;
        SendToOwner(PIMSEL_COMMAND_DO_PHOTO, message);
    }
    message->code = entry.loadCode;
    message->status = entry.relayStatus;
    SendToOwner(entry.relay, message);
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
        if (section == 0) {
            SendToOwner(YESTAL_COMMAND_HIDE_CONNECT_CHILD, message);
            message->status = kOverviewSummaryShown;
            SendToOwner(YESTAL_COMMAND_SWITCH_STATUS, message);
            message->status = kRelayWindowShow;
            SendToOwner(ZERITH_COMMAND_SHOW_WINDOW, message);
        } else if (const SectionSwitch* entry = FindSwitch(section)) {
            message->wideText = device;
            SwitchToFeature(message, *entry);
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
    const int64_t section = message->code;
    if (section == 9) {
        message->code = 17;
        SendToOwner(MULVAR_COMMAND_DO_MUSIC, message);
    } else if (section == 11) {
        message->code = 8;
        SendToOwner(FAYDRA_COMMAND_DO_RINGTONE, message);
    } else if (section >= 13 && section <= 15) {
        message->code = 9;
        message->status = section;
        SendToOwner(VINTOR_COMMAND_DO_VIDEO, message);
    } else if (section == 19) {
        message->code = 8;
        SendToOwner(TELBOR_COMMAND_DO_BOOK, message);
    }
}

}  // namespace trv
