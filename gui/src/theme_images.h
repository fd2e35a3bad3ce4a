#pragma once
// The host's theme images: the three alert images loaded at start-up, the images the main view preloads
// for every module, and the release of the cache before GDI+ shuts down. The one home of theme-image
// loading. UI thread only.

#include <string>
#include <vector>

namespace trv {

class CommandBus;

// The relative paths of the alert images and of the main view's preload list, in load order.
const std::vector<std::string>& AlertImagePaths();
const std::vector<std::string>& PreloadedImagePaths();

// Loads each path from `themesFolder` (ending with a separator) with the base library's GetBitmap (96,
// 96 dpi) and files it under its path; a missing image is filed as null. Returns the number loaded.
int LoadThemeImages(CommandBus& bus, const std::wstring& themesFolder, const std::vector<std::string>& paths);

// Deletes every cached bitmap and empties the cache; called after the last window is gone.
void ReleaseThemeImages(CommandBus& bus);

}  // namespace trv
