#pragma once
// The command bus: the routing tables through which the host, the page plug-ins and the outside modules
// talk, and the process-wide registries that the host's handlers share (windows, dialogs, theme images,
// named icons, listener subscriptions). This file holds routing only; it frees nothing that a message
// points at, since each command's payload owner is fixed by the code that sends and receives it.
//
// Threads: the tables are written on the UI thread while the main frame and the main view are created and
// only read afterwards, so the bus takes no lock. SendCommand, SendToOwner and Notify run on the caller's
// thread and call handlers, receivers and listeners synchronously; handlers that touch windows post their
// work to the UI thread themselves.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "command_message.h"
#include "image_cache.h"

class UiDialog;

namespace trv {

class CommandBus {
public:
    // The process's bus, made on first use. Tests point it at a bus of their own with ScopedCurrentBus,
    // so that the C send function of the records they hand out reaches that bus.
    static CommandBus& Instance();

    CommandBus() = default;
    CommandBus(const CommandBus&) = delete;
    CommandBus& operator=(const CommandBus&) = delete;

    // kind 0: call the host handler of `name`; kind 1: file the sender's module as the owner of `name`;
    // anything else, a null message or a null name: nothing.
    void SendCommand(CommandMessage* message);
    // Delivers `message` (may be null) to the module that registered `name`, after setting its `name` to
    // the given string. No owner, or an owner that has not set its receiver yet: the message is untouched.
    void SendToOwner(const char* name, CommandMessage* message);
    // True when SendToOwner(name, ...) would reach a receiver: senders that hand a heap payload over
    // allocate it only then, so that nothing is lost when nobody owns the name.
    bool CanDeliver(const char* name) const;

    void Subscribe(const char* name, CommandListener listener);
    // Calls each listener of `name` in subscription order, each with its own copy of `message`.
    void Notify(const CommandMessage* message, const char* name);

    void RegisterHostHandler(const char* name, HostHandler handler);
    // Files a module's record under its handle and appends both to the life-long lists.
    void AddModule(TrvModule module, ModuleRecord* record);

    void RegisterWindow(int id, TrvWindow window);
    TrvWindow GetWindowById(int id) const;
    void RegisterDialog(int id, UiDialog* dialog);
    UiDialog* GetDialogById(int id) const;
    // A copy, so that callers may walk it while handlers register further dialogs.
    std::map<int, UiDialog*> DialogsSnapshot() const { return m_dialogs; }

    ImageCache& Images() { return m_images; }
    Gdiplus::Bitmap* GetImage(const std::string& relativePath) const;
    void AddImage(const std::string& relativePath, Gdiplus::Bitmap* bitmap);

    void SetNamedIcon(const std::string& name, void* iconHandle);
    void* GetNamedIcon(const std::string& name) const;
    // Nothing in the host fills the progress-key table, so every key yields 0.
    int FindProgressKey(const std::wstring& key) const;

    // Read-only views for the loader and for tests.
    const ModuleRecord* OwnerRecordOf(const std::string& name) const;
    TrvModule OwnerOf(const std::string& name) const;
    bool HasHostHandler(const std::string& name) const { return m_handlers.count(name) != 0; }
    std::vector<std::string> HostHandlerNames() const;
    const std::vector<TrvModule>& ModuleHandles() const { return m_moduleHandles; }
    const std::vector<ModuleRecord*>& ModuleRecords() const { return m_moduleRecords; }

private:
    void RegisterOwner(const CommandMessage& message);

    std::map<std::string, HostHandler> m_handlers;        // HostHandlerTable
    std::map<std::string, TrvModule> m_owners;            // OwnerTable
    std::map<std::string, ModuleRecord*> m_ownerRecords;  // OwnerRecordTable
    std::map<TrvModule, ModuleRecord*> m_modules;         // ModuleTable
    std::vector<TrvModule> m_moduleHandles;               // in the order obtained
    std::vector<ModuleRecord*> m_moduleRecords;           // in the order made; never freed
    std::map<std::string, std::vector<CommandListener>> m_subscriptions;
    std::map<int, TrvWindow> m_windows;  // WindowRegistry
    std::map<int, UiDialog*> m_dialogs;  // DialogRegistry
    ImageCache m_images;
    std::map<std::string, void*> m_icons;        // IconTable
    std::map<std::wstring, int> m_progressKeys;  // ProgressKeyTable
};

// Makes `bus` the process's bus for its lifetime (tests only; the UI thread).
class ScopedCurrentBus {
public:
    explicit ScopedCurrentBus(CommandBus& bus);
    ~ScopedCurrentBus();
    ScopedCurrentBus(const ScopedCurrentBus&) = delete;
    ScopedCurrentBus& operator=(const ScopedCurrentBus&) = delete;

private:
    CommandBus* m_previous;
};

// The send function of every ModuleRecord: routes to the process's bus. Never lets an exception out.
extern "C" void TRV_CALL SendCommand(CommandMessage* message);
// The host's own receiver: the names the host owns are served through its handler table instead.
extern "C" void TRV_CALL HostReceiveCommand(CommandMessage* message);

// Shorthands for the host's code, on the process's bus.
void SendToOwner(const char* name, CommandMessage* message);
void Notify(const CommandMessage* message, const char* name);
bool CanDeliver(const char* name);

}  // namespace trv
