// Image helpers: PNGs written by a Python script of ours (tools/make_test_png.py) are decoded,
// squeezed into 150 x 150 thumbnails and encoded as JPEG, whose markers are read here by hand and,
// when ImageMagick is installed, by `identify`.
#include "utility/hlx_image.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "utility_test_support.h"

namespace hlx {
namespace {

using test::ShellQuote;
using test::TempFolder;

struct Rgba {
  int r, g, b, a;
};

const Rgba kRed{255, 0, 0, 255};
const Rgba kBlue{0, 0, 255, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kWhite{255, 255, 255, 255};

// The bytes of a quadrant PNG of the given size made by the Python script: red, blue, green and
// white quarters, from the top left.
std::string QuadrantPng(const TempFolder& folder, int width, int height) {
  std::string path = folder / ("q" + std::to_string(width) + "x" + std::to_string(height) + ".png");
  int status = -1;
  test::ShellOutput(test::Python() + " " + ShellQuote(test::ToolPath("make_test_png.py")) + " " + ShellQuote(path) +
                        " " + std::to_string(width) + " " + std::to_string(height),
                    &status);
  EXPECT_EQ(status, 0);
  return test::ReadFile(path);
}

// Decodes a quadrant PNG of the given size.
std::unique_ptr<HLXImage> LoadQuadrants(const TempFolder& folder, int width, int height) {
  const std::string png = QuadrantPng(folder, width, height);
  return LoadImageFromMemory(reinterpret_cast<const uint8_t*>(png.data()), png.size());
}

void ExpectPixel(const HLXImage& image, int x, int y, const Rgba& expected, int tolerance) {
  SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
  const uint8_t* pixel = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
  EXPECT_NEAR(pixel[0], expected.r, tolerance);
  EXPECT_NEAR(pixel[1], expected.g, tolerance);
  EXPECT_NEAR(pixel[2], expected.b, tolerance);
  EXPECT_NEAR(pixel[3], expected.a, tolerance);
}

// The quadrants' colours at the four points (left or right, top or bottom).
void ExpectQuadrants(const HLXImage& image, int left, int top, int right, int bottom, int tolerance) {
  ExpectPixel(image, left, top, kRed, tolerance);
  ExpectPixel(image, right, top, kBlue, tolerance);
  ExpectPixel(image, left, bottom, kGreen, tolerance);
  ExpectPixel(image, right, bottom, kWhite, tolerance);
}

TEST(LoadImageFromMemory, DecodesAPngToRgba) {
  TempFolder folder;
  std::unique_ptr<HLXImage> image = LoadQuadrants(folder, 40, 20);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 40);
  EXPECT_EQ(image->height, 20);
  ASSERT_EQ(image->pixels.size(), 40u * 20 * 4);
  ExpectQuadrants(*image, 0, 0, 39, 19, 0);
}

TEST(LoadImageFromMemory, NullEmptyAndBrokenInputGiveNull) {
  EXPECT_EQ(LoadImageFromMemory(nullptr, 100), nullptr);
  const uint8_t byte = 0;
  EXPECT_EQ(LoadImageFromMemory(&byte, 0), nullptr);
  std::string junk = test::SeededBytes(4096, 5, false);
  EXPECT_EQ(LoadImageFromMemory(reinterpret_cast<const uint8_t*>(junk.data()), junk.size()), nullptr);

  TempFolder folder;
  const std::string png = QuadrantPng(folder, 64, 64);
  ASSERT_FALSE(png.empty());
  // Every cut of the file before its image data is complete decodes to nothing.
  for (size_t cut : {size_t{8}, size_t{20}, size_t{33}, size_t{40}}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(LoadImageFromMemory(reinterpret_cast<const uint8_t*>(png.data()), cut), nullptr);
  }
}

TEST(LoadImageFromMemory, ImagesAboveThePixelLimitAreRefusedBeforeDecoding) {
  // A PNG header announcing 60000 x 60000 pixels (3.6 billion), with no data behind it.
  TempFolder folder;
  std::string path = folder / "huge.png";
  std::string script =
      "import struct, sys, zlib\n"
      "def chunk(k, d): return struct.pack('>I', len(d)) + k + d + struct.pack('>I', zlib.crc32(k "
      "+ d))\n"
      "h = struct.pack('>IIBBBBB', 60000, 60000, 8, 6, 0, 0, 0)\n"
      "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', h) + "
      "chunk(b'IDAT', zlib.compress(b'\\0' * 1000)) + chunk(b'IEND', b''))\n";
  int status = -1;
  test::ShellOutput(test::Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path), &status);
  ASSERT_EQ(status, 0);
  std::string png = test::ReadFile(path);
  EXPECT_EQ(LoadImageFromMemory(reinterpret_cast<const uint8_t*>(png.data()), png.size()), nullptr);
}

// A PNG written by Python: the header's size, colour type, bit depth and interlace flag, and zero
// rows of exactly the bytes that header implies (every Adam7 pass for an interlaced one) plus
// `extra` bytes, compressed whole; "cgbi" writes the device's variant (a CgBI chunk, bare deflate).
std::string ZeroPng(const TempFolder& folder, const std::string& name, uint32_t width, uint32_t height, int colour,
                    int depth, bool interlaced, uint64_t extra, bool cgbi = false) {
  const std::string path = folder / name;
  const std::string script =
      "import struct, sys, zlib\n"
      "w, h, colour, depth, inter, extra, cgbi = map(int, sys.argv[2:])\n"
      "def chunk(k, d): return struct.pack('>I', len(d)) + k + d + struct.pack('>I', zlib.crc32(k + d))\n"
      "bpp = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour] * depth\n"
      "passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]"
      " if inter else [(0, 0, 1, 1)]\n"
      "size = 0\n"
      "for x0, y0, dx, dy in passes:\n"
      "    cols, rows = len(range(x0, w, dx)), len(range(y0, h, dy))\n"
      "    if cols and rows: size += rows * (1 + (cols * bpp + 7) // 8)\n"
      "packer = zlib.compressobj(9, zlib.DEFLATED, -15 if cgbi else 15)\n"
      "data, left = b'', size + extra\n"
      "while left:\n"
      "    step = min(left, 1 << 20); data += packer.compress(b'\\0' * step); left -= step\n"
      "data += packer.flush()\n"
      "head = chunk(b'CgBI', b'\\x50\\x00\\x20\\x06') if cgbi else b''\n"
      "hdr = struct.pack('>IIBBBBB', w, h, depth, colour, 0, 0, inter)\n"
      "plte = chunk(b'PLTE', b'\\0\\0\\0') if colour == 3 else b''\n"
      "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + head + chunk(b'IHDR', hdr) + plte +"
      " chunk(b'IDAT', data[:len(data) // 2]) + chunk(b'IDAT', data[len(data) // 2:]) + chunk(b'IEND', b''))\n";
  int status = -1;
  std::string arguments;
  for (uint64_t value : {uint64_t{width}, uint64_t{height}, uint64_t(colour), uint64_t(depth), uint64_t{interlaced},
                         extra, uint64_t{cgbi}}) {
    arguments += " " + std::to_string(value);
  }
  test::ShellOutput(test::Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path) + arguments, &status);
  EXPECT_EQ(status, 0);
  return test::ReadFile(path);
}

