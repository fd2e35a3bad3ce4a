// The contacts plug-in's entry and receiver (page_module.h): one DhContactsDelegate per device; the host's
// replies reach it by the reply table below.
#include "ardena_module.h"

#include "DhContactsDelegate.h"
#include "command_names.h"
#include "contact_codes.h"

namespace {

extern pages::PageModule g_module;

// The address labels' countries, asked for by the first page (UI thread).
std::vector<WideStringPair>* g_countries = nullptr;

const char* const kOwnedNames[] = {ARDENA_COMMAND_SHOW_WINDOW, ARDENA_COMMAND_CHANGE_SIZE, ARDENA_COMMAND_HIDE_WINDOW,
                                   ARDENA_COMMAND_DO_CONTACT};
const pages::ReplyRow kReplyRows[] = {
    {sdk::contacts::kReplyContactAdded, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyContactRemoved, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyHideCloudNotice, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyShowCloudNotice, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyGroupChanged, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyGroupRemoved, pages::ReplyRoute::Post},
    {sdk::contacts::kReplyCloseEditor, pages::ReplyRoute::PostBare},
    {sdk::contacts::kReplyContactsLoaded, pages::ReplyRoute::PostBatch},
    {sdk::contacts::kReplyGroupsLoaded, pages::ReplyRoute::PostBatch},
    {sdk::contacts::kReplySequenceQuery, pages::ReplyRoute::AnswerSequence},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]), &sdk::contacts::ReleasePayload,
                                 &sdk::contacts::BatchSequence};
const pages::PageModuleSpec kSpec{ARDENA_COMMAND_SHOW_WINDOW,
                                  ARDENA_COMMAND_CHANGE_SIZE,
                                  ARDENA_COMMAND_DO_CONTACT,
                                  kOwnedNames,
                                  sizeof(kOwnedNames) / sizeof(kOwnedNames[0]),
                                  &kReplies,
                                  WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  []() -> DhPageDelegate* { return new DhContactsDelegate(g_module); },
                                  nullptr};
pages::PageModule g_module(kSpec);

}  // namespace

namespace ardena {

ImageCache* Images() { return g_module.Images(); }
HMODULE Module() { return g_module.Module(); }
Gdiplus::Bitmap* Image(const char* key) { return g_module.Image(key); }
bool SendContactCommand(CommandMessage& message) { return g_module.Send(message); }

const std::vector<WideStringPair>& Countries() {
    if (g_countries == nullptr) {
        g_countries = new std::vector<WideStringPair>();  // kept for the life of the process
        // The host fills the list before the call returns; the list stays ours.
        CommandMessage message{};
        message.code = sdk::contacts::kRequestCountries;
        message.data = g_countries;
        g_module.Send(message);
    }
    return *g_countries;
}

}  // namespace ardena

DEFINE_PAGE_MODULE_ENTRY(g_module)
