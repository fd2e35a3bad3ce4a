#pragma once
// The custom window messages of the desktop, defined once. Each posted payload belongs to the receiving
// window once PostMessage has returned nonzero; the receiver frees it even when it ignores the message, and
// a sender whose post failed frees it itself. Messages are posted from any thread and handled on the UI
// thread that owns the window.

#ifdef _WIN32
#include <windows.h>
#else
#define WM_USER 0x0400
#endif

// Posted by a plug-in's receiver to its page window: wParam the reply type, lParam the payload.
#define WM_HOST_REPLY (WM_USER + 100)
// Posted to the main view (window id 2): wParam a _strdup copy of a command name, lParam a malloc copy of
// the whole CommandMessage or a plain value, depending on the name. Same number as WM_HOST_REPLY: the two
// never reach the same window.
#define WM_POSTED_COMMAND (WM_USER + 100)
// Posted to the main frame (window id 1): wParam a heap HostTask (new) that the frame runs once and deletes.
#define WM_RUN_TASK (WM_USER + 1000)

#ifdef __cplusplus
static_assert(WM_HOST_REPLY == 0x464, "WM_HOST_REPLY is WM_USER+100");
static_assert(WM_POSTED_COMMAND == 0x464, "WM_POSTED_COMMAND is WM_USER+100");
static_assert(WM_RUN_TASK == 2024, "WM_RUN_TASK is WM_USER+1000");

#include <functional>
// The closure that WM_RUN_TASK carries.
using HostTask = std::function<void()>;
#endif
