#pragma once
// Link markup in alert texts: runs of the form <A HREF="address">label</A> become clickable links in the
// alert, and the plain text (labels only) decides the layout. Pure function, any thread.

#include <cstdint>
#include <functional>
#include <string>

namespace trv {

// `plain` receives `text` with every link run replaced by its label; true when there was at least one.
bool SplitLinkRuns(std::wstring& plain, const std::wstring& text);

// `text` (link markup allowed) with line breaks put in place of blanks, so that no line of its plain text is
// wider than `width` as `measure` gives the width of a run of plain text. Lines break only at blanks: a
// word, with the punctuation that follows it, is never cut, and a word wider than a line gets a line of its
// own. Breaks already in the text stay. The link control wraps on its own otherwise, and cuts words.
std::wstring WrapAtBlanks(const std::wstring& text, int32_t width,
                          const std::function<int32_t(const std::wstring&)>& measure);

}  // namespace trv
