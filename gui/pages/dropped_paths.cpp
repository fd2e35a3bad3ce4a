// Reading the paths of a drop; see dropped_paths.h.
#include "dropped_paths.h"

namespace pages {

std::vector<std::wstring> CollectDroppedPaths(unsigned count, const DropQuery& query) {
    std::vector<std::wstring> paths;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned length = query(i, nullptr, 0);
        if (length == 0) continue;
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        const unsigned copied = query(i, &path[0], length + 1);
        path.resize(copied <= length ? copied : length);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace pages
