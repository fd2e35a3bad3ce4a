#pragma once
// What the outside pages' stand-ins share: registering the names a module owns, invoking host commands
// through the kept record, reading theme colours, and drawing a line of text. Compiled into each stand-in
// library. The stand-ins do what the host relies on of the title bar, section list, device page and
// toolkit, and no more. UI thread.

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "command_message.h"

namespace standin_pages {

// Sets the receiver and registers `names`, one kind-1 message each, with the module as owner.
void RegisterNames(ModuleRecord* record, CommandReceiver receiver, std::initializer_list<const char*> names);
// Invokes the host handler of `name` with `message` (kind 0) through the kept record.
void Invoke(ModuleRecord* record, const char* name, CommandMessage& message);
bool Is(const CommandMessage& message, const char* name);
// A colour of the "url" store's theme ("color:1"), or `fallback`.
COLORREF ThemeColour(const char* key, COLORREF fallback);
// Draws `text` in `colour` with the base library's Arial of `sizePixels`, left-aligned and vertically
// centred in `rect`.
void DrawLine(HDC dc, const std::wstring& text, RECT rect, COLORREF colour, int sizePixels, bool bold);
// A report list view's row: inserted at `row` with `cells` in its first `columns` columns (missing cells
// empty); the row's index, or -1 when it could not be inserted. And a text's width in the list's font.
int InsertListRow(HWND list, int row, const std::vector<std::wstring>& cells, std::size_t columns);
int ListTextWidth(HWND list, const std::wstring& text);
// Asks the host for its notice on a connected device that is not recognized (driver update, steps), with
// the maker's site ("url:brand") as the page for further help.
void AskHowToFixConnection(ModuleRecord* record);

}  // namespace standin_pages
