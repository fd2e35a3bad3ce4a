#pragma once
// The code maps of the features other than contacts and notes: bookmarks, calendars and messages
// (info_features.cpp), apps, books, music, videos, photos, voice memos and ringtones (media_features.cpp)
// and the backup manager (backup_feature.cpp). Each map turns a page's requests into the relay module's,
// with the questions the host asks first, and the relay module's answers into the page's codes with the
// section counters they keep current. The relaying itself is the host's (feature_relay.cpp). No state.

#include "feature_table.h"
#include "wide_pair.h"

namespace trv {

extern const FeatureCodeMap kBookmarksCodeMap;
extern const FeatureCodeMap kCalendarsCodeMap;
extern const FeatureCodeMap kMessagesCodeMap;
extern const FeatureCodeMap kAppsCodeMap;
extern const FeatureCodeMap kBooksCodeMap;
extern const FeatureCodeMap kMusicCodeMap;
extern const FeatureCodeMap kVideosCodeMap;
extern const FeatureCodeMap kPhotosCodeMap;
extern const FeatureCodeMap kRecordingsCodeMap;
extern const FeatureCodeMap kRingtonesCodeMap;
extern const FeatureCodeMap kBackupCodeMap;

// Runs the two-field dialog for `texts` (labels and initial texts as the feature says) and returns the
// trimmed entries; false when the user did not confirm.
bool AskTrimmedTexts(const WideStringPair& labels, int32_t height, WideStringPair& texts);

}  // namespace trv
