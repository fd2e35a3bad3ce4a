// The bookmarks, calendars and messages code maps; see feature_maps.h.
#include "feature_maps.h"

#include <iterator>

#include "command_names.h"
#include "feature_codes.h"
#include "host_input.h"
#include "host_platform.h"

namespace trv {
namespace {

namespace bookmarks = sdk::bookmarks;
namespace calendars = sdk::calendars;
namespace messages = sdk::messages;

// The bookmark dialog's forms, as the page asks for them in `status`.
constexpr int64_t kFolderForm = bookmarks::kFolderDialog;
constexpr int64_t kPageForm = bookmarks::kPageDialog;

// The name (and address) of a bookmark folder or page: `data` is the page's pair, the current name and
// address in, the user's out; `status` says the form and comes back 1 when the pair holds an answer.
HookResult AskBookmark(CommandMessage& message) {
    auto* pair = static_cast<WideStringPair*>(message.data);
    const int64_t form = message.status;
    message.status = 0;
    if (pair == nullptr) return HookResult::Answered;
    const WideStringPair labels = form == kFolderForm ? WideStringPair(L"Name:", L"")
                                  : form == kPageForm ? WideStringPair(L"Name:", L"Url:")
                                                      : WideStringPair();
    WideStringPair entered = *pair;
    if (!AskTrimmedTexts(labels, form == kFolderForm ? 120 : 200, entered)) return HookResult::Answered;
    if (form == kFolderForm && !entered.first.empty()) {
        message.status = 1;
        *pair = WideStringPair(entered.first, L"");
    } else if (form == kPageForm && !entered.second.empty()) {
        message.status = 1;
        *pair = WideStringPair(entered.first.empty() ? entered.second : entered.first, entered.second);
    }
    return HookResult::Answered;
}

const FileChoice kBookmarkFiles = {L"Please select XML files.", L"XML Files", L"*.xml", false, true};

// A request that writes into the folder the user chooses, with no selection test.
constexpr RequestRule FolderRule(int64_t pageCode, int64_t relayCode, Selection selection = Selection::Any) {
    return {pageCode, relayCode, nullptr, selection, nullptr, true, nullptr, nullptr, nullptr};
}

const RequestRule kBookmarkRequests[] = {
    ForwardRule(bookmarks::kRequestLoad, bookmarks::kRelayLoad),
    FolderRule(bookmarks::kRequestExportHtml, bookmarks::kRelayExportHtml),
    FolderRule(bookmarks::kRequestBackupXml, bookmarks::kRelayBackupXml, Selection::Silent),
    {bookmarks::kRequestImportXml, bookmarks::kRelayImportXml, nullptr, Selection::Any, nullptr, false,
     &kBookmarkFiles, nullptr, nullptr},
    {bookmarks::kRequestDelete, bookmarks::kRelayDelete, nullptr, Selection::Notice,
     L"Do you really want to delete the checked bookmark(s)?", false, nullptr, nullptr, nullptr},
    ForwardRule(bookmarks::kRequestSave, bookmarks::kRelaySave),
    {bookmarks::kRequestAskEntry, 0, nullptr, Selection::Any, nullptr, false, nullptr, &AskBookmark, nullptr},
};

int64_t BookmarksCloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? bookmarks::kReplyHideCloudNotice : bookmarks::kReplyShowCloudNotice;
}

const ReplyRule kBookmarkReplies[] = {
    {bookmarks::kRelayCloudState, 0, &BookmarksCloudNotice, CounterField::Value3, Delivery::Copy, false, 0,
     kKeepStatus},
    CopyRule(bookmarks::kRelayLoaded, bookmarks::kReplyLoaded),
    {bookmarks::kRelayRemoved, bookmarks::kReplyRemoved, nullptr, CounterField::Value2, Delivery::Copy, false, 0,
     kKeepStatus},
};

const RequestRule kCalendarRequests[] = {
    ForwardRule(calendars::kRequestLoad, calendars::kRelayLoad),
    FolderRule(calendars::kRequestExport, calendars::kRelayExport),
    FolderRule(calendars::kRequestBackupXml, calendars::kRelayBackupXml),
    {calendars::kRequestImportXml, calendars::kRelayImportXml, nullptr, Selection::Any, nullptr, false,
     &kXmlFileChoice, nullptr, nullptr},
    {calendars::kRequestDelete, calendars::kRelayDelete, nullptr, Selection::Notice,
     L"Do you really want to delete the checked calendar(s)?", false, nullptr, nullptr, nullptr},
};

int64_t CalendarsCloudNotice(const CommandMessage& answer) {
    return answer.value3 >= 0 ? calendars::kReplyHideCloudNotice : calendars::kReplyShowCloudNotice;
}

const ReplyRule kCalendarReplies[] = {
    {calendars::kRelayCloudState, 0, &CalendarsCloudNotice, CounterField::Value3, Delivery::Copy, false, 0,
     kKeepStatus},
    CopyRule(calendars::kRelayLoaded, calendars::kReplyLoaded),
    {calendars::kRelayAdded, calendars::kReplyAdded, nullptr, CounterField::Value3, Delivery::Copy, false, 0,
     kKeepStatus},
    {calendars::kRelayRemoved, calendars::kReplyRemoved, nullptr, CounterField::Value2, Delivery::Copy, false, 0,
     kKeepStatus},
};

const RequestRule kMessageRequests[] = {
    ForwardRule(messages::kRequestLoad, messages::kRelayLoad),
    FolderRule(messages::kRequestExportText, messages::kRelayExportText),
    FolderRule(messages::kRequestExportCsv, messages::kRelayExportCsv),
    FolderRule(messages::kRequestExportHtml, messages::kRelayExportHtml),
    FolderRule(messages::kRequestBackupXml, messages::kRelayBackupXml),
};

const ReplyRule kMessageReplies[] = {
    CountRule(messages::kRelayCount, CounterField::Value3),
    CopyRule(messages::kRelayLoaded, messages::kReplyLoaded),
    CopyRule(messages::kRelayMessages, messages::kReplyMessages),
};

}  // namespace

bool AskTrimmedTexts(const WideStringPair& labels, int32_t height, WideStringPair& texts) {
    if (!CurrentHostPlatform().AskTwoTexts(labels, height, texts)) return false;
    texts = WideStringPair(TrimWhiteSpace(texts.first), TrimWhiteSpace(texts.second));
    return true;
}

const FeatureCodeMap kBookmarksCodeMap = {nullptr, kBookmarkRequests, std::size(kBookmarkRequests), kBookmarkReplies,
                                          std::size(kBookmarkReplies)};
const FeatureCodeMap kCalendarsCodeMap = {nullptr, kCalendarRequests, std::size(kCalendarRequests), kCalendarReplies,
                                          std::size(kCalendarReplies)};
const FeatureCodeMap kMessagesCodeMap = {nullptr, kMessageRequests, std::size(kMessageRequests), kMessageReplies,
                                         std::size(kMessageReplies)};

}  // namespace trv
