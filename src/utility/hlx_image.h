// Image helpers of the photo module: decode an image from bytes, make a 150 x 150 thumbnail and
// encode JPEG, with the stb image library (its implementation is compiled into hlx_image.cpp
// only). Any thread; the only state is the count of large-decode slots held. There is no codec
// registry to look an encoder up in: EncodeJpeg encodes directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace hlx {

// A decoded image: 8-bit RGBA pixels, row after row from the top, no padding between rows
// (pixels.size() == width * height * 4).
struct HLXImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// The thumbnail's width and height in pixels.
constexpr int kThumbnailSize = 150;

// Decodes a JPEG (baseline or progressive), PNG or BMP image from `length` bytes. Null bytes, an
// empty or undecodable input, another format, a JPEG whose Huffman tables hold more than 256 codes
// (stb 2.27 would write past them), a PNG whose data inflates beyond its header
// (PngDataFitsHeader), or an image above kMaxImagePixels give null. The pixels are
// copied out of the decoder's buffer: a thumbnail is made with MakeThumbnailFromMemory instead.
std::unique_ptr<HLXImage> LoadImageFromMemory(const uint8_t* bytes, size_t length);

// Decoding larger images is refused before any pixel memory is allocated: the bytes come from the
// device. 50 million pixels holds the largest stills a phone camera takes (48 megapixels) and costs
// at most 200 MB of RGBA while it is decoded; a panorama beyond it comes with the device's own
// thumbnail, which is sent as it is.
constexpr uint64_t kMaxImagePixels = 50'000'000;

// The width and height that the image's header states, read without decoding: for PNG and BMP the
// first few dozen bytes suffice, for JPEG the bytes up to its frame header. False when the bytes do
// not (yet) show them or are no image of the formats above.
bool ReadImageSize(const uint8_t* bytes, size_t length, int* width, int* height);

// Whether an image of this size may be decoded (both sides positive, at most kMaxImagePixels).
bool ImageSizeFitsDecoding(int width, int height);

// Whether a PNG's image data inflates to no more than its header implies: rows x (1 + row bytes)
// for the header's width, height, colour type and bit depth (each Adam7 pass counted for an
// interlaced one). The data is inflated only to be counted, and the count stops at that bound, so a
// few KB that would inflate to gigabytes cost neither the memory nor the time. True for bytes that
// are no PNG, or whose data is short or broken (the decoder refuses those itself).
bool PngDataFitsHeader(const uint8_t* bytes, size_t length);

// The thumbnail of an encoded image (see MakeThumbnail), made straight from the decoder's pixels:
// no copy of the decoded image is made. Null as LoadImageFromMemory gives null.
std::unique_ptr<HLXImage> MakeThumbnailFromMemory(const uint8_t* bytes, size_t length);

// Held around the reading and decoding of one large picture: at most kLargeDecodeSlots are held at
// once in the whole service (a few photos of tens of megapixels at once already take gigabytes);
// a further one waits until one is given back. With `large` false it takes none and never waits.
constexpr int kLargeDecodeSlots = 2;
class LargeDecodeSlot {
 public:
  explicit LargeDecodeSlot(bool large);
  ~LargeDecodeSlot();
  LargeDecodeSlot(const LargeDecodeSlot&) = delete;
  LargeDecodeSlot& operator=(const LargeDecodeSlot&) = delete;

 private:
  const bool m_taken;
};

// The image drawn into 150 x 150 pixels: width and height are scaled independently, so the
// thumbnail always fills the square and the aspect ratio is not kept. Null for an empty image.
std::unique_ptr<HLXImage> MakeThumbnail(const HLXImage& image);

// The image as JPEG file bytes (baseline, quality 1..100, clamped; alpha is dropped). Empty on
// failure or for an empty image.
std::vector<uint8_t> EncodeJpeg(const HLXImage& image, int quality);

}  // namespace hlx
