// Routing tables of the command bus and the host's send function. See command_bus.h for the threads.
#include "command_bus.h"

#include <cstring>
#include <exception>

#include <glog/logging.h>

namespace trv {

namespace {
CommandBus* g_testBus = nullptr;
}

CommandBus& CommandBus::Instance() {
    if (g_testBus != nullptr) {
        return *g_testBus;
    }
    // Never destroyed: plug-ins may still send while the process ends, and no library is unloaded.
    static CommandBus* bus = new CommandBus();
    return *bus;
}

ScopedCurrentBus::ScopedCurrentBus(CommandBus& bus) : m_previous(g_testBus) { g_testBus = &bus; }

ScopedCurrentBus::~ScopedCurrentBus() { g_testBus = m_previous; }

void CommandBus::SendCommand(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return;
    }
    switch (message->kind) {
    case COMMAND_KIND_INVOKE: {
        auto it = m_handlers.find(message->name);
        if (it != m_handlers.end()) {
            it->second(message);
        }
        return;
    }
    case COMMAND_KIND_REGISTER: RegisterOwner(*message); return;
    default: return;
    }
}

void CommandBus::RegisterOwner(const CommandMessage& message) {
    // A registration from a module the host did not load would leave a record that later deliveries call
    // into; such a registration is refused whole rather than kept half-filed.
    auto module = m_modules.find(message.owner);
    if (module == m_modules.end() || module->second == nullptr) {
        LOG(WARNING) << "command bus: registration of " << message.name << " by an unknown module refused";
        return;
    }
    m_owners[message.name] = message.owner;
    m_ownerRecords[message.name] = module->second;
}

void CommandBus::SendToOwner(const char* name, CommandMessage* message) {
    if (name == nullptr) {
        return;
    }
    auto it = m_ownerRecords.find(name);
    if (it == m_ownerRecords.end()) {
        return;
    }
    CommandReceiver receive = it->second->receive;
    if (receive == nullptr) {
        // The module registered names before setting its receiver; there is nobody to call.
        return;
    }
    if (message != nullptr) {
        message->name = name;
    }
    receive(message);
}

bool CommandBus::CanDeliver(const char* name) const {
    if (name == nullptr) {
        return false;
    }
    auto it = m_ownerRecords.find(name);
    return it != m_ownerRecords.end() && it->second->receive != nullptr;
}

void CommandBus::Subscribe(const char* name, CommandListener listener) {
    if (name == nullptr || listener == nullptr) {
        return;
    }
    m_subscriptions[name].push_back(listener);
}

void CommandBus::Notify(const CommandMessage* message, const char* name) {
    if (message == nullptr || name == nullptr) {
        return;
    }
    auto it = m_subscriptions.find(name);
    if (it == m_subscriptions.end()) {
        return;
    }
    for (CommandListener listener : it->second) {
        CommandMessage copy = *message;
        listener(&copy);
    }
}

void CommandBus::RegisterHostHandler(const char* name, HostHandler handler) {
    if (name != nullptr && handler != nullptr) {
        m_handlers[name] = handler;
    }
}

void CommandBus::AddModule(TrvModule module, ModuleRecord* record) {
    m_moduleHandles.push_back(module);
    m_moduleRecords.push_back(record);
    m_modules[module] = record;
}

void CommandBus::RegisterWindow(int id, TrvWindow window) { m_windows[id] = window; }

TrvWindow CommandBus::GetWindowById(int id) const {
    auto it = m_windows.find(id);
    return it == m_windows.end() ? nullptr : it->second;
}

void CommandBus::RegisterDialog(int id, UiDialog* dialog) { m_dialogs[id] = dialog; }

UiDialog* CommandBus::GetDialogById(int id) const {
    auto it = m_dialogs.find(id);
    return it == m_dialogs.end() ? nullptr : it->second;
}

Gdiplus::Bitmap* CommandBus::GetImage(const std::string& relativePath) const {
    auto it = m_images.find(relativePath);
    return it == m_images.end() ? nullptr : it->second;
}

void CommandBus::AddImage(const std::string& relativePath, Gdiplus::Bitmap* bitmap) { m_images[relativePath] = bitmap; }

void CommandBus::SetNamedIcon(const std::string& name, void* iconHandle) { m_icons[name] = iconHandle; }

void* CommandBus::GetNamedIcon(const std::string& name) const {
    auto it = m_icons.find(name);
    return it == m_icons.end() ? nullptr : it->second;
}

int CommandBus::FindProgressKey(const std::wstring& key) const {
    auto it = m_progressKeys.find(key);
    return it == m_progressKeys.end() ? 0 : it->second;
}

const ModuleRecord* CommandBus::OwnerRecordOf(const std::string& name) const {
    auto it = m_ownerRecords.find(name);
    return it == m_ownerRecords.end() ? nullptr : it->second;
}

TrvModule CommandBus::OwnerOf(const std::string& name) const {
    auto it = m_owners.find(name);
    return it == m_owners.end() ? nullptr : it->second;
}

std::vector<std::string> CommandBus::HostHandlerNames() const {
    std::vector<std::string> names;
    for (const auto& entry : m_handlers) {
        names.push_back(entry.first);
    }
    return names;
}

extern "C" void TRV_CALL SendCommand(CommandMessage* message) {
    // Called from plug-ins through a C function pointer: nothing may escape.
    try {
        CommandBus::Instance().SendCommand(message);
    } catch (const std::exception& e) {
        LOG(ERROR) << "command bus: handler of " << (message && message->name ? message->name : "?")
                   << " failed: " << e.what();
    } catch (...) {
        LOG(ERROR) << "command bus: handler of " << (message && message->name ? message->name : "?") << " failed";
    }
}

extern "C" void TRV_CALL HostReceiveCommand(CommandMessage*) {}

void SendToOwner(const char* name, CommandMessage* message) { CommandBus::Instance().SendToOwner(name, message); }

void Notify(const CommandMessage* message, const char* name) { CommandBus::Instance().Notify(message, name); }

bool CanDeliver(const char* name) { return CommandBus::Instance().CanDeliver(name); }

}  // namespace trv
