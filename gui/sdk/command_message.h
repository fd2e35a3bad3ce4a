#pragma once
// The records of the command bus as every GUI deliverable sees them: the flat CommandMessage, the per-module
// ModuleRecord and the function types that travel in them. This header is the one declaration that the host
// and all plug-ins compile against, so it stays C-compatible: plain structs, explicit calling conventions and
// size checks for the 32-bit build that the other side relies on. It holds no state and no threads. Any
// thread may call `send`; a receiver runs on the thread of the sender (the UI thread for page requests,
// the relay module's threads for its answers) and moves window work to its UI thread itself.
//
// The native build of the portable host logic compiles the same header with opaque handles, so the layout
// checks below apply to the 32-bit Windows build only.

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
typedef HWND TrvWindow;
typedef HMODULE TrvModule;
#define TRV_CALL __cdecl
#else
typedef void* TrvWindow;
typedef void* TrvModule;
#define TRV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Values of CommandMessage.kind. Any other value is ignored by the bus.
enum CommandKind {
    COMMAND_KIND_INVOKE = 0,    // call the host handler registered for `name`
    COMMAND_KIND_REGISTER = 1,  // make the sender's module (`owner`) the owner of `name`
};

// One bus message. Lives on the sender's stack for the duration of one call; senders in the host zero it
// first. The bus never frees what the pointers point at: a payload belongs to the side that receives it,
// and one that nobody takes is freed with the release function of its feature's header
// (feature_payload.h); lent pointers (paths, rectangles, records the caller keeps) stay the caller's.
// Offsets are those of the 32-bit build (natural alignment, 64-bit fields on 8-byte boundaries).
typedef struct CommandMessage {
    int64_t code;       // @0  8: action code of a request, reply code of an answer
    uint8_t kind;       // @8  1: CommandKind
    const char* name;   // @12 4: ASCII command name; SendToOwner overwrites it with the delivered name
    const char* text;   // @16 4: UTF-8 text (in relay replies: the device identifier)
    wchar_t* wideText;  // @20 4: UTF-16 text; answers written here are heap strings the asker frees
    int64_t status;     // @24 8: status or synchronous answer value
    void* data;         // @32 4: first payload (RECT*, item vector, small record)
    int64_t count;      // @40 8: number of items in `data`
    void* extra;        // @48 4: second payload
    int64_t value2;     // @56 8: further count or value
    TrvWindow window;   // @64 4: in: parent window; out: the window the receiver made or shows
    TrvModule owner;    // @68 4: the sender's module handle (read for COMMAND_KIND_REGISTER)
    int64_t value3;     // @72 8: further value (item count, progress position)
    int64_t value4;     // @80 8: further value (progress total, section id)
} CommandMessage;

// A module's receive function; a host handler and a Notify listener have the same shape.
typedef void(TRV_CALL* CommandReceiver)(CommandMessage* message);
typedef void(TRV_CALL* CommandSender)(CommandMessage* message);
typedef void(TRV_CALL* HostHandler)(CommandMessage* message);
typedef void(TRV_CALL* CommandListener)(CommandMessage* message);

// One per module, allocated by the host with malloc and never freed.
typedef struct ModuleRecord {
    CommandSender send;       // @0  4: the host's SendCommand
    CommandReceiver receive;  // @4  4: set by the module in RegisterModule; null until then
    TrvModule module;         // @8  4: the module's library handle (the program's for the host)
    void* images;             // @12 4: the host's ImageCache (see image_cache.h); unset in the host's record
} ModuleRecord;

// The one export of every module library: fills in `receive` and registers the names the module owns.
// Called once on the UI thread while the main frame is created; it must not invoke host commands.
typedef void(TRV_CALL* RegisterModuleFunction)(ModuleRecord* record);
#define TRV_REGISTER_MODULE_EXPORT "RegisterModule"

#ifdef __cplusplus
}  // extern "C"
#endif

#if defined(_WIN32) && !defined(_WIN64) && defined(__cplusplus)
static_assert(sizeof(CommandMessage) == 88, "CommandMessage is 88 bytes on the 32-bit desktop");
static_assert(offsetof(CommandMessage, kind) == 8, "kind at 8");
static_assert(offsetof(CommandMessage, name) == 12, "name at 12");
static_assert(offsetof(CommandMessage, wideText) == 20, "wideText at 20");
static_assert(offsetof(CommandMessage, status) == 24, "status at 24");
static_assert(offsetof(CommandMessage, data) == 32, "data at 32");
static_assert(offsetof(CommandMessage, count) == 40, "count at 40");
static_assert(offsetof(CommandMessage, extra) == 48, "extra at 48");
static_assert(offsetof(CommandMessage, value2) == 56, "value2 at 56");
static_assert(offsetof(CommandMessage, window) == 64, "window at 64");
static_assert(offsetof(CommandMessage, owner) == 68, "owner at 68");
static_assert(offsetof(CommandMessage, value3) == 72, "value3 at 72");
static_assert(offsetof(CommandMessage, value4) == 80, "value4 at 80");
static_assert(sizeof(ModuleRecord) == 16, "ModuleRecord is 16 bytes on the 32-bit desktop");
static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16 on the desktop");
#endif
