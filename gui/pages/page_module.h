#pragma once
// The entry and command receiver that every plug-in shares. PluginModule is what each has: RegisterModule
// keeps the host's record, sets the receiver and registers the plug-in's names, and the plug-in's windows
// send through it. PageModule is the list-page plug-ins' receiver on top: it makes one page per device (keyed
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
    DhPageDelegate* (*makePage)();             // a new page object, its window not made yet
    void (*shownAgain)(DhPageDelegate& page);  // an existing page shown again; may be null
};

// A plug-in's link to the host: its owned names (the first `ownedCount` of `ownedNames`) and the name its
// windows send under (`doName`: the plug-in's requests and the host's replies).
class PluginModule {
public:
    PluginModule(const char* doName, const char* const* ownedNames, size_t ownedCount)
        : m_doName(doName), m_ownedNames(ownedNames), m_ownedCount(ownedCount) {}

    // Keeps the record, makes `receiver` the plug-in's receiver and registers the owned names; false when
    // the record cannot be used.
    bool Register(ModuleRecord* record, CommandReceiver receiver);
    // Sends the plug-in's command to the host with `message`'s fields (kind and name are set here); false
    // when the plug-in is not registered (the caller then still owns its payload). Returns when the host's
    // handler has run.
    bool Send(CommandMessage& message) const;
    // Invokes a host command by the name already in `message`.
    bool Invoke(CommandMessage& message) const;
    ImageCache* Images() const { return m_images; }
    // The theme image filed under `key`, or null when the host has none.
    Gdiplus::Bitmap* Image(const char* key) const { return FindImage(m_images, key); }
    // The plug-in's own module handle; null before registration.
    HMODULE Module() const { return m_record != nullptr ? m_record->module : nullptr; }

private:
    const char* m_doName;
    const char* const* m_ownedNames;
    size_t m_ownedCount;
    ModuleRecord* m_record = nullptr;
    ImageCache* m_images = nullptr;
};

class PageModule : public PluginModule {
public:
    explicit PageModule(const PageModuleSpec& spec)
        : PluginModule(spec.doName, spec.ownedNames, spec.ownedCount), m_spec(spec) {}

    void Register(ModuleRecord* record, CommandReceiver receiver);
    void Receive(CommandMessage* message);
    // The page of `device`, or null.
    DhPageDelegate* PageOf(const wchar_t* device) const;

private:
    void ShowPage(CommandMessage& message);
    void MovePage(const CommandMessage& message);

    const PageModuleSpec& m_spec;
    std::map<std::wstring, DhPageDelegate*>* m_pages = nullptr;  // never freed: pages live for the run
};

}  // namespace pages

// Defines the plug-in's exported RegisterModule and its receiver for the module object `module` (one with
// Register and Receive: a PageModule, or a plug-in's own receiver on PluginModule).
#define DEFINE_PAGE_MODULE_ENTRY(module)                                                     \
    namespace {                                                                              \
    void TRV_CALL ReceivePageCommand(CommandMessage* message) { (module).Receive(message); } \
    }                                                                                        \
    extern "C" __declspec(dllexport) void TRV_CALL RegisterModule(ModuleRecord* record) {    \
        (module).Register(record, &ReceivePageCommand);                                      \
    }