// Image data that inflates to more than the header implies is found while it is counted: a byte too
// many, or tens of megabytes behind a modest header (a few dozen KB of file), never decoded; data of
// exactly the right size, interlaced or not, at any depth, decodes.
TEST(PngDataFitsHeader, DataBeyondWhatTheHeaderImpliesIsRefused) {
  TempFolder folder;
  struct Case {
    const char* name;
    uint32_t width, height;
    int colour, depth;
    bool interlaced;
    uint64_t extra;
    bool cgbi;
    bool fits;
  };
  const Case cases[] = {
      {"rgba.png", 2000, 2000, 6, 8, false, 0, false, true},
      {"rgba_plus_one.png", 2000, 2000, 6, 8, false, 1, false, false},
      {"many_behind_2000.png", 2000, 2000, 6, 8, false, uint64_t{64} << 20, false, false},
      {"many_behind_1x1.png", 1, 1, 6, 8, false, uint64_t{64} << 20, false, false},
      {"grey1_interlaced.png", 33, 17, 0, 1, true, 0, false, true},
      {"rgb16_interlaced.png", 33, 17, 2, 16, true, 0, false, true},
      {"rgb16_interlaced_plus_one.png", 33, 17, 2, 16, true, 1, false, false},
      {"palette4.png", 9, 5, 3, 4, false, 0, false, true},
      {"grey_alpha16_1x1_plus_one.png", 1, 1, 4, 16, false, 1, false, false},
      {"device_variant_bomb.png", 1, 1, 6, 8, false, uint64_t{64} << 20, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string png =
        ZeroPng(folder, c.name, c.width, c.height, c.colour, c.depth, c.interlaced, c.extra, c.cgbi);
    ASSERT_FALSE(png.empty());
    EXPECT_LT(png.size(), size_t{2} << 20);
    const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
    EXPECT_EQ(PngDataFitsHeader(bytes, png.size()), c.fits);
    if (!c.cgbi) {
      std::unique_ptr<HLXImage> image = LoadImageFromMemory(bytes, png.size());
      EXPECT_EQ(image != nullptr, c.fits);
      if (image) {
        EXPECT_EQ((std::pair<int, int>(image->width, image->height)), (std::pair<int, int>(c.width, c.height)));
      }
    }
  }
  const std::string jpeg = "\xFF\xD8\xFF\xD9";  // no PNG: nothing to count
  EXPECT_TRUE(PngDataFitsHeader(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()));
}

// The signature and IHDR chunk of an 8-bit RGBA PNG of the given size, without its CRC or data:
// all a header read needs.
std::vector<uint8_t> PngHeader(uint32_t width, uint32_t height) {
  std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
  }
  for (uint8_t field : {8, 6, 0, 0, 0}) bytes.push_back(field);
  bytes.insert(bytes.end(), 4, 0);
  return bytes;
}

