#pragma once
// Link markup in alert texts: runs of the form <A HREF="address">label</A> become clickable links in the
// alert, and the plain text (labels only) decides the layout. Pure function, any thread.

#include <string>

namespace trv {

// `plain` receives `text` with every link run replaced by its label; true when there was at least one.
bool SplitLinkRuns(std::wstring& plain, const std::wstring& text);

}  // namespace trv
