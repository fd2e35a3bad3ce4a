// The host's feature rows; see feature_table.h.
#include "feature_table.h"

#include <cstring>
#include <iterator>

#include "command_names.h"
#include "contacts_feature.h"
#include "feature_codes.h"
#include "feature_maps.h"
#include "notes_feature.h"
#include "section_ids.h"

namespace trv {

const FileChoice kXmlFileChoice = {L"Please select XML files.", L"XML Files", L"*.xml", false, false};

namespace {

using namespace sdk;

// A page of one view whose section's query and load need no `status`.
constexpr PageView OneView(int32_t section, int64_t pageCode, int64_t queryCode, int64_t loadCode,
                           int64_t ownerCode = kNoOwnerCode) {
    return {section, pageCode, kKeepCode, 0, queryCode, loadCode, ownerCode};
}

const PageView kContactsViews[] = {
    OneView(kSectionContacts, kSectionContacts, contacts::kRelayQueryLoaded, contacts::kRelayLoad)};
const PageView kMessagesViews[] = {
    OneView(kSectionMessages, kSectionMessages, messages::kRelayQueryLoaded, messages::kRelayLoad)};
const PageView kNotesViews[] = {OneView(kSectionNotes, kKeepCode, notes::kRelayQueryLoaded, notes::kRelayLoad)};
const PageView kCalendarsViews[] = {
    OneView(kSectionCalendars, kKeepCode, calendars::kRelayQueryLoaded, calendars::kRelayLoad)};
const PageView kBookmarksViews[] = {
    OneView(kSectionBookmarks, kSectionBookmarks, bookmarks::kRelayQueryLoaded, bookmarks::kRelayLoad)};
const PageView kSongsViews[] = {
    {kSectionSongs, kSectionSongs, kSectionSongs, 0, music::kRelayQueryLoaded, music::kRelayLoad, music::kReplyOwner}};
const PageView kVoiceMemosViews[] = {
    OneView(kSectionVoiceMemos, kKeepCode, recordings::kRelayQueryLoaded, recordings::kRelayLoad)};
const PageView kTonesViews[] = {OneView(kSectionTones, kKeepCode, ringtones::kRelayQueryLoaded, ringtones::kRelayLoad,
                                        recordings::kReplyWindow)};
// Made and sized in the order movies, music videos, TV shows.
const PageView kVideosViews[] = {
    {kSectionMovies, kSectionMovies, kSectionMovies, kSectionMovies, videos::kRelayQueryMovies,
     videos::kRelayLoadMovies, videos::kReplyOwner},
    {kSectionMusicVideos, kSectionMusicVideos, kSectionMusicVideos, kSectionMusicVideos,
     videos::kRelayQueryMusicVideos, videos::kRelayLoadMusicVideos, videos::kReplyOwner},
    {kSectionTvShows, kSectionTvShows, kSectionTvShows, kSectionTvShows, videos::kRelayQueryTvShows,
     videos::kRelayLoadTvShows, videos::kReplyOwner},
};
const PageView kPhotosViews[] = {
    {kSectionPhotos, photos::kPhotosView, photos::kPhotosView, photos::kPhotosView, photos::kRelayQueryPhotos,
     photos::kRelayLoadPhotos, kNoOwnerCode},
    {kSectionAlbums, photos::kAlbumsView, photos::kAlbumsView, photos::kAlbumsView, photos::kRelayQueryAlbums,
     photos::kRelayLoadAlbums, kNoOwnerCode},
};
const PageView kBooksViews[] = {
    OneView(kSectionBooks, kKeepCode, books::kRelayQueryLoaded, books::kRelayLoad, books::kReplyOwner)};
const PageView kAppsViews[] = {OneView(kSectionApps, kSectionApps, apps::kRelayQueryLoaded, apps::kRelayLoad)};

// clang-format off
const FeaturePage kContactsPage = {ARDENA_COMMAND_SHOW_WINDOW, ARDENA_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_CONTACT, 9,
                                   false, 0, kContactsViews, std::size(kContactsViews)};
const FeaturePage kMessagesPage = {SORVAD_COMMAND_SHOW_WINDOW, SORVAD_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_SMS, 10,
                                   false, 0, kMessagesViews, std::size(kMessagesViews)};
const FeaturePage kNotesPage = {CORTAL_COMMAND_SHOW_WINDOW, CORTAL_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_NOTE, 1,
                                false, 0, kNotesViews, std::size(kNotesViews)};
const FeaturePage kCalendarsPage = {WENDRA_COMMAND_SHOW_WINDOW, WENDRA_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_CALENDAR,
                                    2, false, 0, kCalendarsViews, std::size(kCalendarsViews)};
const FeaturePage kBookmarksPage = {DUNMAR_COMMAND_SHOW_WINDOW, DUNMAR_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_BOOKMARK,
                                    8, false, 0, kBookmarksViews, std::size(kBookmarksViews)};
const FeaturePage kMusicPage = {MULVAR_COMMAND_SHOW_WINDOW, MULVAR_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_MEDIA, 7,
                                false, 0, kSongsViews, std::size(kSongsViews)};
const FeaturePage kVoiceMemosPage = {ELVIST_COMMAND_SHOW_WINDOW, ELVIST_COMMAND_CHANGE_SIZE,
                                     ZERITH_COMMAND_DO_RECORDING, 5, false, 0, kVoiceMemosViews,
                                     std::size(kVoiceMemosViews)};
const FeaturePage kTonesPage = {FAYDRA_COMMAND_SHOW_WINDOW, FAYDRA_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_ITUNES, 4,
                                false, 0, kTonesViews, std::size(kTonesViews)};
const FeaturePage kVideosPage = {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_MEDIA, 6,
                                 true, 0, kVideosViews, std::size(kVideosViews)};
const FeaturePage kPhotosPage = {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_PHOTO, 12,
                                 true, photos::kReplyNotice, kPhotosViews, std::size(kPhotosViews)};
const FeaturePage kBooksPage = {TELBOR_COMMAND_SHOW_WINDOW, TELBOR_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_ITUNES, 3,
                                false, 0, kBooksViews, std::size(kBooksViews)};
const FeaturePage kAppsPage = {GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_CHANGE_SIZE, ZERITH_COMMAND_DO_APP, 11,
                               false, 0, kAppsViews, std::size(kAppsViews)};

const FeatureRow kFeatureRows[] = {
    {DUNMAR_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_BOOKMARK, true, &kBookmarksCodeMap, &bookmarks::ReleasePayload,
     kSectionBookmarks, &kBookmarksPage},
    {ELVIST_COMMAND_DO_RECORDING, ZERITH_COMMAND_DO_RECORDING, true, &kRecordingsCodeMap, &recordings::ReleasePayload,
     kSectionVoiceMemos, &kVoiceMemosPage},
    {FAYDRA_COMMAND_DO_RINGTONE, ZERITH_COMMAND_DO_RINGTONE, true, &kRingtonesCodeMap, &ringtones::ReleasePayload,
     kSectionTones, &kTonesPage},
    {TELBOR_COMMAND_DO_BOOK, ZERITH_COMMAND_DO_BOOK, true, &kBooksCodeMap, &books::ReleasePayload, kSectionBooks,
     &kBooksPage},
    {WENDRA_COMMAND_DO_CALENDAR, ZERITH_COMMAND_DO_CALENDAR, true, &kCalendarsCodeMap, &calendars::ReleasePayload,
     kSectionCalendars, &kCalendarsPage},
    {CORTAL_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_NOTE, true, &kNotesCodeMap, &notes::ReleasePayload, kSectionNotes,
     &kNotesPage},
    {ARDENA_COMMAND_DO_CONTACT, ZERITH_COMMAND_DO_CONTACT, true, &kContactsCodeMap, &contacts::ReleasePayload,
     kSectionContacts, &kContactsPage},
    {SORVAD_COMMAND_DO_SMS, ZERITH_COMMAND_DO_SMS, true, &kMessagesCodeMap, &messages::ReleasePayload,
     kSectionMessages, &kMessagesPage},
    {MULVAR_COMMAND_DO_MUSIC, ZERITH_COMMAND_DO_MUSIC, true, &kMusicCodeMap, &music::ReleasePayload, kSectionSongs,
     &kMusicPage},
    {VINTOR_COMMAND_DO_VIDEO, ZERITH_COMMAND_DO_VIDEO, true, &kVideosCodeMap, &videos::ReleasePayload, kSectionMovies,
     &kVideosPage},
    {PIMSEL_COMMAND_DO_PHOTO, ZERITH_COMMAND_DO_PHOTO, true, &kPhotosCodeMap, &photos::ReleasePayload, kSectionPhotos,
     &kPhotosPage},
    {GAVREL_COMMAND_DO_APP, ZERITH_COMMAND_DO_APP, true, &kAppsCodeMap, &apps::ReleasePayload, kSectionApps,
     &kAppsPage},
    {BRISEL_COMMAND_DO_BACKUP, ZERITH_COMMAND_DO_BACKUP, false, &kBackupCodeMap, &backups::ReleasePayload,
     kSectionSummary, nullptr},
};
// clang-format on

}  // namespace

const FeatureRow* FeatureRows(size_t& count) {
    count = std::size(kFeatureRows);
    return kFeatureRows;
}

const FeatureRow* FindFeatureRow(const char* name) {
    if (name == nullptr) return nullptr;
    for (const FeatureRow& row : kFeatureRows) {
        if (std::strcmp(name, row.page) == 0 || std::strcmp(name, row.relay) == 0) return &row;
    }
    return nullptr;
}

const FeatureRow* FindSectionView(int64_t section, const PageView*& view) {
    for (const FeatureRow& row : kFeatureRows) {
        if (row.windows == nullptr) continue;
        for (size_t i = 0; i < row.windows->viewCount; ++i) {
            if (row.windows->views[i].section == section) {
                view = &row.windows->views[i];
                return &row;
            }
        }
    }
    return nullptr;
}

}  // namespace trv
