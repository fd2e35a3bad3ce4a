// The host's feature rows; see feature_table.h.
#include "feature_table.h"

#include <cstring>

#include "command_names.h"
#include "contacts_feature.h"
#include "notes_feature.h"

namespace trv {
namespace {

// Only contacts and notes have an SDK payload release so far. The other rows have none: a request or answer that
// these relays drop (no device, another device) frees nothing until its feature's SDK header defines its
// release and the row names it.
const FeatureRow kFeatureRows[] = {
    {DUNMAR_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_BOOKMARK, true, nullptr, nullptr},
    {ELVIST_COMMAND_DO_RECORDING, ZERITH_COMMAND_DO_RECORDING, true, nullptr, nullptr},
    {FAYDRA_COMMAND_DO_RINGTONE, ZERITH_COMMAND_DO_RINGTONE, true, nullptr, nullptr},
    {TELBOR_COMMAND_DO_BOOK, ZERITH_COMMAND_DO_BOOK, true, nullptr, nullptr},
    {WENDRA_COMMAND_DO_CALENDAR, ZERITH_COMMAND_DO_CALENDAR, true, nullptr, nullptr},
    {CORTAL_COMMAND_DO_NOTE, ZERITH_COMMAND_DO_NOTE, true, &kNotesCodeMap, &notes::ReleasePayload},
    {ARDENA_COMMAND_DO_CONTACT, ZERITH_COMMAND_DO_CONTACT, true, &kContactsCodeMap, &contacts::ReleasePayload},
    {SORVAD_COMMAND_DO_SMS, ZERITH_COMMAND_DO_SMS, true, nullptr, nullptr},
    {MULVAR_COMMAND_DO_MUSIC, ZERITH_COMMAND_DO_MUSIC, true, nullptr, nullptr},
    {VINTOR_COMMAND_DO_VIDEO, ZERITH_COMMAND_DO_VIDEO, true, nullptr, nullptr},
    {PIMSEL_COMMAND_DO_PHOTO, ZERITH_COMMAND_DO_PHOTO, true, nullptr, nullptr},
    {GAVREL_COMMAND_DO_APP, ZERITH_COMMAND_DO_APP, true, nullptr, nullptr},
    {BRISEL_COMMAND_DO_BACKUP, ZERITH_COMMAND_DO_BACKUP, false, nullptr, nullptr},
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
