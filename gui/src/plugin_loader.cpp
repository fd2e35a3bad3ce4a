// The plug-in walk and the host record; see plugin_loader.h. UI thread only.
#include "plugin_loader.h"

#include <cstdlib>
#include <exception>

#include <glog/logging.h>

#include "command_names.h"
#include "command_bus.h"

namespace trv {
namespace {

ModuleRecord* g_hostRecord = nullptr;

ModuleRecord* NewRecord() {
    // malloc, as the plug-ins expect of the host: records live until the process ends.
    auto* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
    if (record == nullptr) {
        throw std::bad_alloc();
    }
    return record;
}

std::string Narrow(const std::wstring& text) {
    // For log lines only: folder names are ASCII in every layout we ship; others show as '?'.
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return out;
}

bool CallRegisterModule(RegisterModuleFunction registerModule, ModuleRecord* record, const std::wstring& path) {
    try {
        registerModule(record);
        return true;
    } catch (...) {
        LOG(ERROR) << "plug-in loader: RegisterModule of " << Narrow(path) << " threw";
        return false;
    }
}

}  // namespace

int LoadPlugins(CommandBus& bus, const std::wstring& pluginsDir, PluginLibraryOps& ops, ImageCache* images) {
    std::vector<PluginFolderEntry> entries;
    if (!ops.ListFolder(pluginsDir + L"*", entries)) {
        LOG(WARNING) << "plug-in loader: cannot list " << Narrow(pluginsDir);
        return 0;
    }
    int registered = 0;
    for (const PluginFolderEntry& entry : entries) {
        if (!entry.isFolder || entry.name == L"." || entry.name == L"..") {
            continue;
        }
        const std::wstring path = pluginsDir + entry.name + L"\\lib" + entry.name + L".dll";
        unsigned long lastError = 0;
        TrvModule module = ops.Load(path, lastError);
        ops.WriteLine(L" GetLastError: " + std::to_wstring(lastError) + L" temp_path: " + path);
        if (module == nullptr) {
            LOG(WARNING) << "plug-in loader: " << Narrow(path) << " did not load, error " << lastError;
            continue;
        }
        RegisterModuleFunction registerModule = ops.FindRegisterModule(module);
        if (registerModule == nullptr) {
            // A library without the export is not a module: it gets no record and is let go again.
            LOG(ERROR) << "plug-in loader: " << Narrow(path) << " has no " << TRV_REGISTER_MODULE_EXPORT;
            ops.Unload(module);
            continue;
        }
        ModuleRecord* record = NewRecord();
        record->send = &SendCommand;
        record->receive = nullptr;
        record->module = module;
        record->images = images;
        bus.AddModule(module, record);
        if (CallRegisterModule(registerModule, record, path)) {
            ++registered;
        }
    }
    LOG(INFO) << "plug-in loader: " << registered << " modules registered";
    return registered;
}

ModuleRecord* RegisterHostModule(CommandBus& bus, TrvModule programModule) {
    ModuleRecord* record = NewRecord();
    record->send = &SendCommand;
    record->receive = &HostReceiveCommand;
    record->module = programModule;
    bus.AddModule(programModule, record);
    g_hostRecord = record;

    for (const char* name : {MAIN_COMMAND_CHANGE_SIZE, MAIN_COMMAND_CREATE_WINDOW}) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.name = name;
        message.owner = programModule;
        record->send(&message);
    }
    return record;
}

ModuleRecord* HostRecord() { return g_hostRecord; }

}  // namespace trv
