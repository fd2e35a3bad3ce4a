#pragma once
// A conversation opened from the messages page: a window of its own with one row per message (time,
// sender and text, relay_tables.h's kConversation), oldest first, as the relay hands them to the page
// under the conversation's row (TextItem::details). A double-click on such a row, or Enter on the
// selected one, opens it; opening another conversation shows that one in the same window. UI thread.

#include <windows.h>

#include <memory>

#include "feature_codes.h"

namespace standin_pages {

// The record shown in the row `row` of a page's list; null when the row holds none.
using RowRecord = std::shared_ptr<const TextItem> (*)(HWND list, int row);

// Makes a double-click or Enter on a row of `list` whose record has details open them in the
// conversation window, titled by the record's first field. `list` keeps its own handling of both.
void OpenDetailsOnDoubleClick(HWND list, RowRecord recordOf);

// Shows `record`'s details in the conversation window (made on first use, owned by `owner`'s top-level
// window). False when the record has none.
bool ShowConversation(HWND owner, const TextItem& record);

}  // namespace standin_pages
