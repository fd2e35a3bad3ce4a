// The backup plug-in's entry and command receiver, on the plug-ins' module (page_module.h), which keeps the
// host's record and registers the two names the plug-in owns. SHOW_WINDOW creates the single backup manager
// on first use and shows it; DO_BACKUP replies are posted to the manager's window, and a payload that
// cannot be posted (no window yet, or the post fails) is released here, since nobody else will.
//
// Threads: the receiver runs on whichever thread the host delivers on; SHOW_WINDOW comes on the UI thread.
#include "brisel_module.h"

#include <windows.h>

#include <cstring>

#include "DhBackupDialog.h"
#include "command_names.h"
#include "feature_codes.h"
#include "host_messages.h"
#include "page_module.h"

namespace {

const char* const kOwnedNames[] = {BRISEL_COMMAND_SHOW_WINDOW, BRISEL_COMMAND_DO_BACKUP};

// The host's reply codes the window takes; all others are ignored. 136 is the relay's answer the host
// passes on as it came: the reports of the backups and restores under way.
constexpr int64_t kRunReport = 136;
bool IsWindowReply(int64_t code) {
    return code == 1 || code == 2 || code == 3 || code == 5 || code == 16 || code == 17 || code == kRunReport;
}

// The plug-in's module: one manager window instead of a page per device.
class BackupModule : public pages::PluginModule {
public:
    BackupModule()
        : PluginModule(BRISEL_COMMAND_DO_BACKUP, kOwnedNames, sizeof(kOwnedNames) / sizeof(kOwnedNames[0])) {}

    void Receive(CommandMessage* message) {
        try {
            if (message == nullptr || message->name == nullptr) return;
            if (std::strcmp(message->name, BRISEL_COMMAND_SHOW_WINDOW) == 0) {
                ShowManager(*message);
            } else if (std::strcmp(message->name, BRISEL_COMMAND_DO_BACKUP) == 0) {
                PostReply(*message);
            }
        } catch (...) {
            // Nothing may cross back into the host.
        }
    }

private:
    void ShowManager(CommandMessage& message) {
        if (m_manager == nullptr) {
            auto* manager = new DhBackupDialog();
            if (!manager->CreateFor(message.window)) {
                delete manager;
                return;
            }
            m_manager = manager;
        }
        m_manager->ShowManager();
    }

    void PostReply(CommandMessage& message) const {
        const int64_t code = message.code;
        void* payload = message.extra;
        message.extra = nullptr;
        const bool posted = IsWindowReply(code) && m_manager != nullptr && m_manager->m_hWnd != nullptr &&
                            PostMessageW(*m_manager, WM_HOST_REPLY, static_cast<WPARAM>(code),
                                         reinterpret_cast<LPARAM>(payload)) != FALSE;
        if (!posted) sdk::backups::ReleasePayload(PayloadLeg::PageReply, code, payload);
    }

    // The manager: made by the first SHOW_WINDOW, never destroyed while the plug-in is loaded.
    DhBackupDialog* m_manager = nullptr;
};

BackupModule g_module;

}  // namespace

namespace brisel {

HMODULE Module() { return g_module.Module(); }
Gdiplus::Bitmap* Image(const char* key) { return g_module.Image(key); }
bool SendBackupCommand(CommandMessage& message) { return g_module.Send(message); }

}  // namespace brisel

DEFINE_PAGE_MODULE_ENTRY(g_module)
