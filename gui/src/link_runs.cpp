// Link markup; see link_runs.h.
#include "link_runs.h"

#include <regex>

namespace trv {

bool SplitLinkRuns(std::wstring& plain, const std::wstring& text) {
    static const std::wregex kLinkRun(L"(<A HREF=\"[^\"]*\">)([^<]*)(</A>)");
    plain = std::regex_replace(text, kLinkRun, L"$2");
    return std::regex_search(text, kLinkRun);
}

}  // namespace trv
