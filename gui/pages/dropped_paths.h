#pragma once
// The paths of a shell drop, read through a DragQueryFileW-shaped function so that the rule can be tested
// without a drop: each path is read into a buffer sized from that path's own length, so long paths (the
// system allows far more than 260 characters) arrive whole. No windows.h; UI thread (the drop's).

#include <functional>
#include <string>
#include <vector>

namespace pages {

// query(index, buffer, size) behaves as DragQueryFileW: with a null buffer it returns the path's length
// without the terminator; otherwise it copies at most size - 1 characters and a terminator and returns the
// number copied.
using DropQuery = std::function<unsigned(unsigned index, wchar_t* buffer, unsigned size)>;

// Every dropped path in drop order; empty paths are skipped.
std::vector<std::wstring> CollectDroppedPaths(unsigned count, const DropQuery& query);

}  // namespace pages
