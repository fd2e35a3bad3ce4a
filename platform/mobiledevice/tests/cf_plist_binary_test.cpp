// The binary property-list reader and writer: encodings plistlib reads, sharing of equal leaves, and
// refusal of every malformed input (truncations, offsets and references out of range, absurd counts,
// cycles, deep nesting, exponential sharing) without crashing or allocating beyond the input.
#include "cf_test_support.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace cf::test;

class CFBinaryPlist : public CFTest {};

std::string BigEndian(uint64_t value, size_t size) {
  std::string out;
  for (size_t i = size; i > 0; --i) out.push_back(static_cast<char>((value >> (8 * (i - 1))) & 0xFF));
  return out;
}

// Lays encoded objects out as a binary property list, so that a test can corrupt any part of it.
struct Layout {
  std::vector<std::string> objects;
  size_t offsetSize = 1;
  size_t refSize = 1;
  uint64_t top = 0;
};

std::string Build(const Layout& layout) {
  std::string out = "bplist00";
  std::vector<uint64_t> offsets;
  for (const auto& object : layout.objects) {
    offsets.push_back(out.size());
    out += object;
  }
  const uint64_t tableOffset = out.size();
  for (const uint64_t offset : offsets) out += BigEndian(offset, layout.offsetSize);
  out += std::string(6, '\0');
  out.push_back(static_cast<char>(layout.offsetSize));
  out.push_back(static_cast<char>(layout.refSize));
  out += BigEndian(layout.objects.size(), 8) + BigEndian(layout.top, 8) + BigEndian(tableOffset, 8);
  return out;
}

// Trailer fields by their offset from the end of the file.
enum TrailerField : size_t { kOffsetSize = 26, kRefSize = 25, kObjectCount = 24, kTopObject = 16, kTableOffset = 8 };