TEST(ReadImageSize, TheHeaderAloneGivesTheSizeAndTheCapIsFiftyMegapixels) {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> header = PngHeader(10000, 5001);
  ASSERT_TRUE(ReadImageSize(header.data(), header.size(), &width, &height));
  EXPECT_EQ((std::pair<int, int>(width, height)), (std::pair<int, int>(10000, 5001)));
  EXPECT_FALSE(ImageSizeFitsDecoding(width, height));
  header.resize(20);  // cut inside IHDR
  EXPECT_FALSE(ReadImageSize(header.data(), header.size(), &width, &height));
  const std::string text = "no picture at all";
  EXPECT_FALSE(ReadImageSize(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &width, &height));

  EXPECT_TRUE(ImageSizeFitsDecoding(8064, 6048));  // a 48-megapixel camera still
  EXPECT_TRUE(ImageSizeFitsDecoding(50'000'000, 1));
  EXPECT_FALSE(ImageSizeFitsDecoding(50'000'001, 1));
  EXPECT_FALSE(ImageSizeFitsDecoding(10000, 10000));
  EXPECT_FALSE(ImageSizeFitsDecoding(0, 10));
  EXPECT_FALSE(ImageSizeFitsDecoding(10, -1));
  EXPECT_FALSE(ImageSizeFitsDecoding(65536, 65536));  // the product passes 32 bits
}

TEST(MakeThumbnailFromMemory, SameThumbnailAsFromTheDecodedImageAndTheCapHolds) {
  TempFolder folder;
  const std::string png = QuadrantPng(folder, 300, 150);
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  std::unique_ptr<HLXImage> direct = MakeThumbnailFromMemory(bytes, png.size());
  std::unique_ptr<HLXImage> image = LoadImageFromMemory(bytes, png.size());
  ASSERT_NE(direct, nullptr);
  ASSERT_NE(image, nullptr);
  std::unique_ptr<HLXImage> viaImage = MakeThumbnail(*image);
  ASSERT_NE(viaImage, nullptr);
  EXPECT_EQ((std::pair<int, int>(direct->width, direct->height)), (std::pair<int, int>(150, 150)));
  EXPECT_EQ(direct->pixels, viaImage->pixels);
  ExpectPixel(*direct, 112, 37, kBlue, 2);

  std::vector<uint8_t> huge = PngHeader(7100, 7100);  // 50.4 megapixels
  EXPECT_EQ(MakeThumbnailFromMemory(huge.data(), huge.size()), nullptr);
  EXPECT_EQ(MakeThumbnailFromMemory(nullptr, 10), nullptr);
}

// Six large decodes at once hold at most two slots together, and all six get theirs; small ones
// never wait, not even while both slots are held.
TEST(LargeDecodeSlot, AtMostTwoLargeDecodesAtOnce) {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&] {
      const LargeDecodeSlot slot(true);
      const int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      --inside;
      ++done;
    });
  }
  while (inside.load() < kLargeDecodeSlots) std::this_thread::yield();
  const auto started = std::chrono::steady_clock::now();
  {
    const LargeDecodeSlot small(false);  // both slots are held now
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(25));
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(done.load(), 6);
  EXPECT_EQ(most.load(), kLargeDecodeSlots);
}

// A Huffman table whose sixteen code counts add up to more than the 256 symbols it can hold: the
// decoder of this stb version would write past the table (the sanitizer build stops there).
TEST(LoadImageFromMemory, OverfullHuffmanTableIsRefused) {
  HLXImage image;
  image.width = 16;
  image.height = 16;
  image.pixels.assign(16 * 16 * 4, 128);
  std::vector<uint8_t> jpeg = EncodeJpeg(image, 80);
  ASSERT_FALSE(jpeg.empty());
  ASSERT_NE(LoadImageFromMemory(jpeg.data(), jpeg.size()), nullptr);
  size_t dht = 2;
  while (dht + 1 < jpeg.size() && !(jpeg[dht] == 0xFF && jpeg[dht + 1] == 0xC4)) ++dht;
  ASSERT_LT(dht + 21, jpeg.size());
  for (size_t i = 0; i < 16; ++i) jpeg[dht + 5 + i] = 0x20;  // 16 x 32 = 512 codes
  EXPECT_EQ(LoadImageFromMemory(jpeg.data(), jpeg.size()), nullptr);
}

