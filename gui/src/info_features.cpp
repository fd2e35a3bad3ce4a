// The bookmarks, calendars and messages code maps; see feature_maps.h.
#include "feature_maps.h"

#include <iterator>

#include "command_names.h"
#include "host_input.h"
#include "host_platform.h"

namespace trv {
namespace {

constexpr int32_t kMessagesSection = 3;
constexpr int32_t kCalendarsSection = 5;
constexpr int32_t kBookmarksSection = 6;
// The bookmark dialog's forms, as the page asks for them in `status`.
constexpr int64_t kFolderForm = 11;
constexpr int64_t kPageForm = 12;

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

const RequestRule kBookmarkRequests[] = {
    ForwardRule(1, 101),
    {2, 102, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {3, 103, nullptr, Selection::Silent, nullptr, true, nullptr, nullptr, nullptr},
    {4, 104, nullptr, Selection::Any, nullptr, false, &kBookmarkFiles, nullptr, nullptr},
    {6, 105, nullptr, Selection::Notice, L"Do you really want to delete the checked bookmark(s)?", false, nullptr,
     nullptr, nullptr},
    ForwardRule(7, 106),
    {16, 0, nullptr, Selection::Any, nullptr, false, nullptr, &AskBookmark, nullptr},
};

int64_t BookmarksCloudNotice(const CommandMessage& answer) { return answer.value3 >= 0 ? 10 : 9; }

const ReplyRule kBookmarkReplies[] = {
    {100, 0, &BookmarksCloudNotice, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    CopyRule(101, 7),
    {105, 6, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
};

const RequestRule kCalendarRequests[] = {
    ForwardRule(1, 65),
    {2, 67, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {3, 66, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {4, 68, nullptr, Selection::Any, nullptr, false, &kXmlFileChoice, nullptr, nullptr},
    {6, 70, nullptr, Selection::Notice, L"Do you really want to delete the checked calendar(s)?", false, nullptr,
     nullptr, nullptr},
};

int64_t CalendarsCloudNotice(const CommandMessage& answer) { return answer.value3 >= 0 ? 9 : 10; }

const ReplyRule kCalendarReplies[] = {
    {64, 0, &CalendarsCloudNotice, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    CopyRule(65, 7),
    {69, 0, nullptr, CounterField::Value3, Delivery::Copy, false, 0, kKeepStatus},
    {70, 6, nullptr, CounterField::Value2, Delivery::Copy, false, 0, kKeepStatus},
};

const RequestRule kMessageRequests[] = {
    ForwardRule(1, 24),
    {3, 26, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {4, 30, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {5, 32, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
    {6, 35, nullptr, Selection::Any, nullptr, true, nullptr, nullptr, nullptr},
};

const ReplyRule kMessageReplies[] = {
    CountRule(23, CounterField::Value3),
    CopyRule(24, 11),
    CopyRule(25, 10),
};

}  // namespace

bool AskTrimmedTexts(const WideStringPair& labels, int32_t height, WideStringPair& texts) {
    if (!CurrentHostPlatform().AskTwoTexts(labels, height, texts)) return false;
    texts = WideStringPair(TrimWhiteSpace(texts.first), TrimWhiteSpace(texts.second));
    return true;
}

const FeatureCodeMap kBookmarksCodeMap = {nullptr,          kBookmarkRequests,           std::size(kBookmarkRequests),
                                          kBookmarkReplies, std::size(kBookmarkReplies), kBookmarksSection};
const FeatureCodeMap kCalendarsCodeMap = {nullptr,          kCalendarRequests,           std::size(kCalendarRequests),
                                          kCalendarReplies, std::size(kCalendarReplies), kCalendarsSection};
const FeatureCodeMap kMessagesCodeMap = {nullptr,         kMessageRequests,           std::size(kMessageRequests),
                                         kMessageReplies, std::size(kMessageReplies), kMessagesSection};

}  // namespace trv
