#pragma once
// The host's features: one row per feature page and its relay module counterpart. A row names the page's
// command and the relay's, says whether the traffic is about the current device, and, for a feature whose
// codes the host translates, its code map (page request -> relay request with the questions the host asks
// first; relay answer -> page reply with the section counter it keeps current) and the payload release
// from the feature's SDK header. A feature without a code map has its codes and payloads passed unchanged.
// Adding a feature is one row in kFeatureRows (feature_table.cpp) plus the feature's own files.
//
// The relays themselves are feature_relay.cpp. No state; any thread.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "command_message.h"
#include "feature_payload.h"

namespace trv {

// What the host does before a page request goes on to the relay module.
struct RequestRule {
    int64_t pageCode;
    int64_t relayCode;
    bool needsSelection;      // refused with "Nothing is checked." when the page sends no rows
    const wchar_t* question;  // asked first; null: no confirmation
    bool folder;              // the user chooses a folder, lent to the relay in `extra` for the call
    bool files;               // the user chooses XML files, handed to the relay in `data` as a path list
};

// Where a relay answer's count goes: nowhere, or the section list's counter from `value2` or `value3`.
enum class CounterField { None, Value2, Value3 };

struct ReplyRule {
    int64_t relayCode;
    int64_t pageCode;
    // Optional: picks the page code from the answer instead of `pageCode`.
    int64_t (*pickPageCode)(const CommandMessage& answer);
    CounterField counter;
    bool currentDeviceOnly;  // false: delivered whatever device it is about (an editor closing)
    bool needsExtra;         // an answer without its payload is dropped
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
    int32_t sectionId;  // the section list entry whose counter the answers keep current
};

struct FeatureRow {
    const char* page;                // the page's command: its requests to the host, the host's replies to it
    const char* relay;               // the relay module's command for the same feature
    bool forCurrentDevice;           // false: the page's dialogs choose the device themselves (the backup manager)
    const FeatureCodeMap* codes;     // null: codes and payloads pass unchanged
    ReleasePayloadFunction release;  // the feature's SDK release; null when its payloads are not translated
};

// Every row, in the order the host registers them.
const FeatureRow* FeatureRows(size_t& count);
// The row whose page or relay command is `name`; null when none.
const FeatureRow* FindFeatureRow(const char* name);

}  // namespace trv
