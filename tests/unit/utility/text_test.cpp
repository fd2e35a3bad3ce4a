// UTF-8/UTF-16 conversions (checked against Python's codecs over every Unicode scalar value),
// ReplaceAll, TryAllocBuffer and InflateToBuffer (fed by zlib's own compress2).
#include "utility/hlx_text.h"
#include "utility/hlx_zlib.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "utility_test_support.h"

namespace hlx {
namespace {

using test::ShellOutput;
using test::TempFolder;
using CharPtr = std::unique_ptr<char, FreeDeleter>;
using WidePtr = std::unique_ptr<char16_t, FreeDeleter>;

struct Utf8Case {
  const char* utf8;
  std::u16string utf16;
};

TEST(TextConversion, ValidUtf8BecomesUtf16WithSurrogatePairs) {
  const Utf8Case cases[] = {
      {"", u""},
      {"plain ASCII", u"plain ASCII"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xE2\x82\xAC 5", u"\u20AC 5"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x9F\x98\x80", std::u16string{0xD83D, 0xDE00}},
      {"\xF4\x8F\xBF\xBF", std::u16string{0xDBFF, 0xDFFF}},
      {"a\xF0\x90\x80\x80z", std::u16string{u'a', 0xD800, 0xDC00, u'z'}},
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToWide(c.utf8), c.utf16);
    EXPECT_EQ(Utf8ToWide(std::string(c.utf8)), c.utf16);
    WidePtr dup(Utf8ToWideDup(c.utf8));
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(std::u16string(dup.get()), c.utf16);
    EXPECT_EQ(WideToUtf8(c.utf16), c.utf8);
    CharPtr utf8(WideToUtf8Dup(c.utf16.c_str()));
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8.get(), c.utf8);
    CharPtr ansi(WideToAnsiDup(c.utf16.c_str()));
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi.get(), c.utf8);
  }
}

TEST(TextConversion, InvalidUtf8GivesAnEmptyStringNotAPartialOne) {
  const char* invalid[] = {
      "ok\x80",                // lone continuation byte
      "ok\xC3(",               // missing continuation
      "\xC0\xAF",              // overlong '/'
      "\xE0\x80\xAF",          // overlong three-byte form
      "\xF0\x80\x80\xAF",      // overlong four-byte form
      "\xED\xA0\x80",          // encoded high surrogate
      "\xED\xBF\xBF",          // encoded low surrogate
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFF",                  // never valid
      "abc\xE2\x82",           // truncated at the end
  };
  for (const char* text : invalid) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    EXPECT_TRUE(Utf8ToWide(text).empty());
    WidePtr dup(Utf8ToWideDup(text));
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup.get()[0], 0);
  }
}

TEST(TextConversion, NullGivesEmptyResults) {
  EXPECT_TRUE(Utf8ToWide(static_cast<const char*>(nullptr)).empty());
  EXPECT_TRUE(WideToUtf8(static_cast<const char16_t*>(nullptr)).empty());
  WidePtr wide(Utf8ToWideDup(nullptr));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide.get()[0], 0);
  CharPtr utf8(WideToUtf8Dup(nullptr));
  ASSERT_NE(utf8, nullptr);
  EXPECT_EQ(utf8.get()[0], 0);
  CharPtr ansi(WideToAnsiDup(nullptr));
  ASSERT_NE(ansi, nullptr);
  EXPECT_EQ(ansi.get()[0], 0);
  EXPECT_EQ(ansi.get()[1], 0);
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(WideToUtf8(std::u16string{u'a', 0xD800, u'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(WideToUtf8(std::u16string{0xDC00, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToUtf8(std::u16string{u'x', 0xDBFF}), "x\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TextConversion, StdStringFormReadsUpToTheFirstNul) { EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), u"ab"); }

// Every scalar value from U+0001 to U+10FFFF, encoded by Python's codecs: our UTF-8 -> UTF-16 must
// give Python's UTF-16 bytes, and back.
TEST(TextConversion, EveryScalarValueAgreesWithPythonCodecs) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  std::string script =
      "import sys\n"
      "text = ''.join(chr(c) for c in range(1, 0x110000) if not 0xD800 <= c <= 0xDFFF)\n"
      "open(sys.argv[1], 'wb').write(text.encode('utf-8'))\n"
      "open(sys.argv[2], 'wb').write(text.encode('utf-16-le'))\n";
  ASSERT_TRUE(test::WriteFile(folder / "gen.py", script));
  int status = -1;
  ShellOutput(test::Python() + " " + test::ShellQuote(folder / "gen.py") + " " + test::ShellQuote(folder / "utf8.bin") +
                  " " + test::ShellQuote(folder / "utf16.bin"),
              &status);
  ASSERT_EQ(status, 0);
  std::string utf8 = test::ReadFile(folder / "utf8.bin");
  std::string utf16Bytes = test::ReadFile(folder / "utf16.bin");
  ASSERT_EQ(utf16Bytes.size() % 2, 0u);
  std::u16string expected(utf16Bytes.size() / 2, u'\0');
  for (size_t i = 0; i < expected.size(); ++i) {
    expected[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16Bytes[2 * i]) |
                                        (static_cast<unsigned char>(utf16Bytes[2 * i + 1]) << 8));
  }
  std::u16string wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), expected.size());
  EXPECT_TRUE(wide == expected);
  EXPECT_TRUE(WideToUtf8(expected) == utf8);
}

