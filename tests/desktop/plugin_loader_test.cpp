// The plug-in walk: which folder entries become modules, what the loader prints, and the host record.
#include <gtest/gtest.h>

#include <map>

#include "bus_test_support.h"
#include "command_names.h"
#include "plugin_loader.h"

using trv::test::TestBus;

namespace {

// RegisterModule functions of fake libraries: each sets its receiver and registers one or two names.
void TRV_CALL RegisterAlpha(ModuleRecord* record) {
    record->receive = trv::test::ReceiverOf(0);
    CommandMessage message{};
    message.kind = COMMAND_KIND_REGISTER;
    message.name = ARDENA_COMMAND_SHOW_WINDOW;
    message.owner = record->module;
    record->send(&message);
    message.name = ARDENA_COMMAND_DO_CONTACT;
    record->send(&message);
}

void TRV_CALL RegisterBeta(ModuleRecord* record) {
    record->receive = trv::test::ReceiverOf(1);
    CommandMessage message{};
    message.kind = COMMAND_KIND_REGISTER;
    message.name = ARDENA_COMMAND_SHOW_WINDOW;  // the same name as Alpha: the later module wins
    message.owner = record->module;
    record->send(&message);
}

void TRV_CALL RegisterThrowing(ModuleRecord*) { throw 42; }

struct FakeLibrary {
    bool loads = true;
    RegisterModuleFunction registerModule = nullptr;
    unsigned long error = 0;
};

class FakeOps : public trv::PluginLibraryOps {
public:
    bool listable = true;
    std::vector<trv::PluginFolderEntry> entries;
    std::map<std::wstring, FakeLibrary> libraries;  // by full path
    std::vector<std::wstring> lines;
    std::vector<std::wstring> loadedPaths;
    int unloads = 0;

    bool ListFolder(const std::wstring& pattern, std::vector<trv::PluginFolderEntry>& out) override {
        EXPECT_EQ(pattern, L"C:\\app\\plugins\\*");
        if (!listable) return false;
        out = entries;
        return true;
    }
    TrvModule Load(const std::wstring& path, unsigned long& lastError) override {
        loadedPaths.push_back(path);
        auto it = libraries.find(path);
        if (it == libraries.end() || !it->second.loads) {
            lastError = 126;
            return nullptr;
        }
        lastError = it->second.error;
        return &it->second;
    }
    RegisterModuleFunction FindRegisterModule(TrvModule module) override {
        return static_cast<FakeLibrary*>(module)->registerModule;
    }
    void Unload(TrvModule) override { ++unloads; }
    void WriteLine(const std::wstring& line) override { lines.push_back(line); }
};

const std::wstring kPlugins = L"C:\\app\\plugins\\";

}  // namespace

TEST(PluginLoader, LoadsOneLibraryPerSubFolderAndSkipsEverythingElse) {
    TestBus t;
    FakeOps ops;
    // clang-format off
    ops.entries = {{L".", true},      {L"..", true},          {L"libArdena.dll", false}, {L"Ardena", true},
                   {L"Broken", true}, {L"NoExport", true},    {L"Beta", true},           {L"Thrower", true}};
    // clang-format on
    ops.libraries[kPlugins + L"Ardena\\libArdena.dll"] = {true, &RegisterAlpha, 0};
    ops.libraries[kPlugins + L"Broken\\libBroken.dll"] = {false, nullptr, 0};
    ops.libraries[kPlugins + L"NoExport\\libNoExport.dll"] = {true, nullptr, 0};
    ops.libraries[kPlugins + L"Beta\\libBeta.dll"] = {true, &RegisterBeta, 0};
    ops.libraries[kPlugins + L"Thrower\\libThrower.dll"] = {true, &RegisterThrowing, 0};

    const int registered = trv::LoadPlugins(t.bus(), kPlugins, ops, &t.bus().Images());

    EXPECT_EQ(registered, 2);
    // A file in the plug-ins folder itself is never loaded; every sub-folder's library is tried, in order.
    EXPECT_EQ(ops.loadedPaths,
              (std::vector<std::wstring>{kPlugins + L"Ardena\\libArdena.dll", kPlugins + L"Broken\\libBroken.dll",
                                         kPlugins + L"NoExport\\libNoExport.dll", kPlugins + L"Beta\\libBeta.dll",
                                         kPlugins + L"Thrower\\libThrower.dll"}));
    // The GetLastError line is written for every library, loaded or not.
    ASSERT_EQ(ops.lines.size(), 5u);
    EXPECT_EQ(ops.lines[0], L" GetLastError: 0 temp_path: " + kPlugins + L"Ardena\\libArdena.dll");
    EXPECT_EQ(ops.lines[1], L" GetLastError: 126 temp_path: " + kPlugins + L"Broken\\libBroken.dll");
    // A library without RegisterModule is released and gets no record; the thrower keeps its record.
    EXPECT_EQ(ops.unloads, 1);
    ASSERT_EQ(t.bus().ModuleRecords().size(), 3u);
    for (ModuleRecord* record : t.bus().ModuleRecords()) {
        EXPECT_EQ(record->send, &trv::SendCommand);
        EXPECT_EQ(record->images, &t.bus().Images());
    }
    // Beta was loaded after Ardena and registered the same name: it owns it now.
    EXPECT_EQ(t.bus().OwnerRecordOf(ARDENA_COMMAND_SHOW_WINDOW), t.bus().ModuleRecords()[1]);
    EXPECT_EQ(t.bus().OwnerRecordOf(ARDENA_COMMAND_DO_CONTACT), t.bus().ModuleRecords()[0]);
}

TEST(PluginLoader, EmptyOrUnlistableFolderLoadsNothing) {
    for (bool listable : {true, false}) {
        TestBus t;
        FakeOps ops;
        ops.listable = listable;
        EXPECT_EQ(trv::LoadPlugins(t.bus(), kPlugins, ops, &t.bus().Images()), 0);
        EXPECT_TRUE(t.bus().ModuleRecords().empty());
        EXPECT_TRUE(ops.lines.empty());
        CommandMessage message{};
        t.bus().SendToOwner(ZERITH_COMMAND_START_SERVER, &message);
        EXPECT_EQ(message.name, nullptr);
    }
}

TEST(PluginLoader, HostRecordOwnsTheHostsTwoNames) {
    TestBus t;
    char program = 0;
    ModuleRecord* host = trv::RegisterHostModule(t.bus(), &program);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(trv::HostRecord(), host);
    EXPECT_EQ(host->send, &trv::SendCommand);
    EXPECT_EQ(host->receive, &trv::HostReceiveCommand);
    EXPECT_EQ(host->module, &program);
    EXPECT_EQ(host->images, nullptr);
    EXPECT_EQ(t.bus().OwnerRecordOf(MAIN_COMMAND_CHANGE_SIZE), host);
    EXPECT_EQ(t.bus().OwnerRecordOf(MAIN_COMMAND_CREATE_WINDOW), host);
    EXPECT_EQ(t.bus().ModuleHandles(), (std::vector<TrvModule>{&program}));
}
