// The host's Windows-side pieces under Wine: the plug-in loader with real libraries, the image cache
// shared across a library boundary, the personal-folder handler, and the window-class layer (message map
// routing, final message, refused creation, message filters).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include <wtl/CMessageLoop.h>
#include <wtl/CWindowImpl.h>
#include <wtl/message_map.h>

#include "command_bus.h"
#include "command_names.h"
#include "host_commands.h"
#include "plugin_loader.h"

namespace {

// A new folder per call: libraries loaded by an earlier test stay loaded and cannot be overwritten.
std::wstring MakeTempFolder(const wchar_t* name) {
    static int serial = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + name + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void Copy(const std::wstring& from, const std::wstring& to) { ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)); }

class PluginFolder : public ::testing::Test {
protected:
    void SetUp() override {
        m_plugins = MakeTempFolder(L"trv-plugins-");
        const std::wstring probes = std::wstring(TRV_PROBE_DIR) + L"\\";
        CreateDirectoryW((m_plugins + L"Probe").c_str(), nullptr);
        Copy(probes + L"libprobe_module.dll", m_plugins + L"Probe\\libProbe.dll");
        CreateDirectoryW((m_plugins + L"Silent").c_str(), nullptr);
        Copy(probes + L"libprobe_no_export.dll", m_plugins + L"Silent\\libSilent.dll");
        CreateDirectoryW((m_plugins + L"Empty").c_str(), nullptr);
        // A module library placed directly in the plug-ins folder is not a plug-in.
        Copy(probes + L"libprobe_module.dll", m_plugins + L"libLoose.dll");
    }
    std::wstring m_plugins;
};

}  // namespace

TEST_F(PluginFolder, LoadsSubFolderModulesOnly) {
    trv::CommandBus bus;
    trv::ScopedCurrentBus current(bus);
    EXPECT_EQ(trv::LoadPlugins(bus, m_plugins, trv::SystemPluginLibraryOps(), &bus.Images()), 1);

    ASSERT_EQ(bus.ModuleRecords().size(), 1u);
    const ModuleRecord* record = bus.ModuleRecords()[0];
    EXPECT_EQ(record->module, GetModuleHandleW((m_plugins + L"Probe\\libProbe.dll").c_str()));
    EXPECT_EQ(bus.OwnerRecordOf("PROBE_COMMAND_PING"), record);
    // The library without RegisterModule was let go again; the loose one was never loaded.
    EXPECT_EQ(GetModuleHandleW((m_plugins + L"Silent\\libSilent.dll").c_str()), nullptr);
    EXPECT_EQ(GetModuleHandleW((m_plugins + L"libLoose.dll").c_str()), nullptr);

    CommandMessage message{};
    message.code = 41;
    bus.SendToOwner("PROBE_COMMAND_PING", &message);
    EXPECT_STREQ(message.name, "PROBE_COMMAND_PING");
    EXPECT_EQ(message.status, 42);
    EXPECT_EQ(message.window, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234)));
}

TEST_F(PluginFolder, PluginsIndexTheHostsImageCacheAcrossTheLibraryBoundary) {
    trv::CommandBus bus;
    trv::ScopedCurrentBus current(bus);
    ASSERT_EQ(trv::LoadPlugins(bus, m_plugins, trv::SystemPluginLibraryOps(), &bus.Images()), 1);
    bus.AddImage("common\\alert.png", reinterpret_cast<Gdiplus::Bitmap*>(static_cast<INT_PTR>(0x10)));

    struct Case {
        const char* key;
        int64_t found;
        int64_t sizeAfter;
    };
    const Case cases[] = {{"common\\alert.png", 1, 1}, {"common\\missing.png", 0, 2}};
    for (const Case& c : cases) {
        CommandMessage message{};
        message.text = c.key;
        bus.SendToOwner("PROBE_COMMAND_IMAGE", &message);
        EXPECT_EQ(message.status, c.found) << c.key;
        EXPECT_EQ(message.count, c.sizeAfter) << c.key;
    }
    // The entry the plug-in made is an ordinary entry of the host's map, freed by the host.
    EXPECT_EQ(bus.Images().count("common\\missing.png"), 1u);
    EXPECT_EQ(bus.GetImage("common\\missing.png"), nullptr);
    bus.Images().clear();
}