std::string WithTrailer(std::string bytes, TrailerField field, uint64_t value) {
  const size_t size = field == kOffsetSize || field == kRefSize ? 1 : 8;
  bytes.replace(bytes.size() - field, size, BigEndian(value, size));
  return bytes;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// A valid list: [1, "a", true, {"k": -1}] with one-byte references.
Layout SmallList() {
  return Layout{{Bytes({0xA4, 1, 2, 3, 4}), Bytes({0x10, 0x01}), Bytes({0x51, 'a'}), Bytes({0x09}), Bytes({0xD1, 5, 6}),
                 Bytes({0x51, 'k'}), Bytes({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}};
}

// The object bytes of a one-object list as the library writes it.
std::string SingleObjectBytes(const std::string& file) {
  const size_t tableOffset = static_cast<size_t>(static_cast<unsigned char>(file[file.size() - 1]));
  return file.substr(8, tableOffset - 8);
}

TEST_F(CFBinaryPlist, HandBuiltListReadsAsItsObjects) {
  const std::string file = Build(SmallList());
  CFPropertyListFormat format = 0;
  auto list = Parse(file, kCFPropertyListImmutable, &format);
  ASSERT_TRUE(list);
  EXPECT_EQ(format, kCFPropertyListBinaryFormat_v1_0);
  EXPECT_EQ(PlistlibView(file), "[1, 'a', True, {'k': -1}]");
  auto xml = Parse(
      "<plist><array><integer>1</integer><string>a</string><true/><dict><key>k</key><integer>-1</integer>"
      "</dict></array></plist>");
  EXPECT_TRUE(HLXCFEqual(list.get(), xml.get()));
  // The XML entry point detects the binary form too.
  auto data = DataOf(file);
  auto viaXmlEntry = Own(CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr));
  EXPECT_TRUE(HLXCFEqual(viaXmlEntry.get(), list.get()));
}

TEST_F(CFBinaryPlist, MalformedInputsAreRefused) {
  const std::string good = Build(SmallList());
  Layout selfArray{{Bytes({0xA1, 0})}};
  Layout mutualArrays{{Bytes({0xA1, 1}), Bytes({0xA1, 0})}};
  Layout dictValueIsItself{{Bytes({0xD1, 1, 0}), Bytes({0x51, 'k'})}};
  Layout refOutOfRange{{Bytes({0xA1, 7})}};
  Layout hugeArrayCount{{Bytes({0xAF, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0, 0})}};
  Layout hugeDataCount{{Bytes({0x4F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}};
  Layout countNotAnInteger{{Bytes({0x5F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0})}};
  Layout dataPastTable{{Bytes({0x45, 1, 2})}};
  Layout numberKey{{Bytes({0xD1, 1, 1}), Bytes({0x10, 0x05})}};
  Layout highAscii{{Bytes({0x52, 'a', 0x80})}};
  Layout loneSurrogate{{Bytes({0x61, 0xD8, 0x3D})}};
  Layout reversedSurrogates{{Bytes({0x62, 0xDE, 0x00, 0xD8, 0x3D})}};
  Layout int128TooBig{{Bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})}};
  Layout int128TooSmall{{Bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0})}};
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"shorter than a trailer", "bplist00"},
      {"offset size 0", WithTrailer(good, kOffsetSize, 0)},
      {"offset size 9", WithTrailer(good, kOffsetSize, 9)},
      {"reference size 0", WithTrailer(good, kRefSize, 0)},
      {"no objects", WithTrailer(good, kObjectCount, 0)},
      {"absurd object count", WithTrailer(good, kObjectCount, uint64_t{1} << 60)},
      {"top object past the count", WithTrailer(good, kTopObject, 7)},
      {"offset table past the end", WithTrailer(good, kTableOffset, good.size() + 100)},
      {"offset table inside the header", WithTrailer(good, kTableOffset, 3)},
      {"offset table overlapping the trailer", WithTrailer(good, kTableOffset, good.size() - 33)},
      {"offset table at 2^63", WithTrailer(good, kTableOffset, uint64_t{1} << 63)},
      // clang-format off
      {"object offset past the table", [&] { std::string b = good; b[b.size() - 32 - 7] = 0x7F; return b; }()},
      {"object offset inside the header", [&] { std::string b = good; b[b.size() - 32 - 7] = 0x02; return b; }()},
      // clang-format on
      {"array refers to itself", Build(selfArray)},
      {"arrays refer to each other", Build(mutualArrays)},
      {"dictionary value is the dictionary", Build(dictValueIsItself)},
      {"reference out of range", Build(refOutOfRange)},
      {"array count 2^62", Build(hugeArrayCount)},
      {"data count 2^63-1", Build(hugeDataCount)},
      {"count that is not an integer", Build(countNotAnInteger)},
      {"data running into the offset table", Build(dataPastTable)},
      {"dictionary key that is a number", Build(numberKey)},
      {"byte 0x80 in an ASCII string", Build(highAscii)},
      {"unpaired high surrogate", Build(loneSurrogate)},
      {"low surrogate first", Build(reversedSurrogates)},
      {"128-bit integer of 2^64", Build(int128TooBig)},
      {"128-bit integer below -2^63", Build(int128TooSmall)},
      {"null object", Build(Layout{{Bytes({0x00})}})},
      {"fill byte", Build(Layout{{Bytes({0x0F})}})},
      {"32-byte integer", Build(Layout{{Bytes({0x15, 0})}})},
      {"2-byte real", Build(Layout{{Bytes({0x21, 0, 0})}})},
      {"4-byte date", Build(Layout{{Bytes({0x32, 0, 0, 0, 0})}})},
      {"set", Build(Layout{{Bytes({0xC1, 0}), Bytes({0x09})}})},
      {"UTF-8 string marker", Build(Layout{{Bytes({0x71, 'a'})}})},
      {"9-byte UID", Build(Layout{{Bytes({0x88, 0, 0, 0, 0, 0, 0, 0, 0, 1})}})},
  };
  for (const auto& c : cases) {
    CFErrorRef error = nullptr;
    auto data = DataOf(c.bytes);
    auto list = Own(CFPropertyListCreateWithData(nullptr, data.get(), kCFPropertyListImmutable, nullptr, &error));
    EXPECT_FALSE(list) << c.name;
    ASSERT_NE(error, nullptr) << c.name;
    EXPECT_FALSE(Utf8Of(HLXCFErrorGetDescription(error)).empty()) << c.name;
    CFRelease(error);
  }
}

