#pragma once
// The notes feature's code map: a notes page's request (CORTAL_COMMAND_DO_NOTE) becomes the relay module's
// request (ZERITH_COMMAND_DO_NOTE) after the host has asked for a folder or files; the relay module's
// answers become the page's codes and keep the section list's notes counter current. The relaying itself is
// the host's (feature_relay.cpp). No state.

#include "feature_table.h"
#include "note_codes.h"

namespace trv {

extern const FeatureCodeMap kNotesCodeMap;

}  // namespace trv
