// The notes plug-in's entry and receiver (page_module.h): one DhNoteDelegate per device.
#include "DhNoteDelegate.h"
#include "command_names.h"

namespace {

extern pages::PageModule g_module;

const char* const kOwnedNames[] = {CORTAL_COMMAND_SHOW_WINDOW, CORTAL_COMMAND_CHANGE_SIZE, CORTAL_COMMAND_HIDE_WINDOW,
                                   CORTAL_COMMAND_DO_NOTE};
const pages::ReplyRow kReplyRows[] = {
    {sdk::notes::kReplyLoaded, pages::ReplyRoute::PostBatch},
    {sdk::notes::kReplyChanged, pages::ReplyRoute::Post},
    {sdk::notes::kReplySequence, pages::ReplyRoute::AnswerSequence},
    {sdk::notes::kReplyHideCloudNotice, pages::ReplyRoute::PostBare},
    {sdk::notes::kReplyShowCloudNotice, pages::ReplyRoute::PostBare},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]), &sdk::notes::ReleasePayload,
                                 &BatchSequenceOf<NoteItem>};
const pages::PageModuleSpec kSpec{
    CORTAL_COMMAND_SHOW_WINDOW,
    CORTAL_COMMAND_CHANGE_SIZE,
    CORTAL_COMMAND_DO_NOTE,
    kOwnedNames,
    sizeof(kOwnedNames) / sizeof(kOwnedNames[0]),
    &kReplies,
    WS_CHILD,
    []() -> DhPageDelegate* { return new DhNoteDelegate(g_module); },
    [](DhPageDelegate& page) { static_cast<DhNoteDelegate&>(page).CheckProductVersion(); }};
pages::PageModule g_module(kSpec);

}  // namespace

DEFINE_PAGE_MODULE_ENTRY(g_module)