TEST(MakeThumbnail, SqueezesAWideImageIntoTheSquare) {
  TempFolder folder;
  std::unique_ptr<HLXImage> image = LoadQuadrants(folder, 300, 150);
  ASSERT_NE(image, nullptr);
  std::unique_ptr<HLXImage> thumbnail = MakeThumbnail(*image);
  ASSERT_NE(thumbnail, nullptr);
  EXPECT_EQ(thumbnail->width, kThumbnailSize);
  EXPECT_EQ(thumbnail->height, kThumbnailSize);
  ASSERT_EQ(thumbnail->pixels.size(), 150u * 150 * 4);
  // Width halved, height kept: each quadrant still fills a quarter of the square.
  ExpectQuadrants(*thumbnail, 37, 37, 112, 112, 2);
  ExpectPixel(*thumbnail, 70, 70, kRed, 2);
  ExpectPixel(*thumbnail, 79, 79, kWhite, 2);
}

TEST(MakeThumbnail, StretchesASmallTallImage) {
  TempFolder folder;
  std::unique_ptr<HLXImage> image = LoadQuadrants(folder, 10, 60);
  ASSERT_NE(image, nullptr);
  std::unique_ptr<HLXImage> thumbnail = MakeThumbnail(*image);
  ASSERT_NE(thumbnail, nullptr);
  ExpectQuadrants(*thumbnail, 20, 20, 130, 130, 2);
}

TEST(MakeThumbnail, EmptyImageGivesNull) {
  HLXImage empty;
  EXPECT_EQ(MakeThumbnail(empty), nullptr);
  HLXImage inconsistent;
  inconsistent.width = 10;
  inconsistent.height = 10;
  inconsistent.pixels.resize(12);
  EXPECT_EQ(MakeThumbnail(inconsistent), nullptr);
}

// Width and height from the first start-of-frame marker of a JPEG file, or {0, 0}.
std::pair<int, int> JpegFrameSize(const std::vector<uint8_t>& jpeg, bool* baseline) {
  size_t i = 2;
  while (i + 9 < jpeg.size()) {
    if (jpeg[i] != 0xFF) return {0, 0};
    uint8_t marker = jpeg[i + 1];
    size_t length = (static_cast<size_t>(jpeg[i + 2]) << 8) | jpeg[i + 3];
    if (marker >= 0xC0 && marker <= 0xC3) {
      *baseline = marker == 0xC0;
      int height = (jpeg[i + 5] << 8) | jpeg[i + 6];
      int width = (jpeg[i + 7] << 8) | jpeg[i + 8];
      return {width, height};
    }
    i += 2 + length;
  }
  return {0, 0};
}

TEST(EncodeJpeg, ThumbnailBecomesABaselineJpeg) {
  TempFolder folder;
  std::unique_ptr<HLXImage> image = LoadQuadrants(folder, 300, 150);
  ASSERT_NE(image, nullptr);
  std::unique_ptr<HLXImage> thumbnail = MakeThumbnail(*image);
  ASSERT_NE(thumbnail, nullptr);
  std::vector<uint8_t> jpeg = EncodeJpeg(*thumbnail, 90);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);  // start of image
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);  // end of image
  bool baseline = false;
  EXPECT_EQ(JpegFrameSize(jpeg, &baseline), std::make_pair(150, 150));
  EXPECT_TRUE(baseline);

  // Decoded again, the colours are there within JPEG's loss.
  std::unique_ptr<HLXImage> decoded = LoadImageFromMemory(jpeg.data(), jpeg.size());
  ASSERT_NE(decoded, nullptr);
  ExpectPixel(*decoded, 37, 37, kRed, 24);
  ExpectPixel(*decoded, 112, 112, kWhite, 24);

  // ImageMagick's own reading, where it is installed.
  if (std::system("command -v identify >/dev/null 2>&1") == 0) {
    std::string path = folder / "thumb.jpg";
    ASSERT_TRUE(test::WriteFile(path, std::string(jpeg.begin(), jpeg.end())));
    int status = -1;
    std::string described =
        test::ShellOutput("identify -format '%m %w %h' " + ShellQuote(path) + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(described, "JPEG 150 150");
  }
}

TEST(EncodeJpeg, QualityIsClampedAndEmptyImagesGiveNothing) {
  HLXImage image;
  image.width = 2;
  image.height = 2;
  image.pixels.assign(16, 200);
  EXPECT_FALSE(EncodeJpeg(image, 0).empty());
  EXPECT_FALSE(EncodeJpeg(image, 1000).empty());
  EXPECT_TRUE(EncodeJpeg(HLXImage{}, 90).empty());
}

}  // namespace
}  // namespace hlx
