#pragma once
// The plug-in loader and the host's own module record. The loader walks the plug-ins folder, loads
// "<folder>\<Name>\lib<Name>.dll" for every sub-folder, gives each module a ModuleRecord and calls its
// RegisterModule, during which the module registers the names it owns. Libraries are never unloaded and
// records never freed. File-system and library calls go through PluginLibraryOps so that the walk itself
// is the same code on Windows and in the native tests.
//
// Threads: the UI thread, while the main frame (plug-ins) and the main view (host record) are created.

#include <string>
#include <vector>

#include "command_message.h"
#include "image_cache.h"

namespace trv {

class CommandBus;

struct PluginFolderEntry {
    std::wstring name;
    bool isFolder = false;
};

// What the loader needs of the system. Implemented with Win32 calls in the host, by fakes in tests.
class PluginLibraryOps {
public:
    virtual ~PluginLibraryOps() = default;
    // Lists the entries matching `pattern` (the folder followed by "*") in the order the system returns
    // them; false when the folder cannot be listed.
    virtual bool ListFolder(const std::wstring& pattern, std::vector<PluginFolderEntry>& entries) = 0;
    // Loads a library; null on failure. `lastError` receives the system's error value right after the
    // attempt, whether it failed or not.
    virtual TrvModule Load(const std::wstring& path, unsigned long& lastError) = 0;
    virtual RegisterModuleFunction FindRegisterModule(TrvModule module) = 0;
    virtual void Unload(TrvModule module) = 0;
    // One line on the program's wide standard output.
    virtual void WriteLine(const std::wstring& line) = 0;
};

// Loads every plug-in of `pluginsDir` (which ends with a separator) into `bus`; returns the number of
// modules whose RegisterModule was called.
int LoadPlugins(CommandBus& bus, const std::wstring& pluginsDir, PluginLibraryOps& ops, ImageCache* images);

// Makes the host's own record (send = SendCommand, receive = HostReceiveCommand, no images), files it and
// registers the two names the host owns through it. The record becomes HostRecord().
ModuleRecord* RegisterHostModule(CommandBus& bus, TrvModule programModule);
ModuleRecord* HostRecord();

// The system's implementation of PluginLibraryOps (Windows builds only).
PluginLibraryOps& SystemPluginLibraryOps();

}  // namespace trv