TEST(HostCommands, PersonalProductFolderIsANewCopyEachTime) {
    trv::CommandBus bus;
    trv::ScopedCurrentBus current(bus);
    trv::RegisterHostCommands(bus);
    CommandMessage first{};
    first.name = ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR;
    CommandMessage second = first;
    trv::SendCommand(&first);
    trv::SendCommand(&second);
    ASSERT_NE(first.wideText, nullptr);
    ASSERT_NE(second.wideText, nullptr);
    EXPECT_NE(first.wideText, second.wideText);
    const std::wstring folder = first.wideText;
    EXPECT_EQ(folder, std::wstring(second.wideText));
    const std::wstring suffix = L"\\Solvak Trevane\\";
    ASSERT_GT(folder.size(), suffix.size());
    EXPECT_EQ(folder.substr(folder.size() - suffix.size()), suffix);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    std::free(first.wideText);
    std::free(second.wideText);
}

namespace {

// A window of the window-class layer that records what its map routed.
class ProbeWindow : public wtl::CWindowImpl<ProbeWindow> {
public:
    DECLARE_WND_CLASS_EX(L"TrevaneProbeWindow", 0, nullptr)
    BEGIN_MSG_MAP(ProbeWindow)
    MSG_WM_CREATE(OnCreate)
    MSG_WM_SIZE(OnSize)
    MESSAGE_HANDLER_EX(WM_APP + 1, OnProbe)
    END_MSG_MAP()

    bool refuseCreate = false;
    int created = 0;
    int lastWidth = -1;
    int lastHeight = -1;
    int finals = 0;
    HWND finalWindow = nullptr;

    void OnFinalMessage(HWND window) override {
        ++finals;
        finalWindow = window;
    }

private:
    LRESULT OnCreate(CREATESTRUCTW*) {
        ++created;
        return refuseCreate ? -1 : 0;
    }
    void OnSize(UINT, int width, int height) {
        lastWidth = width;
        lastHeight = height;
    }
    LRESULT OnProbe(WPARAM wParam, LPARAM lParam) {
        if (lParam == 99) throw std::runtime_error("handler failure");
        return static_cast<LRESULT>(wParam * 2);
    }
};

class ConsumingFilter : public wtl::CMessageFilter, public wtl::CIdleHandler {
public:
    int consumed = 0;
    int idle = 0;
    BOOL PreTranslateMessage(MSG* message) override {
        if (message->message == WM_APP + 7) {
            ++consumed;
            PostQuitMessage(5);
            return TRUE;
        }
        return FALSE;
    }
    BOOL OnIdle() override {
        // The first idle moment posts the message the filter consumes.
        if (idle++ == 0) PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 0, 0);
        return FALSE;
    }
};

}  // namespace

TEST(WindowLayer, MessageMapRoutesUnpackedParametersAndFinalMessageClearsTheObject) {
    ProbeWindow window;
    const RECT rect = {0, 0, 120, 80};
    HWND handle = window.Create(nullptr, rect, L"probe", WS_POPUP);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(window.created, 1);
    SetWindowPos(handle, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(window.lastWidth, 200);
    EXPECT_EQ(window.lastHeight, 150);
    EXPECT_EQ(SendMessageW(handle, WM_APP + 1, 21, 0), 42);
    // A throwing handler does not take the window procedure down.
    EXPECT_EQ(SendMessageW(handle, WM_APP + 1, 21, 99), 0);
    DestroyWindow(handle);
    EXPECT_EQ(window.finals, 1);
    EXPECT_EQ(window.finalWindow, handle);
    EXPECT_EQ(window.m_hWnd, nullptr);
}

TEST(WindowLayer, CreateHandlerCanRefuseTheWindow) {
    ProbeWindow window;
    window.refuseCreate = true;
    const RECT rect = {0, 0, 10, 10};
    EXPECT_EQ(window.Create(nullptr, rect, L"refused", WS_POPUP), nullptr);
    EXPECT_EQ(window.created, 1);
}

TEST(WindowLayer, MessageLoopRunsFiltersAndIdleHandlersAndReturnsTheQuitCode) {
    wtl::CMessageLoop loop;
    EXPECT_EQ(wtl::CMessageLoop::Current(), &loop);
    ConsumingFilter filter;
    loop.AddMessageFilter(&filter);
    loop.AddIdleHandler(&filter);
    EXPECT_EQ(loop.Run(), 5);
    EXPECT_EQ(filter.consumed, 1);
    EXPECT_GE(filter.idle, 1);
    loop.RemoveMessageFilter(&filter);
    loop.RemoveIdleHandler(&filter);
}