// A list that exercises every object kind, written by the library itself.
Owned<CFPropertyListRef> RichList() {
  return Parse(
      "<plist><dict><key>ints</key><array><integer>0</integer><integer>300</integer><integer>-7</integer>"
      "<integer>18446744073709551615</integer></array><key>text</key><string>caf\xC3\xA9 \xF0\x9F\x98\x80</string>"
      "<key>long text</key><string>abcdefghijklmnopqrstuvwxyz</string><key>data</key><data>AAECAwQFBgcICQ==</data>"
      "<key>date</key><date>1999-12-31T23:59:59Z</date><key>real</key><real>-2.5</real><key>flags</key>"
      "<array><true/><false/></array><key>empty</key><dict/></dict></plist>");
}

TEST_F(CFBinaryPlist, EveryTruncationIsRefused) {
  auto list = RichList();
  ASSERT_TRUE(list);
  const std::string file = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
  ASSERT_FALSE(file.empty());
  for (size_t length = 0; length < file.size(); ++length) {
    EXPECT_FALSE(Parse(file.substr(0, length))) << "prefix of " << length << " bytes";
  }
}

TEST_F(CFBinaryPlist, CorruptedBytesNeverYieldSomethingUnwritable) {
  // Any single damaged byte either makes the list unreadable or leaves a list that the library can
  // write again and read back as the same value.
  auto list = RichList();
  const std::string file = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
  ASSERT_FALSE(file.empty());
  for (size_t at = 0; at < file.size(); ++at) {
    for (const int damage : {0x00, 0xFF, 0x80, 0x0F}) {
      std::string bytes = file;
      bytes[at] = static_cast<char>(static_cast<unsigned char>(bytes[at]) ^ damage);
      auto damaged = Parse(bytes);
      if (!damaged) continue;
      const std::string rewritten = WriteToStream(damaged.get(), kCFPropertyListBinaryFormat_v1_0);
      ASSERT_FALSE(rewritten.empty()) << "byte " << at << " ^ " << damage;
      auto again = Parse(rewritten);
      ASSERT_TRUE(again) << "byte " << at << " ^ " << damage;
      EXPECT_TRUE(HLXCFEqual(damaged.get(), again.get())) << "byte " << at << " ^ " << damage;
    }
  }
}

// A chain of nested one-element arrays around an integer.
std::string ArrayChain(size_t levels) {
  Layout layout;
  layout.refSize = 2;
  layout.offsetSize = 4;
  for (size_t i = 0; i < levels; ++i) layout.objects.push_back(Bytes({0xA1}) + BigEndian(i + 1, 2));
  layout.objects.push_back(Bytes({0x10, 0x2A}));
  return Build(layout);
}

TEST_F(CFBinaryPlist, NestingIsBoundedAt512Levels) {
  EXPECT_TRUE(Parse(ArrayChain(500)));
  EXPECT_FALSE(Parse(ArrayChain(600)));
  EXPECT_FALSE(Parse(ArrayChain(50000)));
}

// 80 arrays, each holding the next one twice: 2^80 elements when expanded.
std::string DoublingChain() {
  Layout layout;
  for (int i = 0; i < 80; ++i) layout.objects.push_back(Bytes({0xA2, i + 1, i + 1}));
  layout.objects.push_back(Bytes({0x10, 0x07}));
  return Build(layout);
}

TEST_F(CFBinaryPlist, SharedContainersDoNotExpandExponentially) {
  const std::string file = DoublingChain();
  auto shared = Parse(file, kCFPropertyListImmutable);
  ASSERT_TRUE(shared);                                                     // read once per object
  EXPECT_FALSE(Parse(file, kCFPropertyListMutableContainers));             // one copy per reference: refused
  EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, shared.get()), nullptr);  // the document would be 2^80 lines
  const std::string rewritten = WriteToStream(shared.get(), kCFPropertyListBinaryFormat_v1_0);
  ASSERT_FALSE(rewritten.empty());
  EXPECT_LT(rewritten.size(), 1000u);  // containers written once, as they were read
  auto again = Parse(rewritten);
  EXPECT_TRUE(HLXCFEqual(shared.get(), again.get()));
}

