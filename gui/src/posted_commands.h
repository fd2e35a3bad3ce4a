#pragma once
// Work that the bus hands to the UI thread by posting WM_POSTED_COMMAND to the main view: the start of the
// device service and its readiness. OnPostedCommand owns what the message carries for the names it serves.
// UI thread only.

#include <windows.h>

namespace trv {

// Runs the posted command `name` with its parameter on the main view `view`. Names without a branch here
// are ignored. The caller frees `name` afterwards.
void OnPostedCommand(HWND view, LPARAM parameter, const char* name);

// Opens the update list (dialog 3) again with the notes of an earlier check; false when it holds none.
bool ReopenUpdateList();

// Posts `name` with a plain value to the main view; frees the name copy itself when the post fails.
bool PostCommandToView(HWND view, const char* name, LPARAM value);

}  // namespace trv
