// The apps, books, music, videos, photos, voice memo and ringtone code maps; see feature_maps.h. Exports of
// every media page go to the relay's file command; list loads of music and videos to its media command and
// the book and ringtone lists to its iTunes command.
#include "feature_maps.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "command_bus.h"
#include "command_names.h"

namespace trv {
namespace {

constexpr int64_t kExportCode = 109;
constexpr int64_t kPhotoPageNotice = 11;

constexpr RequestRule ExportRule(int64_t pageCode, Selection selection = Selection::Any) {
    return {pageCode, kExportCode, ZERITH_COMMAND_DO_FILE, selection, nullptr, true, nullptr, nullptr, nullptr};
}

const RequestRule kAppRequests[] = {
    ForwardRule(1, 52),
    {5, 55, nullptr, Selection::Notice, L"Do you really want to uninstall the checked app(s)?", false, nullptr, nullptr,
     nullptr},
};

const ReplyRule kAppReplies[] = {
    CountRule(51, CounterField::Value3),
    CopyRule(52, 6),
    CopyRule(53, 7),
    CopyRule(55, 5),
};

bool IsBookFile(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || path.find_first_of(L"\\/", dot) != std::wstring::npos) return false;
    std::wstring extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); });
    return extension == L".epub" || extension == L".pdf";
}

// Dropped files: only books go on; a drop without any is dropped, list and all.
HookResult KeepBookFiles(CommandMessage& message) {
    auto* paths = static_cast<std::vector<std::wstring>*>(message.data);
    if (paths != nullptr) {
        paths->erase(std::remove_if(paths->begin(), paths->end(), [](const std::wstring& p) { return !IsBookFile(p); }),
                     paths->end());
        message.count = static_cast<int64_t>(paths->size());
    }
    if (paths == nullptr || paths->empty()) {
        delete paths;
        message.data = nullptr;
        return HookResult::Drop;
    }
    return HookResult::Forward;
}

const FileChoice kBookFiles = {L"Please select eBook files.", L"eBook Files(*.pdf;*.epub)", L"*.pdf;*.epub", true,
                               false};

const RequestRule kBookRequests[] = {
    ForwardRule(1, 74, ZERITH_COMMAND_DO_ITUNES),
    ExportRule(2),
    {3, 76, ZERITH_COMMAND_DO_BOOK, Selection::Any, nullptr, false, &kBookFiles, nullptr, nullptr},
    {4, 76, ZERITH_COMMAND_DO_BOOK, Selection::Any, nullptr, false, nullptr, &KeepBookFiles, nullptr},
    {5, 77, ZERITH_COMMAND_DO_BOOK, Selection::Notice, L"Do you really want to delete the checked book(s)?", false,
     nullptr, nullptr, nullptr},
};

const ReplyRule kBookReplies[] = {
    CountRule(73, CounterField::Value3),
    CopyRule(74, 6),
    {76, 3, nullptr, CounterField::Value2, Delivery::Itself, false, 0, kKeepStatus},
    {77, 5, nullptr, CounterField::Value2, Delivery::Itself, false, 0, kKeepStatus},
};

const RequestRule kMusicRequests[] = {
    ForwardRule(1, 95, ZERITH_COMMAND_DO_MEDIA),
    ExportRule(2),
    ForwardRule(8, 98, ZERITH_COMMAND_DO_MEDIA),
};

const ReplyRule kMusicReplies[] = {
    CountRule(94, CounterField::Value3), CopyRule(95, 6), CopyRule(96, 9), CopyRule(97, 14), CopyRule(98, 15),
};

// A video list load names its kind in `status` (13 movies, 14 TV shows, 15 music videos).
HookResult PickVideoLoad(CommandMessage& message) {
    switch (message.status) {
    case 13: message.code = 86; break;
    case 14: message.code = 92; break;
    case 15: message.code = 89; break;
    default: break;  // goes on as code 1
    }
    return HookResult::Forward;
}

const RequestRule kVideoRequests[] = {
    {1, kCodeFromHook, ZERITH_COMMAND_DO_MEDIA, Selection::Any, nullptr, false, nullptr, &PickVideoLoad, nullptr},
    ExportRule(2),
};