TEST_F(CFBinaryPlist, MutableOptionGivesEachReferenceItsOwnContainer) {
  // {"a": [], "b": <the same array>}
  Layout layout{{Bytes({0xD2, 1, 2, 3, 3}), Bytes({0x51, 'a'}), Bytes({0x51, 'b'}), Bytes({0xA0})}};
  const std::string file = Build(layout);
  auto a = Str("a");
  auto b = Str("b");
  auto fixed = Parse(file, kCFPropertyListImmutable);
  auto changeable = Parse(file, kCFPropertyListMutableContainers);
  ASSERT_TRUE(fixed && changeable);
  const auto* fixedDictionary = static_cast<CFDictionaryRef>(fixed.get());
  const auto* changeableDictionary = static_cast<CFDictionaryRef>(changeable.get());
  EXPECT_EQ(CFDictionaryGetValue(fixedDictionary, a.get()), CFDictionaryGetValue(fixedDictionary, b.get()));
  auto* first = static_cast<CFMutableArrayRef>(const_cast<void*>(CFDictionaryGetValue(changeableDictionary, a.get())));
  CFArrayAppendValue(first, kCFBooleanTrue);
  EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(CFDictionaryGetValue(changeableDictionary, b.get()))), 0);
}

TEST_F(CFBinaryPlist, LaterDuplicateKeyWins) {
  Layout layout{{Bytes({0xD2, 1, 1, 2, 3}), Bytes({0x51, 'k'}), Bytes({0x10, 1}), Bytes({0x10, 2})}};
  auto list = Parse(Build(layout));
  ASSERT_TRUE(list);
  auto k = Str("k");
  int64_t value = 0;
  ASSERT_TRUE(CFNumberGetValue(
      static_cast<CFNumberRef>(CFDictionaryGetValue(static_cast<CFDictionaryRef>(list.get()), k.get())),
      kCFNumberSInt64Type, &value));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(list.get())), 1);
}

TEST_F(CFBinaryPlist, IntegersUseTheSmallestEncodingPlistlibReads) {
  const struct {
    const char* xmlValue;
    std::string objectBytes;
    const char* plistlibView;
  } cases[] = {
      {"0", Bytes({0x10, 0x00}), "0"},
      {"255", Bytes({0x10, 0xFF}), "255"},
      {"256", Bytes({0x11, 0x01, 0x00}), "256"},
      {"65536", Bytes({0x12, 0x00, 0x01, 0x00, 0x00}), "65536"},
      {"4294967296", Bytes({0x13, 0, 0, 0, 1, 0, 0, 0, 0}), "4294967296"},
      {"-1", Bytes({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {"-9223372036854775808", Bytes({0x13, 0x80, 0, 0, 0, 0, 0, 0, 0}), "-9223372036854775808"},
      {"9223372036854775808", Bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}), "9223372036854775808"},
      {"18446744073709551615", Bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
       "18446744073709551615"},
  };
  for (const auto& c : cases) {
    auto list = Parse(std::string("<plist><integer>") + c.xmlValue + "</integer></plist>");
    ASSERT_TRUE(list) << c.xmlValue;
    const std::string file = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
    EXPECT_EQ(SingleObjectBytes(file), c.objectBytes) << c.xmlValue;
    EXPECT_EQ(PlistlibView(file), c.plistlibView) << c.xmlValue;
  }
}

TEST_F(CFBinaryPlist, StringsAreAsciiOrUtf16) {
  const struct {
    std::string text;
    std::string objectBytes;
    const char* plistlibView;
  } cases[] = {
      {"abc", Bytes({0x53, 'a', 'b', 'c'}), "'abc'"},
      {"", Bytes({0x50}), "''"},
      {"\xC3\xA9", Bytes({0x61, 0x00, 0xE9}), "'\\xe9'"},
      {"\xF0\x9F\x98\x80", Bytes({0x62, 0xD8, 0x3D, 0xDE, 0x00}), "'\\U0001f600'"},
      {"fifteen chars!!", Bytes({0x5F, 0x10, 0x0F}) + "fifteen chars!!", "'fifteen chars!!'"},
  };
  for (const auto& c : cases) {
    auto string = Own(HLXCFStringCreateWithUTF8(c.text.data(), c.text.size()));
    const std::string file = WriteToStream(string.get(), kCFPropertyListBinaryFormat_v1_0);
    EXPECT_EQ(SingleObjectBytes(file), c.objectBytes) << c.text;
    EXPECT_EQ(PlistlibView(file), c.plistlibView) << c.text;
    auto back = Parse(file);
    EXPECT_EQ(Utf8Of(back.get()), c.text);
  }
}

TEST_F(CFBinaryPlist, SinglePrecisionRealsStaySinglePrecision) {
  const std::string file = Build(Layout{{Bytes({0x22, 0x3D, 0xCC, 0xCC, 0xCD})}});  // 0.1f
  auto list = Parse(file);
  ASSERT_TRUE(list);
  EXPECT_EQ(CFNumberGetType(static_cast<CFNumberRef>(list.get())), kCFNumberFloat32Type);
  float value = 0;
  ASSERT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(list.get()), kCFNumberFloat32Type, &value));
  EXPECT_EQ(value, 0.1f);
  const std::string rewritten = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
  EXPECT_EQ(SingleObjectBytes(rewritten), Bytes({0x22, 0x3D, 0xCC, 0xCC, 0xCD}));
  EXPECT_EQ(PlistlibView(rewritten), "0.10000000149011612");
}

