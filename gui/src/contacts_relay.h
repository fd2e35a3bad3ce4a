#pragma once
// The host's contacts pair of relays: a contacts page's request (ARDENA_COMMAND_DO_CONTACT) becomes the
// relay module's request (ZERITH_COMMAND_DO_CONTACT) after the host has asked what has to be asked (a
// selection, a confirmation, a folder, files); the relay module's answers become the page's codes, keep
// the section list's contacts counter current and reach the page only while they are about the current
// device. Payloads that do not travel on (a refused request, no device, an answer about another device)
// are freed here, by the type their code says they have.
//
// Runs on the invoking module's thread: requests on the UI thread (they may show modal dialogs), answers on
// whichever thread the relay module answers from.

#include "../sdk/command_message.h"

namespace trv {

// A page's contacts request; the message is the page's own and is forwarded as it is, with `code` and the
// payload fields overwritten as the table says.
void RelayContactsRequest(CommandMessage* message);
// The relay module's contacts answer.
void RelayContactsReply(CommandMessage* message);

}  // namespace trv
