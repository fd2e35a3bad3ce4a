// Image helpers over stb: the one translation unit that compiles stb_image, stb_image_resize and
// stb_image_write. stb reports failures through results; nothing here throws except std::bad_alloc,
// which is caught and reported as a null or empty result. No state; any thread.
#include "utility/hlx_image.h"

#include "utility/hlx_zlib.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
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
// Only the formats that phone photos and screenshots come in. The bytes come from the device, and
// this stb version has known memory-safety faults in several other decoders (GIF and TGA among
// them).
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
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

uint32_t ReadBigEndian16(const uint8_t* bytes) { return (uint32_t{bytes[0]} << 8) | bytes[1]; }

// One DHT segment as stb reads it: each table is a class/id byte, sixteen code counts and as many
// symbols as the counts add up to. Bytes past the end of the file read as 0, as they do in stb.
bool DhtTablesFit(const uint8_t* segment, size_t available, int64_t length) {
  auto byteAt = [&](int64_t index) -> uint32_t {
    return index >= 0 && static_cast<uint64_t>(index) < available ? segment[index] : 0;
  };
  int64_t offset = 0;
  while (length > 0) {
    offset += 1;  // table class and id; stb itself rejects bad ones
    int64_t symbols = 0;
    for (int i = 0; i < 16; ++i) symbols += byteAt(offset + i);
    // A table has room for 256 symbols; stb 2.27 does not check the sum and writes past it.
    if (symbols > 256) return false;
    offset += 16 + symbols;
    length -= 17 + symbols;
  }
  return true;
}

// Walks the segments of a JPEG file the way stb's decoder meets them (skipping stray bytes between
// segments, entropy-coded data after each SOS) and checks every DHT segment. True for data that is
// not a JPEG file.
bool JpegHuffmanTablesFit(const uint8_t* bytes, size_t length) {
  if (length < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return true;
  size_t at = 2;
  while (at < length) {
    if (bytes[at] != 0xFF) {
      ++at;
      continue;
    }
    while (at < length && bytes[at] == 0xFF) ++at;
    if (at >= length) break;
    uint8_t marker = bytes[at++];
    if (marker == 0xD9) break;  // end of image
    bool withoutLength = marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7);
    if (withoutLength) continue;
    if (at + 2 > length) break;
    uint32_t segmentLength = ReadBigEndian16(bytes + at);
    if (marker == 0xC4 && !DhtTablesFit(bytes + at + 2, length - at - 2, static_cast<int64_t>(segmentLength) - 2)) {
      return false;
    }
    if (segmentLength < 2) break;  // stb stops at such a segment
    at += segmentLength;
    if (marker == 0xDA) {
      // Entropy-coded data runs to the first 0xFF that is neither stuffing (0xFF 0x00) nor a
      // restart marker.
      while (at + 1 < length &&
             !(bytes[at] == 0xFF && bytes[at + 1] != 0x00 && (bytes[at + 1] < 0xD0 || bytes[at + 1] > 0xD7))) {
        ++at;
      }
    }
  }
  return true;
}

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// What the image data of a PNG with this header inflates to: each row (of each Adam7 pass) is a
// filter byte and its pixels' bytes. 0 for a colour type or bit depth that no PNG has.
uint64_t PngDataBytes(uint64_t width, uint64_t height, uint8_t depth, uint8_t colourType, bool interlaced) {
  uint64_t channels = 0;
  switch (colourType) {
    case 0: channels = 1; break;  // grey
    case 2: channels = 3; break;  // RGB
    case 3: channels = 1; break;  // palette
    case 4: channels = 2; break;  // grey and alpha
    case 6: channels = 4; break;  // RGBA
    default: return 0;
  }
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return 0;
  const uint64_t bitsPerPixel = channels * depth;
  auto passBytes = [&](uint64_t columns, uint64_t rows) {
    return columns == 0 || rows == 0 ? 0 : rows * (1 + (columns * bitsPerPixel + 7) / 8);
  };
  if (!interlaced) return passBytes(width, height);
  static constexpr uint64_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  uint64_t total = 0;
  for (const auto& [x0, y0, dx, dy] : kPasses) {
    total += passBytes(width > x0 ? (width - x0 + dx - 1) / dx : 0, height > y0 ? (height - y0 + dy - 1) / dy : 0);
  }
  return total;
}

bool IsUsable(const HLXImage& image) {
  return image.width > 0 && image.height > 0 &&
         image.pixels.size() == static_cast<size_t>(image.width) * image.height * 4;
}

// The decoder's RGBA pixels, freed by stb's own release.
struct DecodedPixels {
  int width = 0;
  int height = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels{nullptr, stbi_image_free};
};

// Decodes after the checks that LoadImageFromMemory states; false when one fails or decoding does.
bool Decode(const uint8_t* bytes, size_t length, DecodedPixels* out) {
  if (bytes == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX)) return false;
  if (!JpegHuffmanTablesFit(bytes, length)) return false;
  const int size = static_cast<int>(length);
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_memory(bytes, size, &width, &height, &channels) || !ImageSizeFitsDecoding(width, height) ||
      !PngDataFitsHeader(bytes, length)) {
    return false;
  }
  out->pixels.reset(stbi_load_from_memory(bytes, size, &out->width, &out->height, &channels, 4));
  return out->pixels != nullptr;
}

