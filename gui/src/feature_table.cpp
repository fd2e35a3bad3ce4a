// The host's feature rows; see feature_table.h.
#include "feature_table.h"

#include <cstring>

#include "command_names.h"
#include "contacts_feature.h"
#include "feature_codes.h"
#include "feature_maps.h"
#include "notes_feature.h"

namespace trv {

const FileChoice kXmlFileChoice = {L"Please select XML files.", L"XML Files", L"*.xml", false, false};

namespace {

const FeatureRow kFeatureRows[] = {
    {DUNMAR_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_BOOKMARK, true, &kBookmarksCodeMap, &sdk::bookmarks::ReleasePayload},
    {ELVIST_COMMAND_DO_RECORDING, ZERITH_COMMAND_DO_RECORDING, true, &kRecordingsCodeMap,
     &sdk::recordings::ReleasePayload},
    {FAYDRA_COMMAND_DO_RINGTONE, ZERITH_COMMAND_DO_RINGTONE, true, &kRingtonesCodeMap, &sdk::ringtones::ReleasePayload},
    {TELBOR_COMMAND_DO_BOOK, ZERITH_COMMAND_DO_BOOK, true, &kBooksCodeMap, &sdk::books::ReleasePayload},
    {WENDRA_COMMAND_DO_CALENDAR, ZERITH_COMMAND_DO_CALENDAR, true, &kCalendarsCodeMap, &sdk::calendars::ReleasePayload},
    {CORTAL_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_NOTE, true, &kNotesCodeMap, &sdk::notes::ReleasePayload},
    {ARDENA_COMMAND_DO_CONTACT, ZERITH_COMMAND_DO_CONTACT, true, &kContactsCodeMap, &sdk::contacts::ReleasePayload},
    {SORVAD_COMMAND_DO_SMS, ZERITH_COMMAND_DO_SMS, true, &kMessagesCodeMap, &sdk::messages::ReleasePayload},
    {MULVAR_COMMAND_DO_MUSIC, ZERITH_COMMAND_DO_MUSIC, true, &kMusicCodeMap, &sdk::music::ReleasePayload},
    {VINTOR_COMMAND_DO_VIDEO, ZERITH_COMMAND_DO_VIDEO, true, &kVideosCodeMap, &sdk::videos::ReleasePayload},
    {PIMSEL_COMMAND_DO_PHOTO, ZERITH_COMMAND_DO_PHOTO, true, &kPhotosCodeMap, &sdk::photos::ReleasePayload},
    {GAVREL_COMMAND_DO_APP, ZERITH_COMMAND_DO_APP, true, &kAppsCodeMap, &sdk::apps::ReleasePayload},
    {BRISEL_COMMAND_DO_BACKUP, ZERITH_COMMAND_DO_BACKUP, false, &kBackupCodeMap, &sdk::backups::ReleasePayload},
};

}  // namespace

const FeatureRow* FeatureRows(size_t& count) {
    count = sizeof(kFeatureRows) / sizeof(kFeatureRows[0]);
    return kFeatureRows;
}

const FeatureRow* FindFeatureRow(const char* name) {
    if (name == nullptr) return nullptr;
    for (const FeatureRow& row : kFeatureRows) {
        if (std::strcmp(name, row.page) == 0 || std::strcmp(name, row.relay) == 0) return &row;
    }
    return nullptr;
}

}  // namespace trv
