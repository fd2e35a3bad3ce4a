// Image helpers over stb: the one translation unit that compiles stb_image, stb_image_resize and
// stb_image_write. stb reports failures through results; nothing here throws except std::bad_alloc,
// which is caught and reported as a null or empty result. No state; any thread.
#include "utility/hlx_image.h"

#include <algorithm>
#include <climits>
#include <new>

// stb is third-party code: its own warnings are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace hlx {
namespace {

bool IsUsable(const HLXImage& image) {
  return image.width > 0 && image.height > 0 &&
         image.pixels.size() == static_cast<size_t>(image.width) * image.height * 4;
}

struct JpegSink {
  std::vector<uint8_t> bytes;
  bool failed = false;
};

// Called from inside stb's encoder: no exception may pass through it.
void AppendToJpegSink(void* context, void* data, int size) {
  auto* sink = static_cast<JpegSink*>(context);
  if (sink->failed || size <= 0) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  try {
    sink->bytes.insert(sink->bytes.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    sink->failed = true;
  }
}

}  // namespace

std::unique_ptr<HLXImage> LoadImageFromMemory(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX)) return nullptr;
  int size = static_cast<int>(length);
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(bytes, size, &width, &height, &channels)) return nullptr;
  if (width <= 0 || height <= 0 ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxImagePixels) {
    return nullptr;
  }
  try {
    std::unique_ptr<stbi_uc, void (*)(void*)> decoded(
        stbi_load_from_memory(bytes, size, &width, &height, &channels, 4), stbi_image_free);
    if (!decoded) return nullptr;
    auto image = std::make_unique<HLXImage>();
    image->width = width;
    image->height = height;
    image->pixels.assign(decoded.get(), decoded.get() + static_cast<size_t>(width) * height * 4);
    return image;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<HLXImage> MakeThumbnail(const HLXImage& image) {
  if (!IsUsable(image)) return nullptr;
  try {
    auto thumbnail = std::make_unique<HLXImage>();
    thumbnail->width = kThumbnailSize;
    thumbnail->height = kThumbnailSize;
    thumbnail->pixels.resize(static_cast<size_t>(kThumbnailSize) * kThumbnailSize * 4);
    // Channel 3 is alpha, so colours are weighted by it while filtering as GDI+ does when drawing.
    if (!stbir_resize_uint8_generic(image.pixels.data(), image.width, image.height, image.width * 4,
                                    thumbnail->pixels.data(), kThumbnailSize, kThumbnailSize,
                                    kThumbnailSize * 4, 4, 3, 0, STBIR_EDGE_CLAMP,
                                    STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr)) {
      return nullptr;
    }
    return thumbnail;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::vector<uint8_t> EncodeJpeg(const HLXImage& image, int quality) {
  JpegSink sink;
  if (!IsUsable(image)) return {};
  if (!stbi_write_jpg_to_func(AppendToJpegSink, &sink, image.width, image.height, 4,
                              image.pixels.data(), std::clamp(quality, 1, 100)) ||
      sink.failed) {
    return {};
  }
  return std::move(sink.bytes);
}

}  // namespace hlx
