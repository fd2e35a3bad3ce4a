#pragma once
// The feature pages in the order in which the host creates and sizes them, with the view id each one is
// sent in `code` (music, videos and photos have several views; the others keep the received code or 0),
// as the feature rows (feature_table.h) give them. Shared by page creation (YESTAL_COMMAND_ADDED_DEVICE)
// and the page size fan-out, which walk the same order. No state; any thread.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "feature_table.h"

namespace trv {

enum class PageCommand { Show, ChangeSize };

struct PageTarget {
    const char* showName;
    const char* sizeName;
    int64_t code;  // kKeepCode: the received code on creation, 0 on a size change
};

inline const std::vector<PageTarget>& FeaturePageOrder() {
    static const std::vector<PageTarget>* order = [] {
        size_t count = 0;
        const FeatureRow* rows = FeatureRows(count);
        std::vector<const FeaturePage*> pages;
        for (size_t i = 0; i < count; ++i) {
            if (rows[i].windows != nullptr) pages.push_back(rows[i].windows);
        }
        std::stable_sort(pages.begin(), pages.end(),
                         [](const FeaturePage* a, const FeaturePage* b) { return a->order < b->order; });
        auto* targets = new std::vector<PageTarget>();
        for (const FeaturePage* page : pages) {
            for (size_t i = 0; i < page->viewCount; ++i) {
                targets->push_back({page->show, page->size, page->views[i].pageCode});
            }
        }
        return targets;
    }();
    return *order;
}

inline const char* ShowOrSizeName(const PageTarget& target, PageCommand command) {
    return command == PageCommand::Show ? target.showName : target.sizeName;
}

}  // namespace trv