const ReplyRule kVideoReplies[] = {
    CountRule(85, CounterField::Value3, 13),
    CountRule(91, CounterField::Value3, 14),
    CountRule(88, CounterField::Value3, 15),
    CopyRule(86, 7, 13),
    CopyRule(92, 7, 14),
    CopyRule(89, 7, 15),
};

// The photos page hears of each of its requests once the relay has it, with the view it was about.
void TellPhotoPage(CommandMessage& message, int64_t sentStatus) {
    message.code = kPhotoPageNotice;
    message.value2 = 0;
    message.status = sentStatus;
    SendToOwner(PIMSEL_COMMAND_DO_PHOTO, &message);
}

void CountOneThenTellPhotoPage(CommandMessage& message, int64_t sentStatus) {
    message.count = 1;
    TellPhotoPage(message, sentStatus);
}

// A photo load: view 0 (all photos) or the albums.
HookResult PickPhotoLoad(CommandMessage& message) {
    message.code = message.status == 0 ? 125 : 130;
    message.count = 1;
    return HookResult::Forward;
}

HookResult AboutAlbums(CommandMessage& message) {
    message.status = 1;
    return HookResult::Forward;
}

const RequestRule kPhotoRequests[] = {
    {1, kCodeFromHook, nullptr, Selection::Any, nullptr, false, nullptr, &PickPhotoLoad, &TellPhotoPage},
    ExportRule(2, Selection::Silent),
    {5, 134, nullptr, Selection::Notice, L"Do you really want to delete the checked photo(s)?", false, nullptr, nullptr,
     &TellPhotoPage},
    {9, 130, nullptr, Selection::Any, nullptr, false, nullptr, &AboutAlbums, &TellPhotoPage},
    {12, 129, nullptr, Selection::Any, nullptr, false, nullptr, nullptr, &CountOneThenTellPhotoPage},
    {13, 131, nullptr, Selection::Silent, nullptr, true, nullptr, &AboutAlbums, &TellPhotoPage},
};

const ReplyRule kPhotoReplies[] = {
    CountRule(124, CounterField::Value3, 17),
    CountRule(128, CounterField::Value3, 18),
    CopyRule(125, 6, 0),
    CopyRule(126, 7, 1),
    CopyRule(129, 8, 1),
    {133, 11, nullptr, CounterField::None, Delivery::AnyDevice, false, 0, kKeepStatus},
    {134, 5, nullptr, CounterField::Value2, Delivery::TwiceForPhotos, false, 17, kKeepStatus},
};

const RequestRule kRecordingRequests[] = {ForwardRule(1, 83), ExportRule(2)};
const ReplyRule kRecordingReplies[] = {CountRule(82, CounterField::Value3), CopyRule(83, 6)};

const RequestRule kRingtoneRequests[] = {ForwardRule(1, 80, ZERITH_COMMAND_DO_ITUNES), ExportRule(2)};
const ReplyRule kRingtoneReplies[] = {CountRule(79, CounterField::Value3), CopyRule(80, 6)};

}  // namespace

const FeatureCodeMap kAppsCodeMap = {nullptr,     kAppRequests,           std::size(kAppRequests),
                                     kAppReplies, std::size(kAppReplies), 21};
const FeatureCodeMap kBooksCodeMap = {nullptr,      kBookRequests,           std::size(kBookRequests),
                                      kBookReplies, std::size(kBookReplies), 19};
const FeatureCodeMap kMusicCodeMap = {nullptr,       kMusicRequests,           std::size(kMusicRequests),
                                      kMusicReplies, std::size(kMusicReplies), 9};
const FeatureCodeMap kVideosCodeMap = {nullptr,       kVideoRequests,           std::size(kVideoRequests),
                                       kVideoReplies, std::size(kVideoReplies), 13};
const FeatureCodeMap kPhotosCodeMap = {nullptr,       kPhotoRequests,           std::size(kPhotoRequests),
                                       kPhotoReplies, std::size(kPhotoReplies), 17};
const FeatureCodeMap kRecordingsCodeMap = {
    nullptr, kRecordingRequests, std::size(kRecordingRequests), kRecordingReplies, std::size(kRecordingReplies), 10};
const FeatureCodeMap kRingtonesCodeMap = {nullptr,          kRingtoneRequests,           std::size(kRingtoneRequests),
                                          kRingtoneReplies, std::size(kRingtoneReplies), 11};

}  // namespace trv
