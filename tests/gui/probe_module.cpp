// A probe module for the loader tests under Wine. Built twice: with RegisterModule (libprobe_module.dll),
// which registers PROBE_COMMAND_PING and PROBE_COMMAND_IMAGE and answers them through the record, and
// without it (libprobe_no_export.dll), which the loader must refuse. Calls arrive on the test's thread.
#include <windows.h>

#include "command_message.h"
#include "image_cache.h"

#if PROBE_EXPORTS_REGISTER
namespace {

ModuleRecord* g_record = nullptr;

void __cdecl Receive(CommandMessage* message) {
    if (message == nullptr || message->name == nullptr) {
        return;
    }
    if (lstrcmpA(message->name, "PROBE_COMMAND_PING") == 0) {
        message->status = message->code + 1;
        message->window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    } else if (lstrcmpA(message->name, "PROBE_COMMAND_IMAGE") == 0) {
        // Indexes the host's cache with the map's own subscript, as the pages do: an unknown key gets an
        // entry allocated here and freed by the host, which only works when both share one heap.
        ImageCache* cache = ImageCacheOf(g_record);
        message->status = cache == nullptr ? -1 : ((*cache)[message->text] == nullptr ? 0 : 1);
        message->count = cache == nullptr ? -1 : static_cast<int64_t>(cache->size());
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    g_record = record;
    record->receive = &Receive;
    for (const char* name : {"PROBE_COMMAND_PING", "PROBE_COMMAND_IMAGE"}) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.name = name;
        message.owner = record->module;
        record->send(&message);
    }
}
#else
extern "C" __declspec(dllexport) int __cdecl ProbeWithoutRegister() { return 7; }
#endif
