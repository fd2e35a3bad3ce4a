// The backup plug-in's entry and command receiver. RegisterModule keeps the host's record, sets the
// receiver and registers the two names the plug-in owns. SHOW_WINDOW creates the single backup manager on
// first use and shows it; DO_BACKUP replies are posted to the manager's window, and a payload that cannot
// be posted (no window yet, or the post fails) is released here, since nobody else will.
//
// Threads: the receiver runs on whichever thread the host delivers on; SHOW_WINDOW comes on the UI thread.
#include <windows.h>

#include <cstring>

#include "DhBackupDialog.h"
#include "brisel_module.h"
#include "command_names.h"
#include "feature_codes.h"
#include "host_messages.h"

namespace {

ModuleRecord* g_record = nullptr;
HMODULE g_module = nullptr;
ImageCache* g_images = nullptr;
// The manager: made by the first SHOW_WINDOW, never destroyed while the plug-in is loaded.
DhBackupDialog* g_manager = nullptr;

const char* const kOwnedNames[] = {BRISEL_COMMAND_SHOW_WINDOW, BRISEL_COMMAND_DO_BACKUP};

// The host's reply codes the window takes; all others are ignored. 136 is the relay's answer the host
// passes on as it came: the reports of the backups and restores under way.
constexpr int64_t kRunReport = 136;
bool IsWindowReply(int64_t code) {
    return code == 1 || code == 2 || code == 3 || code == 5 || code == 16 || code == 17 || code == kRunReport;
}

void ShowManager(CommandMessage& message) {
    if (g_manager == nullptr) {
        auto* manager = new DhBackupDialog();
        if (!manager->CreateFor(message.window)) {
            delete manager;
            return;
        }
        g_manager = manager;
    }
    g_manager->ShowManager();
}

void PostReply(CommandMessage& message) {
    const int64_t code = message.code;
    void* payload = message.extra;
    message.extra = nullptr;
    if ((code < 1 || code > 17) && code != kRunReport) {
        backups::ReleasePayload(PayloadLeg::PageReply, code, payload);
        return;
    }
    const bool posted = IsWindowReply(code) && g_manager != nullptr && g_manager->m_hWnd != nullptr &&
                        PostMessageW(*g_manager, WM_HOST_REPLY, static_cast<WPARAM>(code),
                                     reinterpret_cast<LPARAM>(payload)) != FALSE;
    if (!posted) backups::ReleasePayload(PayloadLeg::PageReply, code, payload);
}

void __cdecl HandleModuleCommand(CommandMessage* message) {
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

}  // namespace

namespace brisel {

HMODULE Module() { return g_module; }

Gdiplus::Bitmap* Image(const char* key) {
    return FindImage(g_images, key);
}

bool SendBackupCommand(CommandMessage& message) {
    if (g_record == nullptr || g_record->send == nullptr) return false;
    message.kind = COMMAND_KIND_INVOKE;
    message.name = BRISEL_COMMAND_DO_BACKUP;
    g_record->send(&message);
    return true;
}

}  // namespace brisel

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    try {
        if (record == nullptr || record->send == nullptr) return;
        g_images = ImageCacheOf(record);
        g_module = record->module;
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