// RGBA pixels drawn into a new 150 x 150 image; null on failure.
std::unique_ptr<HLXImage> Squeeze(const uint8_t* pixels, int width, int height) {
  auto thumbnail = std::make_unique<HLXImage>();
  thumbnail->width = kThumbnailSize;
  thumbnail->height = kThumbnailSize;
  thumbnail->pixels.resize(static_cast<size_t>(kThumbnailSize) * kThumbnailSize * 4);
  // Channel 3 is alpha, so colours are weighted by it while filtering as GDI+ does when drawing.
  if (!stbir_resize_uint8_generic(pixels, width, height, width * 4, thumbnail->pixels.data(), kThumbnailSize,
                                  kThumbnailSize, kThumbnailSize * 4, 4, 3, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT,
                                  STBIR_COLORSPACE_LINEAR, nullptr)) {
    return nullptr;
  }
  return thumbnail;
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

std::mutex g_slotsMutex;
std::condition_variable g_slotFreed;
int g_slotsTaken = 0;  // guarded by g_slotsMutex

}  // namespace

LargeDecodeSlot::LargeDecodeSlot(bool large) : m_taken(large) {
  if (!m_taken) return;
  std::unique_lock<std::mutex> lock(g_slotsMutex);
  g_slotFreed.wait(lock, [] { return g_slotsTaken < kLargeDecodeSlots; });
  ++g_slotsTaken;
}

LargeDecodeSlot::~LargeDecodeSlot() {
  if (!m_taken) return;
  {
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    --g_slotsTaken;
  }
  g_slotFreed.notify_one();
}

bool ReadImageSize(const uint8_t* bytes, size_t length, int* width, int* height) {
  if (bytes == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX)) return false;
  int channels = 0;
  return stbi_info_from_memory(bytes, static_cast<int>(length), width, height, &channels) != 0;
}

bool PngDataFitsHeader(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr || length < sizeof kPngSignature ||
      std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0) {
    return true;
  }
  // Calls `chunk(type, body, length)` for each whole chunk up to IEND, while it returns true.
  auto forEachChunk = [&](auto&& chunk) {
    for (size_t at = sizeof kPngSignature; length - at >= 12;) {
      const uint32_t chunkLength = ReadBigEndian32(bytes + at);
      if (chunkLength > length - at - 12) return;  // a chunk beyond the end: the decoder refuses it
      const uint8_t* type = bytes + at + 4;
      if (std::memcmp(type, "IEND", 4) == 0 || !chunk(type, bytes + at + 8, chunkLength)) return;
      at += size_t{12} + chunkLength;
    }
  };
  uint64_t bound = 0;  // from the first header
  // The device's own PNG variant (a "CgBI" chunk) stores bare deflate data, which the decoder reads
  // as such wherever that chunk stands.
  bool raw = false;
  forEachChunk([&](const uint8_t* type, const uint8_t* body, uint32_t chunkLength) {
    if (std::memcmp(type, "CgBI", 4) == 0) raw = true;
    if (std::memcmp(type, "IHDR", 4) == 0 && chunkLength >= 13 && bound == 0) {
      bound = PngDataBytes(ReadBigEndian32(body), ReadBigEndian32(body + 4), body[8], body[9], body[12] != 0);
    }
    return true;
  });
  if (bound == 0) return true;
  ZlibLengthCheck data(bound, raw);
  forEachChunk([&](const uint8_t* type, const uint8_t* body, uint32_t chunkLength) {
    return std::memcmp(type, "IDAT", 4) != 0 || data.Feed(body, chunkLength);
  });
  return data.Result() != InflateResult::kTooLarge;
}

bool ImageSizeFitsDecoding(int width, int height) {
  return width > 0 && height > 0 && static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= kMaxImagePixels;
}

std::unique_ptr<HLXImage> LoadImageFromMemory(const uint8_t* bytes, size_t length) {
  try {
    DecodedPixels decoded;
    if (!Decode(bytes, length, &decoded)) return nullptr;
    auto image = std::make_unique<HLXImage>();
    image->width = decoded.width;
    image->height = decoded.height;
    image->pixels.assign(decoded.pixels.get(),
                         decoded.pixels.get() + static_cast<size_t>(decoded.width) * decoded.height * 4);
    return image;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<HLXImage> MakeThumbnailFromMemory(const uint8_t* bytes, size_t length) {
  try {
    DecodedPixels decoded;
    if (!Decode(bytes, length, &decoded)) return nullptr;
    return Squeeze(decoded.pixels.get(), decoded.width, decoded.height);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<HLXImage> MakeThumbnail(const HLXImage& image) {
  if (!IsUsable(image)) return nullptr;
  try {
    return Squeeze(image.pixels.data(), image.width, image.height);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::vector<uint8_t> EncodeJpeg(const HLXImage& image, int quality) {
  JpegSink sink;
  if (!IsUsable(image)) return {};
  if (!stbi_write_jpg_to_func(AppendToJpegSink, &sink, image.width, image.height, 4, image.pixels.data(),
                              std::clamp(quality, 1, 100)) ||
      sink.failed) {
    return {};
  }
  return std::move(sink.bytes);
}

}  // namespace hlx