TEST(ReplaceAll, ReplacesEachOccurrenceOnceWithoutSearchingInsertedText) {
  struct Case {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  } cases[] = {
      {"aaa", "a", "aa", "aaaaaa"},
      {"aaaa", "aa", "x", "xx"},
      {"a.b.c", ".", "", "abc"},
      {"path\\to\\file", "\\", "/", "path/to/file"},
      {"nothing here", "zz", "y", "nothing here"},
      {"", "a", "b", ""},
      {"abc", "abc", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.expected);
  }
}

TEST(ReplaceAll, EmptySearchStringLeavesTheTextUnchanged) {
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("", "", "x"), "");
}

TEST(TryAllocBuffer, AllocatesOrReportsFailureWithNull) {
  uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
  ASSERT_TRUE(TryAllocBuffer(&buffer, 4096));
  ASSERT_NE(buffer, nullptr);
  std::memset(buffer, 0xAB, 4096);
  delete[] buffer;
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reports an impossible allocation instead of returning null";
#else
  buffer = reinterpret_cast<uint8_t*>(1);
  EXPECT_FALSE(TryAllocBuffer(&buffer, SIZE_MAX / 2));
  EXPECT_EQ(buffer, nullptr);
#endif
}

// ---- InflateToBuffer
// -----------------------------------------------------------------------------

std::string Compress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                      static_cast<uLong>(data.size()), 6),
            Z_OK);
  out.resize(size);
  return out;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

class InflateToBufferTest : public testing::Test {
 protected:
  // 1 MiB: many 16 KiB input steps and output windows.
  std::string m_plain = test::SeededBytes(1 << 20, 7, true);
  std::string m_compressed = Compress(m_plain);
};

TEST_F(InflateToBufferTest, NullOutputMeasuresTheWholeLength) {
  uint64_t length = 12345;
  EXPECT_EQ(InflateToBuffer(nullptr, 0, Bytes(m_compressed), m_compressed.size(), &length), Z_OK);
  EXPECT_EQ(length, m_plain.size());
}

TEST_F(InflateToBufferTest, BufferOfTheMeasuredLengthReceivesTheData) {
  std::vector<uint8_t> out(m_plain.size());
  uint64_t length = 0;
  EXPECT_EQ(InflateToBuffer(out.data(), out.size(), Bytes(m_compressed), m_compressed.size(), &length), Z_OK);
  EXPECT_EQ(length, m_plain.size());
  EXPECT_EQ(std::memcmp(out.data(), m_plain.data(), m_plain.size()), 0);
}

TEST_F(InflateToBufferTest, TooSmallBufferStopsAtItsCapacityWithAnError) {
  for (size_t capacity : {size_t{0}, size_t{1}, size_t{16383}, size_t{16384}, m_plain.size() - 1}) {
    SCOPED_TRACE(capacity);
    // Exactly `capacity` bytes of heap: AddressSanitizer catches a single byte more.
    std::unique_ptr<uint8_t[]> out(new uint8_t[capacity == 0 ? 1 : capacity]);
    uint64_t length = 0;
    EXPECT_EQ(InflateToBuffer(out.get(), capacity, Bytes(m_compressed), m_compressed.size(), &length), Z_BUF_ERROR);
    EXPECT_EQ(length, capacity);
    EXPECT_EQ(std::memcmp(out.get(), m_plain.data(), capacity), 0);
  }
}

TEST_F(InflateToBufferTest, TruncatedInputEndsWithAnError) {
  for (size_t cut :
       {size_t{0}, size_t{1}, size_t{2}, m_compressed.size() / 2, m_compressed.size() - 4, m_compressed.size() - 1}) {
    SCOPED_TRACE(cut);
    // Only `cut` bytes of heap, so a read past the input is caught.
    std::unique_ptr<uint8_t[]> in(new uint8_t[cut == 0 ? 1 : cut]);
    std::memcpy(in.get(), m_compressed.data(), cut);
    uint64_t length = 0;
    int code = InflateToBuffer(nullptr, 0, in.get(), cut, &length);
    EXPECT_NE(code, Z_OK);
    EXPECT_LE(length, m_plain.size());
  }
}

TEST_F(InflateToBufferTest, CorruptDataAndDictionaryStreamsAreDataErrors) {
  std::string corrupt = m_compressed;
  corrupt[0] = 0x12;  // not a zlib header
  uint64_t length = 0;
  EXPECT_EQ(InflateToBuffer(nullptr, 0, Bytes(corrupt), corrupt.size(), &length), Z_DATA_ERROR);

  // A stream made with a preset dictionary.
  z_stream stream{};
  ASSERT_EQ(deflateInit(&stream, 6), Z_OK);
  const char dictionary[] = "dictionary";
  ASSERT_EQ(deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary), 10), Z_OK);
  std::string plain = "dictionary dictionary";
  std::string packed(256, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(plain.data());
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  EXPECT_EQ(InflateToBuffer(nullptr, 0, Bytes(packed), packed.size(), &length), Z_DATA_ERROR);
}

TEST_F(InflateToBufferTest, BytesAfterTheStreamAreIgnored) {
  std::string padded = m_compressed + "trailing bytes";
  uint64_t length = 0;
  EXPECT_EQ(InflateToBuffer(nullptr, 0, Bytes(padded), padded.size(), &length), Z_OK);
  EXPECT_EQ(length, m_plain.size());
}

}  // namespace
}  // namespace hlx
