#pragma once
// The contacts feature's code map: a contacts page's request (ARDENA_COMMAND_DO_CONTACT) becomes the relay
// module's request (ZERITH_COMMAND_DO_CONTACT) after the host has asked what has to be asked (a selection,
// a confirmation, a folder, files); the relay module's answers become the page's codes and keep the section
// list's contacts counter current. The relaying itself is the host's (feature_relay.cpp). No state.

#include "contact_codes.h"
#include "feature_table.h"

namespace trv {

extern const FeatureCodeMap kContactsCodeMap;

}  // namespace trv