TEST_F(CFBinaryPlist, EqualLeavesAreWrittenOnceAndOrderIsKept) {
  auto list = Parse(
      "<plist><dict><key>b</key><array><string>x</string><string>x</string><integer>1</integer>"
      "<integer>1</integer><true/></array><key>a</key><string>x</string></dict></plist>");
  const std::string file = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
  ASSERT_FALSE(file.empty());
  // dict, "b", "a", array, "x", 1, true
  EXPECT_EQ(file.substr(file.size() - 24, 8), BigEndian(7, 8));
  EXPECT_EQ(PlistlibView(file), "{'b': ['x', 'x', 1, 1, True], 'a': 'x'}");
}

TEST_F(CFBinaryPlist, UidsSurviveTheBinaryForm) {
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  for (const uint64_t value : {uint64_t{0}, uint64_t{255}, uint64_t{256}, uint64_t{1} << 40}) {
    auto uid = Own(HLXCFUIDCreate(value));
    CFArrayAppendValue(array.get(), uid.get());
  }
  const std::string file = WriteToStream(array.get(), kCFPropertyListBinaryFormat_v1_0);
  EXPECT_EQ(PlistlibView(file), "[UID(0), UID(255), UID(256), UID(1099511627776)]");
  auto back = Parse(file);
  ASSERT_TRUE(back);
  uint64_t value = 0;
  ASSERT_TRUE(HLXCFUIDGetValue(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(back.get()), 3), &value));
  EXPECT_EQ(value, uint64_t{1} << 40);
}

TEST_F(CFBinaryPlist, CyclesAndForeignObjectsAreNotWritten) {
  auto cycle = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  auto inner = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto key = Str("loop");
  CFArrayAppendValue(cycle.get(), inner.get());
  CFDictionaryAddValue(inner.get(), key.get(), cycle.get());

  auto stream = Own(CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  ASSERT_TRUE(CFWriteStreamOpen(stream.get()));
  CFStringRef error = nullptr;
  EXPECT_EQ(CFPropertyListWriteToStream(cycle.get(), stream.get(), kCFPropertyListBinaryFormat_v1_0, &error), 0);
  ASSERT_NE(error, nullptr);
  CFRelease(error);
  auto written = Own(static_cast<CFDataRef>(CFWriteStreamCopyProperty(stream.get(), kCFStreamPropertyDataWritten)));
  EXPECT_EQ(CFDataGetLength(written.get()), 0);  // nothing half-written

  auto withStream = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  CFArrayAppendValue(withStream.get(), stream.get());
  EXPECT_EQ(HLXCFPropertyListCreateData(withStream.get(), kCFPropertyListBinaryFormat_v1_0), nullptr);

  HLXCFDictionaryRemoveValue(inner.get(), key.get());  // break the reference cycle so that it can be freed
}

}  // namespace
