#pragma once
// The host's theme image cache, lent to every plug-in through ModuleRecord.images. The map object itself
// crosses library boundaries (a plug-in indexes it with the map's own subscript operator), so the host and
// every plug-in must see this exact type and build with the same compiler and runtime flags, which makes
// them allocate from one heap. Keys are relative paths under the themes folder written with a backslash
// ("common\\close-normal.png"); values are borrowed by everyone but the host, which never frees them while
// the program runs. Written on the UI thread only.

#include <map>
#include <string>

#include "command_message.h"

namespace Gdiplus {
class Bitmap;
}

using ImageCache = std::map<std::string, Gdiplus::Bitmap*>;

// The cache a record lends, or null when the record carries none (the host's own record).
inline ImageCache* ImageCacheOf(const ModuleRecord* record) {
    return record ? static_cast<ImageCache*>(record->images) : nullptr;
}

// The image filed under `key`, or null when there is no cache, no key or no such image.
inline Gdiplus::Bitmap* FindImage(const ImageCache* cache, const char* key) {
    if (cache == nullptr || key == nullptr) return nullptr;
    auto it = cache->find(key);
    return it == cache->end() ? nullptr : it->second;
}
