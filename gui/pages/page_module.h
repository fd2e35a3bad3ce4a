#pragma once
// The entry and command receiver that every list-page plug-in shares: RegisterModule keeps the host's
// record, sets the receiver and registers the plug-in's names; the receiver makes one page per device (keyed
// by the device identifier in `wideText`) on the first SHOW_WINDOW that carries a rectangle, shows it again
// on later ones, moves it on CHANGE_SIZE, and hands the host's replies under the plug-in's command name to
// the page by its reply table (page_replies.h). Pages are kept until the process ends.
//
// Threads: Register runs on the host's UI thread while the main frame is created; Receive runs on the
// thread the host delivers on and takes no lock (SHOW_WINDOW and CHANGE_SIZE come on the UI thread; replies
// only post or answer).

#include <windows.h>

#include <map>
#include <string>

#include "command_message.h"
#include "image_cache.h"
#include "page_replies.h"

class DhPageDelegate;

namespace pages {

struct PageModuleSpec {
    const char* showName;
    const char* sizeName;
    const char* doName;  // the page's requests and the host's replies
    const char* const* ownedNames;
    size_t ownedCount;
    const ReplyTable* replies;
    DWORD pageStyle;
    DhPageDelegate* (*makePage)();              // a new page object, its window not made yet
    void (*shownAgain)(DhPageDelegate& page);   // an existing page shown again; may be null
};

class PageModule {
public:
    explicit PageModule(const PageModuleSpec& spec) : m_spec(spec) {}

    // Keeps the record, makes `receiver` the plug-in's receiver and registers the owned names.
    void Register(ModuleRecord* record, CommandReceiver receiver);
    void Receive(CommandMessage* message);
    // Sends the page command to the host with `message`'s fields (kind and name are set here); false when the
    // plug-in is not registered. Returns when the host's handler has run.
    bool Send(CommandMessage& message) const;
    // Invokes a host command by the name already in `message`.
    bool Invoke(CommandMessage& message) const;
    ImageCache* Images() const { return m_images; }
    // The page of `device`, or null.
    DhPageDelegate* PageOf(const wchar_t* device) const;

private:
    void ShowPage(CommandMessage& message);
    void MovePage(const CommandMessage& message);

    const PageModuleSpec& m_spec;
    ModuleRecord* m_record = nullptr;
    ImageCache* m_images = nullptr;
    std::map<std::wstring, DhPageDelegate*>* m_pages = nullptr;  // never freed: pages live for the run
};

}  // namespace pages

// Defines the plug-in's exported RegisterModule and its receiver for the module object `module`.
#define DEFINE_PAGE_MODULE_ENTRY(module)                                                     \
    namespace {                                                                              \
    void TRV_CALL ReceivePageCommand(CommandMessage* message) { (module).Receive(message); } \
    }                                                                                        \
    extern "C" __declspec(dllexport) void TRV_CALL RegisterModule(ModuleRecord* record) {   \
        (module).Register(record, &ReceivePageCommand);                                      \
    }
