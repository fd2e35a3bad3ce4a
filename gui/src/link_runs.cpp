// Link markup; see link_runs.h.
#include "link_runs.h"

#include <regex>
#include <vector>

namespace trv {
namespace {

const std::wregex& LinkRun() {
    static const std::wregex kLinkRun(L"(<A HREF=\"[^\"]*\">)([^<]*)(</A>)");
    return kLinkRun;
}

}  // namespace

bool SplitLinkRuns(std::wstring& plain, const std::wstring& text) {
    const std::wregex& kLinkRun = LinkRun();
    plain = std::regex_replace(text, kLinkRun, L"$2");
    return std::regex_search(text, kLinkRun);
}

std::wstring WrapAtBlanks(const std::wstring& text, int32_t width,
                          const std::function<int32_t(const std::wstring&)>& measure) {
    // The visible characters (outside the tags) and where each stands in `text`.
    std::wstring plain;
    std::vector<std::size_t> at;
    const auto visible = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            plain += text[i];
            at.push_back(i);
        }
    };
    std::size_t done = 0;
    for (auto it = std::wsregex_iterator(text.begin(), text.end(), LinkRun()); it != std::wsregex_iterator(); ++it) {
        visible(done, static_cast<std::size_t>(it->position(0)));
        visible(static_cast<std::size_t>(it->position(2)), static_cast<std::size_t>(it->position(2) + it->length(2)));
        done = static_cast<std::size_t>(it->position(0) + it->length(0));
    }
    visible(done, text.size());

    std::wstring wrapped = text;
    std::size_t lineStart = 0;
    std::size_t lastBlank = std::wstring::npos;  // the line's last blank before the word being measured
    for (std::size_t i = 0; i <= plain.size(); ++i) {
        const bool lineEnd = i == plain.size() || plain[i] == L'\n';
        if (!lineEnd && plain[i] != L' ') {
            continue;
        }
        if (lastBlank != std::wstring::npos && lastBlank > lineStart &&
            measure(plain.substr(lineStart, i - lineStart)) > width) {
            wrapped[at[lastBlank]] = L'\n';
            lineStart = lastBlank + 1;
        }
        if (lineEnd) {
            lineStart = i + 1;
            lastBlank = std::wstring::npos;
        } else {
            lastBlank = i;
        }
    }
    return wrapped;
}

}  // namespace trv
