// The backup manager's code map; see feature_maps.h. Its requests name no current device (its dialogs
// choose the device themselves), several are answered in place through `status` and the message's own
// fields, and every dialog shown for them has the calling window (`window`) as its parent.
#include "feature_maps.h"

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "command_bus.h"
#include "command_names.h"
#include "feature_codes.h"
#include "host_input.h"
#include "host_platform.h"
#include "wide_pair.h"

namespace trv {
namespace {

using namespace sdk::backups;

const wchar_t kRestoreWarning[] =
    L"And this operation will erase the current photo and system configuration data.\n\n"
    L"Caution: Don\u2019t disconnect your device during the recovery process to avoid data losing or equipment "
    L"crashing. And when the recovery is completed, the device will be automatically rebooted.";

// The restore's source folder goes to the relay as a one-entry list.
HookResult ChooseRestoreFolder(CommandMessage& message) {
    const std::wstring folder = CurrentHostPlatform().ChooseFolder(message.window, std::wstring());
    if (folder.empty()) return HookResult::Drop;
    message.data = new std::vector<std::wstring>{folder};  // the relay module's, or released when undelivered
    return HookResult::Forward;
}

// The relay fills the list of devices in `extra` during the call; without a relay the list is empty, never
// null.
HookResult ListDevices(CommandMessage& message) {
    SendToOwner(ZERITH_COMMAND_GET_DEVICE_LIST, &message);
    if (message.extra == nullptr) message.extra = new std::vector<WideStringPair>();
    return HookResult::Answered;
}

HookResult ConfirmBackupNow(CommandMessage& message) {
    if (CurrentHostPlatform().Confirm(L"Do you really want to backup now?", 300, 120, message.window)) {
        message.status = 1;
    }
    return HookResult::Answered;
}

// The folder that backups are kept in: a copy on the shared heap in `extra`, which the page frees.
HookResult ChooseBackupFolder(CommandMessage& message) {
    const std::wstring title = message.wideText != nullptr ? message.wideText : L"";
    const std::wstring folder = CurrentHostPlatform().ChooseFolder(message.window, title);
    if (!folder.empty()) {
        message.extra = HeapWideCopy(folder);
        message.status = 1;
    }
    return HookResult::Answered;
}

HookResult ConfirmRestore(CommandMessage& message) {
    const std::wstring device = message.wideText != nullptr ? message.wideText : L"";
    const std::wstring text = L"Please noted that the selected backup file will be restored to your device \"" +
                              device + L"\". " + kRestoreWarning;
    if (CurrentHostPlatform().Confirm(text, 500, 240, message.window)) message.status = 1;
    return HookResult::Answered;
}

HookResult AskPassword(CommandMessage& message) {
    std::wstring entered;
    if (!CurrentHostPlatform().AskLine(L"Password:", message.window, true, entered)) return HookResult::Answered;
    // Blanks are part of a password: only an all-blank answer counts as none, and the text goes on as typed.
    if (!TrimWhiteSpace(entered).empty()) {
        message.status = 1;
        message.wideText = HeapWideCopy(entered);  // the page frees it
    }
    return HookResult::Answered;
}

template <const wchar_t* kText>
HookResult ShowNotice(CommandMessage& message) {
    CurrentHostPlatform().ShowAlert(kText, message.window);
    return HookResult::Answered;
}

const wchar_t kNoDeviceSelected[] = L"No device selected.";
const wchar_t kNoBackupSelected[] = L"No backup selected.";
const wchar_t kBackupUnfinished[] =
    L"This backup was never finished (it lacks files), so it cannot be restored. Choose another backup.";

constexpr RequestRule AnswerInPlace(int64_t pageCode, HookResult (*hook)(CommandMessage&)) {
    return {pageCode, 0, nullptr, Selection::Any, nullptr, false, nullptr, hook, nullptr};
}

const RequestRule kBackupRequests[] = {
    ForwardRule(kRequestList, kRelayList),
    {kRequestListFolder, kRelayList, nullptr, Selection::Any, nullptr, false, nullptr, &ChooseRestoreFolder, nullptr},
    {kRequestDelete, kRelayDelete, nullptr, Selection::Notice, L"Do you really want to delete the checked backup(s)?",
     false, nullptr, nullptr, nullptr},
    AnswerInPlace(kRequestDevices, &ListDevices),
    AnswerInPlace(kRequestAskBackupNow, &ConfirmBackupNow),
    ForwardRule(kRequestBackup, kRelayBackup),
    ForwardRule(kRequestCancel, kRelayCancel),
    AnswerInPlace(kRequestAskFolder, &ChooseBackupFolder),
    AnswerInPlace(kRequestAskRestore, &ConfirmRestore),
    ForwardRule(kRequestRestore, kRelayRestore),
    AnswerInPlace(kRequestAskPassword, &AskPassword),
    AnswerInPlace(kRequestNoDeviceNotice, &ShowNotice<kNoDeviceSelected>),
    AnswerInPlace(kRequestNoBackupNotice, &ShowNotice<kNoBackupSelected>),
    AnswerInPlace(kRequestUnfinishedNotice, &ShowNotice<kBackupUnfinished>),
};

// The list's answers: a backup, a size, the end; anything else (a run's report) goes on as it came.
int64_t BackupListAnswer(const CommandMessage& answer) {
    return answer.status >= 0 && answer.status <= 2 ? answer.status + kReplyBackup : kReplyRunReport;
}

const ReplyRule kBackupReplies[] = {
    {kRelayList, 0, &BackupListAnswer, CounterField::None, Delivery::Unchanged, false, 0, kKeepStatus},
    {kRelayDelete, kReplyDeleted, nullptr, CounterField::None, Delivery::Unchanged, false, 0, kKeepStatus},
};

}  // namespace

const FeatureCodeMap kBackupCodeMap = {nullptr, kBackupRequests, std::size(kBackupRequests), kBackupReplies,
                                       std::size(kBackupReplies)};

}  // namespace trv
