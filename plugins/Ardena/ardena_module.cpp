// The contacts plug-in's entry and command receiver. RegisterModule keeps the host's record, sets the
// receiver and registers the four names the plug-in owns; HandleModuleCommand creates, moves and shows one
// contacts page per device (keyed by the device identifier in `wideText`) and hands the host's replies to
// the page's UI thread by posting WM_HOST_REPLY, answering the sequence query synchronously (the reply
// table below, routed by the list pages' base).
//
// Threads: RegisterModule runs on the host's UI thread while the main frame is created; the receiver runs
// on whichever thread the host delivers on and takes no lock. Page windows are created, moved and shown by
// the receiver, which the host calls on the UI thread for those names; replies only post.
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "command_names.h"
#include "image_cache.h"
#include "DhContactsDelegate.h"
#include "ardena_module.h"
#include "contact_codes.h"
#include "page_replies.h"

namespace {

// Module state, from RegisterModule until the process ends.
ModuleRecord* g_record = nullptr;
HMODULE g_module = nullptr;
ImageCache* g_images = nullptr;
// Device identifier to its page; pages are never removed or destroyed.
std::map<std::wstring, DhContactsDelegate*>* g_pages = nullptr;
// The address labels' countries, asked for by the first page (UI thread).
std::vector<WideStringPair>* g_countries = nullptr;

const char* const kOwnedNames[] = {ARDENA_COMMAND_SHOW_WINDOW, ARDENA_COMMAND_CHANGE_SIZE,
                                   ARDENA_COMMAND_HIDE_WINDOW, ARDENA_COMMAND_DO_CONTACT};

constexpr DWORD kPageStyle = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

DhContactsDelegate* FindPage(const CommandMessage& message) {
    if (message.wideText == nullptr || g_pages == nullptr) {
        return nullptr;
    }
    auto it = g_pages->find(message.wideText);
    return it == g_pages->end() ? nullptr : it->second;
}

void ShowPage(CommandMessage& message) {
    if (message.wideText == nullptr) {
        return;
    }
    if (DhContactsDelegate* page = FindPage(message)) {
        ShowWindow(*page, SW_SHOW);
        message.window = *page;
        return;
    }
    if (message.data == nullptr) {
        return;  // a page is made only where the host says it goes
    }
    auto page = std::make_unique<DhContactsDelegate>();
    if (page->Create(message.window, *static_cast<const RECT*>(message.data), L"", kPageStyle, 0, nullptr) == nullptr) {
        return;
    }
    page->LayOut();
    (*g_pages)[message.wideText] = page.release();
}

void MovePage(const CommandMessage& message) {
    DhContactsDelegate* page = FindPage(message);
    if (page == nullptr || message.data == nullptr) {
        return;
    }
    const RECT& rect = *static_cast<const RECT*>(message.data);
    MoveWindow(*page, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    page->LayOut();
}

// How each reply code reaches the page (page_replies.h).
const pages::ReplyRow kReplyRows[] = {
    {contacts::kReplyContactAdded, pages::ReplyRoute::Post},
    {contacts::kReplyContactRemoved, pages::ReplyRoute::Post},
    {contacts::kReplyHideCloudNotice, pages::ReplyRoute::Post},
    {contacts::kReplyShowCloudNotice, pages::ReplyRoute::Post},
    {contacts::kReplyGroupChanged, pages::ReplyRoute::Post},
    {contacts::kReplyGroupRemoved, pages::ReplyRoute::Post},
    {contacts::kReplyCloseEditor, pages::ReplyRoute::PostBare},
    {contacts::kReplyContactsLoaded, pages::ReplyRoute::PostBatch},
    {contacts::kReplyGroupsLoaded, pages::ReplyRoute::PostBatch},
    {contacts::kReplySequenceQuery, pages::ReplyRoute::AnswerSequence},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]), &contacts::ReleasePayload,
                                 &contacts::BatchSequence};

void __cdecl HandleModuleCommand(CommandMessage* message) {
    try {
        if (message == nullptr || message->name == nullptr) {
            return;
        }
        if (std::strcmp(message->name, ARDENA_COMMAND_SHOW_WINDOW) == 0) {
            ShowPage(*message);
        } else if (std::strcmp(message->name, ARDENA_COMMAND_CHANGE_SIZE) == 0) {
            MovePage(*message);
        } else if (std::strcmp(message->name, ARDENA_COMMAND_DO_CONTACT) == 0) {
            DhPageDelegate::DispatchHostReply(kReplies, FindPage(*message), *message);
        }
        // ARDENA_COMMAND_HIDE_WINDOW and every other name: nothing.
    } catch (...) {
        // Nothing may cross back into the host; a page that could not be made is simply not there.
    }
}

}  // namespace

namespace ardena {

ModuleRecord* Record() { return g_record; }
ImageCache* Images() { return g_images; }
HMODULE Module() { return g_module; }

Gdiplus::Bitmap* Image(const char* key) {
    return FindImage(g_images, key);
}

bool SendContactCommand(CommandMessage& message) {
    if (g_record == nullptr || g_record->send == nullptr) return false;
    message.kind = COMMAND_KIND_INVOKE;
    message.name = ARDENA_COMMAND_DO_CONTACT;
    g_record->send(&message);
    return true;
}

const std::vector<WideStringPair>& Countries() {
    if (g_countries == nullptr) {
        g_countries = new std::vector<WideStringPair>();  // kept for the life of the process
        // The host fills the list before the call returns; the list stays ours.
        CommandMessage message{};
        message.code = contacts::kRequestCountries;
        message.data = g_countries;
        SendContactCommand(message);
    }
    return *g_countries;
}

}  // namespace ardena

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    try {
        if (record == nullptr || record->send == nullptr) {
            return;
        }
        g_images = ImageCacheOf(record);
        g_module = record->module;
        g_pages = new std::map<std::wstring, DhContactsDelegate*>();
        record->receive = &HandleModuleCommand;
        g_record = record;
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.owner = g_module;
        for (const char* name : kOwnedNames) {
            message.name = name;
            record->send(&message);
        }
    } catch (...) {
    }
}
