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
#include "feature_codes.h"
#include "section_ids.h"

namespace trv {
namespace {

constexpr RequestRule ExportRule(int64_t pageCode, Selection selection = Selection::Any) {
    return {pageCode, sdk::files::kRelayExportFiles, ZERITH_COMMAND_DO_FILE, selection, nullptr, true, nullptr, nullptr,
            nullptr};
}

namespace apps = sdk::apps;
const RequestRule kAppRequests[] = {
    ForwardRule(apps::kRequestLoad, apps::kRelayLoad),
    {apps::kRequestUninstall, apps::kRelayUninstall, nullptr, Selection::Notice,
     L"Do you really want to uninstall the checked app(s)?", false, nullptr, nullptr, nullptr},
};

const ReplyRule kAppReplies[] = {
    CountRule(apps::kRelayCount, CounterField::Value3),
    CopyRule(apps::kRelayLoaded, apps::kReplyLoaded),
    CopyRule(apps::kRelayIcons, apps::kReplyIcons),
    CopyRule(apps::kRelayUninstalled, apps::kReplyUninstalled),
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

namespace books = sdk::books;
const RequestRule kBookRequests[] = {
    ForwardRule(books::kRequestLoad, books::kRelayLoad, ZERITH_COMMAND_DO_ITUNES),
    ExportRule(books::kRequestExport),
    {books::kRequestImportFiles, books::kRelayImport, ZERITH_COMMAND_DO_BOOK, Selection::Any, nullptr, false,
     &kBookFiles, nullptr, nullptr},
    {books::kRequestAddFiles, books::kRelayImport, ZERITH_COMMAND_DO_BOOK, Selection::Any, nullptr, false, nullptr,
     &KeepBookFiles, nullptr},
    {books::kRequestDelete, books::kRelayDelete, ZERITH_COMMAND_DO_BOOK, Selection::Notice,
     L"Do you really want to delete the checked book(s)?", false, nullptr, nullptr, nullptr},
};

const ReplyRule kBookReplies[] = {
    CountRule(books::kRelayCount, CounterField::Value3),
    CopyRule(books::kRelayLoaded, books::kReplyLoaded),
    {books::kRelayImported, books::kReplyImported, nullptr, CounterField::Value2, Delivery::Itself, false, 0,
     kKeepStatus},
    {books::kRelayDeleted, books::kReplyDeleted, nullptr, CounterField::Value2, Delivery::Itself, false, 0,
     kKeepStatus},
};

namespace music = sdk::music;
const RequestRule kMusicRequests[] = {
    ForwardRule(music::kRequestLoad, music::kRelayLoad, ZERITH_COMMAND_DO_MEDIA),
    ExportRule(music::kRequestExport),
    ForwardRule(music::kRequestReload, music::kRelayReload, ZERITH_COMMAND_DO_MEDIA),
};

const ReplyRule kMusicReplies[] = {
    CountRule(music::kRelayCount, CounterField::Value3),
    CopyRule(music::kRelayLoaded, music::kReplyLoaded),
    CopyRule(music::kRelayPlaylists, music::kReplyPlaylists),
    CopyRule(music::kRelayPlaylistSongs, music::kReplyPlaylistSongs),
    CopyRule(music::kRelayReloaded, music::kReplyReloaded),
};

namespace videos = sdk::videos;
// A video list load names its kind in `status` (its section: movies, TV shows or music videos).
HookResult PickVideoLoad(CommandMessage& message) {
    switch (message.status) {
    case sdk::kSectionMovies: message.code = videos::kRelayLoadMovies; break;
    case sdk::kSectionTvShows: message.code = videos::kRelayLoadTvShows; break;
    case sdk::kSectionMusicVideos: message.code = videos::kRelayLoadMusicVideos; break;
    default: break;  // goes on as the page's code
    }
    return HookResult::Forward;
}

const RequestRule kVideoRequests[] = {
    {videos::kRequestLoad, kCodeFromHook, ZERITH_COMMAND_DO_MEDIA, Selection::Any, nullptr, false, nullptr,
     &PickVideoLoad, nullptr},
    ExportRule(videos::kRequestExport),
};

const ReplyRule kVideoReplies[] = {
    CountRule(videos::kRelayMovieCount, CounterField::Value3, sdk::kSectionMovies),
    CountRule(videos::kRelayTvShowCount, CounterField::Value3, sdk::kSectionTvShows),
    CountRule(videos::kRelayMusicVideoCount, CounterField::Value3, sdk::kSectionMusicVideos),
    CopyRule(videos::kRelayMoviesLoaded, videos::kReplyLoaded, sdk::kSectionMovies),
    CopyRule(videos::kRelayTvShowsLoaded, videos::kReplyLoaded, sdk::kSectionTvShows),
    CopyRule(videos::kRelayMusicVideosLoaded, videos::kReplyLoaded, sdk::kSectionMusicVideos),
};

namespace photos = sdk::photos;
// The photos page hears of each of its requests once the relay has it, with the view it was about.
void TellPhotoPage(CommandMessage& message, int64_t sentStatus) {
    message.code = photos::kReplyNotice;
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
    message.code = message.status == photos::kPhotosView ? photos::kRelayLoadPhotos : photos::kRelayLoadAlbumPhotos;
    message.count = 1;
    return HookResult::Forward;
}

HookResult AboutAlbums(CommandMessage& message) {
    message.status = photos::kAlbumsView;
    return HookResult::Forward;
}

const RequestRule kPhotoRequests[] = {
    {photos::kRequestLoad, kCodeFromHook, nullptr, Selection::Any, nullptr, false, nullptr, &PickPhotoLoad,
     &TellPhotoPage},
    ExportRule(photos::kRequestExport, Selection::Silent),
    {photos::kRequestDelete, photos::kRelayDelete, nullptr, Selection::Notice,
     L"Do you really want to delete the checked photo(s)?", false, nullptr, nullptr, &TellPhotoPage},
    {photos::kRequestLoadAlbums, photos::kRelayLoadAlbumPhotos, nullptr, Selection::Any, nullptr, false, nullptr,
     &AboutAlbums, &TellPhotoPage},
    {photos::kRequestAlbumList, photos::kRelayLoadAlbums, nullptr, Selection::Any, nullptr, false, nullptr, nullptr,
     &CountOneThenTellPhotoPage},
    {photos::kRequestExportAlbum, photos::kRelayExportAlbum, nullptr, Selection::Silent, nullptr, true, nullptr,
     &AboutAlbums, &TellPhotoPage},
};

const ReplyRule kPhotoReplies[] = {
    CountRule(photos::kRelayPhotoCount, CounterField::Value3, sdk::kSectionPhotos),
    CountRule(photos::kRelayAlbumCount, CounterField::Value3, sdk::kSectionAlbums),
    CopyRule(photos::kRelayPhotosLoaded, photos::kReplyPhotosLoaded, photos::kPhotosView),
    CopyRule(photos::kRelayThumbnails, photos::kReplyThumbnails, photos::kAlbumsView),
    CopyRule(photos::kRelayAlbumsLoaded, photos::kReplyAlbumsLoaded, photos::kAlbumsView),
    {photos::kRelayNotice, photos::kReplyNotice, nullptr, CounterField::None, Delivery::AnyDevice, false, 0,
     kKeepStatus},
    {photos::kRelayDeleted, photos::kReplyDeleted, nullptr, CounterField::Value2, Delivery::TwiceForPhotos, false,
     sdk::kSectionPhotos, kKeepStatus},
};

namespace recordings = sdk::recordings;
const RequestRule kRecordingRequests[] = {ForwardRule(recordings::kRequestLoad, recordings::kRelayLoad),
                                          ExportRule(recordings::kRequestExport)};
const ReplyRule kRecordingReplies[] = {CountRule(recordings::kRelayCount, CounterField::Value3),
                                       CopyRule(recordings::kRelayLoaded, recordings::kReplyLoaded)};

namespace ringtones = sdk::ringtones;
const RequestRule kRingtoneRequests[] = {
    ForwardRule(recordings::kRequestLoad, ringtones::kRelayLoad, ZERITH_COMMAND_DO_ITUNES),
    ExportRule(recordings::kRequestExport)};
const ReplyRule kRingtoneReplies[] = {CountRule(ringtones::kRelayCount, CounterField::Value3),
                                      CopyRule(ringtones::kRelayLoaded, recordings::kReplyLoaded)};

}  // namespace

const FeatureCodeMap kAppsCodeMap = {nullptr, kAppRequests, std::size(kAppRequests), kAppReplies,
                                     std::size(kAppReplies)};
const FeatureCodeMap kBooksCodeMap = {nullptr, kBookRequests, std::size(kBookRequests), kBookReplies,
                                      std::size(kBookReplies)};
const FeatureCodeMap kMusicCodeMap = {nullptr, kMusicRequests, std::size(kMusicRequests), kMusicReplies,
                                      std::size(kMusicReplies)};
const FeatureCodeMap kVideosCodeMap = {nullptr, kVideoRequests, std::size(kVideoRequests), kVideoReplies,
                                       std::size(kVideoReplies)};
const FeatureCodeMap kPhotosCodeMap = {nullptr, kPhotoRequests, std::size(kPhotoRequests), kPhotoReplies,
                                       std::size(kPhotoReplies)};
const FeatureCodeMap kRecordingsCodeMap = {nullptr, kRecordingRequests, std::size(kRecordingRequests),
                                           kRecordingReplies, std::size(kRecordingReplies)};
const FeatureCodeMap kRingtonesCodeMap = {nullptr, kRingtoneRequests, std::size(kRingtoneRequests), kRingtoneReplies,
                                          std::size(kRingtoneReplies)};

}  // namespace trv
