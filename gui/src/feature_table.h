#pragma once
// The host's features: one row per feature page and its relay module counterpart. A row names the page's
// command and the relay's, says whether the traffic is about the current device, carries its code map (page
// request -> relay request with the questions the host asks first; relay answer -> page reply with the section
// counter it keeps current), the payload release from the feature's SDK header, the section whose counter its
// answers keep current, and its page's windows: where the page stands in the order in which the host makes and
// sizes the pages, and each view of it with its section and what choosing that section asks the relay module.
// Adding a feature is one row in kFeatureRows (feature_table.cpp) plus the feature's own files.
//
// The relays themselves are feature_relay.cpp, the page switching section_routing.cpp. No state; any thread.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "command_message.h"
#include "feature_payload.h"

namespace trv {

// How a request's selection is checked: not at all, refused with the notice "Nothing is checked.", or
// dropped without a word.
enum class Selection { Any, Notice, Silent };

// The open-file question of a request that hands the relay module the chosen files.
struct FileChoice {
    const wchar_t* title;
    const wchar_t* filterName;
    const wchar_t* pattern;
    bool multiple;
    bool withPageRecords;  // the paths go with the page's records in `data` as one import pair
};

// The XML import's question: "Please select XML files.", "XML Files" (*.xml), one file.
extern const FileChoice kXmlFileChoice;

// What a request's hook decided.
enum class HookResult {
    Forward,   // go on to the relay module
    Drop,      // drop the request; its payload has been released or was never the host's
    Answered,  // answered in place: nothing goes on
};

// A rule's relay code that says "the code as the hook left it".
constexpr int64_t kCodeFromHook = -1;

// What the host does before a page request goes on to the relay module.
struct RequestRule {
    int64_t pageCode;
    int64_t relayCode;        // kCodeFromHook: as the hook set it
    const char* relay;        // the relay name this request goes to; null: the row's relay name
    Selection selection;      // applied to `count`; a refused request releases its payload
    const wchar_t* question;  // asked first; null: no confirmation
    bool folder;              // the user chooses a folder, lent to the relay in `extra` for the call
    const FileChoice* files;  // the user chooses files, handed to the relay in `data` as a path list
    // Optional: runs after the current device is known and before any question; may rewrite the message,
    // drop the request (releasing what it replaced) or answer it in place.
    HookResult (*hook)(CommandMessage& message);
    // Optional: runs after the relay module was called, with `status` as it was sent.
    void (*after)(CommandMessage& message, int64_t sentStatus);
};

// Where a relay answer's count goes: nowhere, or the section list's counter from `value2` or `value3`.
enum class CounterField { None, Value2, Value3 };

// How an answer reaches the page.
enum class Delivery {
    Copy,            // a copy of the answer, about the current device only, with that device in `wideText`
    Itself,          // the answer itself, about the current device only, with that device in `wideText`
    AnyDevice,       // the answer itself whatever device it is about (an editor closing)
    CountOnly,       // nowhere: the answer only keeps the counter current
    TwiceForPhotos,  // two copies, `status` 0 then 1, the second with its own copy of the identifier
    Unchanged,       // the answer itself with nothing added (the backup manager chooses its devices itself)
};

constexpr int64_t kKeepStatus = -1;

struct ReplyRule {
    int64_t relayCode;
    int64_t pageCode;
    // Optional: picks the page code from the answer instead of `pageCode`.
    int64_t (*pickPageCode)(const CommandMessage& answer);
    CounterField counter;
    Delivery delivery;
    bool needsExtra;     // an answer without its payload is dropped
    int32_t sectionId;   // the counter's section; 0: the code map's
    int64_t pageStatus;  // the page's `status`; kKeepStatus: the answer's
};

struct FeatureCodeMap {
    // Optional: called before the host asks anything. A request whose payload points at the page's own
    // records swaps them for copies that the page cannot free while a dialog runs its message loop; what
    // must live until the relay module has been called goes into `keep`.
    void (*detachPayload)(const RequestRule& rule, CommandMessage& message, std::shared_ptr<void>& keep);
    const RequestRule* requests;
    size_t requestCount;
    const ReplyRule* replies;
    size_t replyCount;
};

// The common rules, spelled once.
// A request forwarded as it is under another code (to `relay`, or the row's relay name when null).
constexpr RequestRule ForwardRule(int64_t pageCode, int64_t relayCode, const char* relay = nullptr) {
    return {pageCode, relayCode, relay, Selection::Any, nullptr, false, nullptr, nullptr, nullptr};
}
// An answer that keeps only the section counter current.
constexpr ReplyRule CountRule(int64_t relayCode, CounterField counter, int32_t sectionId = 0) {
    return {relayCode, 0, nullptr, counter, Delivery::CountOnly, false, sectionId, kKeepStatus};
}
// An answer copied to the page under `pageCode` when it is about the current device.
constexpr ReplyRule CopyRule(int64_t relayCode, int64_t pageCode, int64_t pageStatus = kKeepStatus) {
    return {relayCode, pageCode, nullptr, CounterField::None, Delivery::Copy, false, 0, pageStatus};
}

// `code` of a page command that is left as it came (a page made: as received; a page sized: 0), and a
// page view without an owner question.
constexpr int64_t kKeepCode = -1;
constexpr int64_t kNoOwnerCode = -1;

// One view of a feature page and the section that shows it.
struct PageView {
    int32_t section;      // an sdk::SectionId
    int64_t pageCode;     // `code` of the page's SHOW_WINDOW when it is made and of its CHANGE_SIZE; or kKeepCode
    int64_t switchCode;   // `code` of the SHOW_WINDOW that shows it when its section is chosen; or kKeepCode
    int64_t relayStatus;  // the relay's `status` with the section's query and load
    int64_t queryCode;    // asks the relay whether it holds the view's data (`status` non-zero: it does)
    int64_t loadCode;     // has the relay load it
    // The page code under which the relay's question "which page shows this section" reaches the page (with
    // `status` = relayStatus when the row's views are named in `status`); kNoOwnerCode: the section has none.
    int64_t ownerCode;
};

// A feature's page windows in the main view.
struct FeaturePage {
    const char* show;         // its SHOW_WINDOW
    const char* size;         // its CHANGE_SIZE
    const char* switchRelay;  // the relay name that a section's query and load go to
    int order;                // its place in the order of making and sizing the pages (1 first)
    bool viewInStatus;        // the views are named in `status` (videos, photos)
    // A code sent to the page (with `status` = the view) before the relay loads a view; 0: none.
    int64_t prepareCode;
    const PageView* views;  // in the order they are made and sized
    size_t viewCount;
};

struct FeatureRow {
    const char* page;                // the page's command: its requests to the host, the host's replies to it
    const char* relay;               // the relay module's command for the same feature
    bool forCurrentDevice;           // false: the page's dialogs choose the device themselves (the backup manager)
    const FeatureCodeMap* codes;     // the translation both ways; null: nothing is relayed
    ReleasePayloadFunction release;  // the feature's SDK release; null when its payloads are not translated
    int32_t sectionId;               // the section list entry whose counter the answers keep current
    const FeaturePage* windows;      // null: the feature has no page in the main view (the backup manager)
};

// Every row, in the order the host registers them.
const FeatureRow* FeatureRows(size_t& count);
// The row whose page or relay command is `name`; null when none.
const FeatureRow* FindFeatureRow(const char* name);
// The row and view that section `section` shows; null (and `view` untouched) when no page shows it.
const FeatureRow* FindSectionView(int64_t section, const PageView*& view);

}  // namespace trv
