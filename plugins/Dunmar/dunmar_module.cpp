// The bookmarks plug-in's entry and receiver (page_module.h): one DhBookmarkDelegate per device.
#include "DhBookmarkDelegate.h"
#include "command_names.h"

namespace {

extern pages::PageModule g_module;

const char* const kOwnedNames[] = {DUNMAR_COMMAND_SHOW_WINDOW, DUNMAR_COMMAND_CHANGE_SIZE, DUNMAR_COMMAND_HIDE_WINDOW,
                                   DUNMAR_COMMAND_DO_BOOKMARK};
const pages::ReplyRow kReplyRows[] = {
    {sdk::bookmarks::kReplyRemoved, pages::ReplyRoute::Post},
    {sdk::bookmarks::kReplyLoaded, pages::ReplyRoute::PostBatch},
    {sdk::bookmarks::kReplySequence, pages::ReplyRoute::AnswerSequence},
    {sdk::bookmarks::kReplyShowCloudNotice, pages::ReplyRoute::PostBare},
    {sdk::bookmarks::kReplyHideCloudNotice, pages::ReplyRoute::PostBare},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]),
                                 &sdk::bookmarks::ReleasePayload, &BatchSequenceOf<BookmarkItem>};
const pages::PageModuleSpec kSpec{DUNMAR_COMMAND_SHOW_WINDOW,
                                  DUNMAR_COMMAND_CHANGE_SIZE,
                                  DUNMAR_COMMAND_DO_BOOKMARK,
                                  kOwnedNames,
                                  sizeof(kOwnedNames) / sizeof(kOwnedNames[0]),
                                  &kReplies,
                                  WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  []() -> DhPageDelegate* { return new DhBookmarkDelegate(g_module); },
                                  nullptr};
pages::PageModule g_module(kSpec);

}  // namespace

DEFINE_PAGE_MODULE_ENTRY(g_module)
