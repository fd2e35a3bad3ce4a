// The CoreFoundation library's value types as the service uses them: type ids, reference counts and
// strict mode, strings (UTF-16 length, ASCII and UTF-8 copies), numbers (type kept, lossy reads
// reported), booleans, data, dates, URLs and write streams.
#include "cf_test_support.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

using namespace cf::test;

class CFTypes : public CFTest {};
class CFStrings : public CFTest {};
class CFNumbers : public CFTest {};
class CFStreams : public CFTest {};

TEST_F(CFTypes, TypeIdsAreTheNumbersCallersCompareAgainst) {
  auto string = Str("x");
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  auto data = DataOf("x");
  auto number = Own(HLXCFNumberCreateInt64(1));
  auto date = Own(CFDateCreate(nullptr, 0.0));
  auto url = Own(CFURLCreateWithFileSystemPath(nullptr, string.get(), 0, 0));
  auto stream = Own(CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  const struct {
    CFTypeRef object;
    CFTypeID expected;
  } cases[] = {
      // clang-format off
      {string.get(), 7},  {dictionary.get(), 18}, {array.get(), 19}, {data.get(), 20}, {kCFBooleanTrue, 21},
      {number.get(), 22}, {date.get(), 42},        {url.get(), 29},   {stream.get(), 39},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(CFGetTypeID(c.object), c.expected);
  EXPECT_EQ(CFGetTypeID(nullptr), 0u);
}

TEST_F(CFTypes, RetainAndReleaseCountAndTheLastReleaseFrees) {
  const int64_t before = HLXCFGetLiveObjectCount();
  CFStringRef string = CFStringCreateWithCString(nullptr, "counted", kCFStringEncodingASCII);
  ASSERT_NE(string, nullptr);
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before + 1);
  EXPECT_EQ(HLXCFGetRetainCount(string), 1);
  EXPECT_EQ(CFRetain(string), string);
  EXPECT_EQ(HLXCFGetRetainCount(string), 2);
  CFRelease(string);
  EXPECT_EQ(HLXCFGetRetainCount(string), 1);
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before + 1);
  CFRelease(string);
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before);
  CFRelease(nullptr);  // harmless
  EXPECT_EQ(CFRetain(nullptr), nullptr);
}

TEST_F(CFTypes, ContainersKeepTheirMembersAliveAfterTheCreatorReleasesThem) {
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  CFStringRef member = CFStringCreateWithCString(nullptr, "member", kCFStringEncodingASCII);
  CFArrayAppendValue(array.get(), member);
  EXPECT_EQ(HLXCFGetRetainCount(member), 2);
  CFRelease(member);
  const auto* held = static_cast<CFStringRef>(CFArrayGetValueAtIndex(array.get(), 0));
  EXPECT_EQ(Utf8Of(held), "member");
  // The fixture checks that releasing the array frees the member as well.
}

TEST_F(CFTypes, ReleasingADeeplyNestedStructureDoesNotRecursePerLevel) {
  // 200000 levels would overflow the stack if each level's release recursed into the next.
  CFMutableArrayRef outer = CFArrayCreateMutable(nullptr, 0, nullptr);
  CFMutableArrayRef current = outer;
  for (int i = 0; i < 200000; ++i) {
    CFMutableArrayRef inner = CFArrayCreateMutable(nullptr, 0, nullptr);
    CFArrayAppendValue(current, inner);
    CFRelease(inner);
    current = inner;
  }
  CFRelease(outer);
}

TEST_F(CFTypes, ConstantsAndInternedStringsSurviveAnyNumberOfReleases) {
  const int64_t before = HLXCFGetLiveObjectCount();
  CFStringRef first = __CFStringMakeConstantString("com.apple.mobile.battery");
  CFStringRef second = __CFStringMakeConstantString("com.apple.mobile.battery");
  EXPECT_EQ(first, second);
  for (int i = 0; i < 5; ++i) {
    CFRelease(first);
    CFRelease(kCFBooleanTrue);
    CFRelease(kCFStreamPropertyDataWritten);
  }
  EXPECT_EQ(Utf8Of(first), "com.apple.mobile.battery");
  EXPECT_EQ(CFGetTypeID(kCFStreamPropertyDataWritten), 7u);
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_EQ(HLXCFGetLiveObjectCount(), before);
}

TEST_F(CFTypes, WrongTypedPointersGiveEmptyAnswers) {
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  auto string = Str("text");
  EXPECT_EQ(CFStringGetLength(reinterpret_cast<CFStringRef>(array.get())), 0);
  EXPECT_EQ(CFArrayGetCount(reinterpret_cast<CFArrayRef>(string.get())), 0);
  EXPECT_EQ(CFDataGetBytePtr(reinterpret_cast<CFDataRef>(string.get())), nullptr);
  EXPECT_FALSE(CFBooleanGetValue(reinterpret_cast<CFBooleanRef>(string.get())));
  int32_t value = 7;
  EXPECT_FALSE(CFNumberGetValue(reinterpret_cast<CFNumberRef>(string.get()), kCFNumberSInt32Type, &value));
}

TEST(CFStrictDeathTest, OverReleaseAbortsInStrictMode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        HLXCFSetStrictMode(1);
        CFStringRef string = CFStringCreateWithCString(nullptr, "twice", kCFStringEncodingASCII);
        CFRelease(string);
        CFRelease(string);
      },
      "over-release");
}

TEST(CFStrictDeathTest, UseAfterReleaseAbortsInStrictMode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        HLXCFSetStrictMode(1);
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("ab"), 2);
        CFRelease(data);
        (void)CFDataGetLength(data);
      },
      "released object");
}

TEST(CFStrictDeathTest, ChangingAnImmutableContainerAbortsInStrictMode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        HLXCFSetStrictMode(1);
        CFDictionaryRef fixed = CFDictionaryCreate(nullptr, nullptr, nullptr, 0, nullptr, nullptr);
        CFStringRef key = __CFStringMakeConstantString("k");
        CFDictionaryAddValue(const_cast<CFMutableDictionaryRef>(fixed), key, key);
      },
      "immutable dictionary");
}

TEST_F(CFStrings, LengthCountsUtf16Units) {
  const struct {
    const char* text;
    CFIndex units;
  } cases[] = {
      // clang-format off
      {"", 0}, {"abc", 3}, {"\xC3\xA9", 1}, {"\xE4\xB8\xAD\xE6\x96\x87", 2}, {"\xF0\x9F\x98\x80", 2}, {"a\xF0\x9F\x98\x80" "b", 4},
      // clang-format on
  };
  for (const auto& c : cases) {
    auto string = Str(c.text);
    ASSERT_TRUE(string) << c.text;
    EXPECT_EQ(CFStringGetLength(string.get()), c.units) << c.text;
  }
}

TEST_F(CFStrings, CreationRefusesTextThatIsNotInTheEncoding) {
  const struct {
    const char* text;
    CFStringEncoding encoding;
    bool accepted;
  } cases[] = {
      {"plain", kCFStringEncodingASCII, true},
      {"caf\xC3\xA9", kCFStringEncodingASCII, false},
      {"caf\xC3\xA9", kCFStringEncodingUTF8, true},
      {"\xC0\xAF", kCFStringEncodingUTF8, false},          // overlong '/'
      {"\xED\xA0\x80", kCFStringEncodingUTF8, false},      // surrogate
      {"\xE4\xB8", kCFStringEncodingUTF8, false},          // truncated sequence
      {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, false},  // above U+10FFFF
      {"\x80", kCFStringEncodingUTF8, false},              // stray continuation byte
      {"plain", 0x0500, false},                            // an encoding this library does not know
  };
  for (const auto& c : cases) {
    auto string = Own(CFStringCreateWithCString(nullptr, c.text, c.encoding));
    EXPECT_EQ(static_cast<bool>(string), c.accepted) << c.text;
  }
  EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
}

TEST_F(CFStrings, GetCStringHonoursEncodingAndBufferSize) {
  const struct {
    const char* text;
    CFStringEncoding encoding;
    CFIndex bufferSize;
    bool ok;
    const char* expected;
  } cases[] = {
      {"abc", kCFStringEncodingASCII, 4, true, "abc"},
      {"abc", kCFStringEncodingASCII, 3, false, ""},  // no room for the NUL
      {"abc", kCFStringEncodingUTF8, 4, true, "abc"},
      {"", kCFStringEncodingASCII, 1, true, ""},
      {"caf\xC3\xA9", kCFStringEncodingASCII, 64, false, ""},
      {"caf\xC3\xA9", kCFStringEncodingUTF8, 6, true, "caf\xC3\xA9"},
      {"caf\xC3\xA9", kCFStringEncodingUTF8, 5, false, ""},
      {"\xF0\x9F\x98\x80", kCFStringEncodingUTF8, 5, true, "\xF0\x9F\x98\x80"},
      {"abc", 0x0500, 64, false, ""},
  };
  for (const auto& c : cases) {
    auto string = Str(c.text);
    char buffer[64];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(CFStringGetCString(string.get(), buffer, c.bufferSize, c.encoding) != 0, c.ok) << c.text;
    EXPECT_STREQ(buffer, c.expected) << c.text;
  }
}

TEST_F(CFStrings, UtfEightSizedFromTheUtf16LengthAlwaysFits) {
  // The service sizes its buffer as length * 4 + 1; every character must fit that bound.
  auto string = Str("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  std::vector<char> buffer(static_cast<size_t>(CFStringGetLength(string.get()) * 4 + 1));
  ASSERT_TRUE(
      CFStringGetCString(string.get(), buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8));
  EXPECT_STREQ(buffer.data(), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST_F(CFStrings, CopiesAndUtf8ViewsKeepTheContent) {
  auto original = Str("k\xC3\xA9y");
  auto copy = Own(CFStringCreateCopy(nullptr, original.get()));
  EXPECT_EQ(Utf8Of(copy.get()), "k\xC3\xA9y");
  auto withNul = Own(HLXCFStringCreateWithUTF8("a\0b", 3));
  EXPECT_EQ(CFStringGetLength(withNul.get()), 3);
  EXPECT_EQ(Utf8Of(withNul.get()), std::string("a\0b", 3));
  EXPECT_EQ(HLXCFStringCreateWithUTF8("\xFF", 1), nullptr);
}

TEST_F(CFNumbers, TypeIsNormalisedAtCreation) {
  const int8_t s8 = -5;
  const int16_t s16 = 300;
  const int32_t s32 = 70000;
  const int64_t s64 = 1LL << 40;
  const long longValue = 5;
  const float f32 = 1.5f;
  const double f64 = 2.25;
  const struct {
    CFNumberType created;
    const void* value;
    CFNumberType expectedType;
    CFIndex expectedSize;
  } cases[] = {
      // clang-format off
      {kCFNumberSInt8Type, &s8, kCFNumberSInt8Type, 1},     {kCFNumberCharType, &s8, kCFNumberSInt8Type, 1},
      {kCFNumberSInt16Type, &s16, kCFNumberSInt16Type, 2},  {kCFNumberShortType, &s16, kCFNumberSInt16Type, 2},
      {kCFNumberSInt32Type, &s32, kCFNumberSInt32Type, 4},  {kCFNumberIntType, &s32, kCFNumberSInt32Type, 4},
      {kCFNumberSInt64Type, &s64, kCFNumberSInt64Type, 8},  {kCFNumberLongLongType, &s64, kCFNumberSInt64Type, 8},
      {kCFNumberLongType, &longValue, kCFNumberSInt64Type, 8}, {kCFNumberCFIndexType, &longValue, kCFNumberSInt64Type, 8},
      {kCFNumberFloat32Type, &f32, kCFNumberFloat32Type, 4}, {kCFNumberFloatType, &f32, kCFNumberFloat32Type, 4},
      {kCFNumberFloat64Type, &f64, kCFNumberFloat64Type, 8}, {kCFNumberDoubleType, &f64, kCFNumberFloat64Type, 8},
      // clang-format on
  };
  for (const auto& c : cases) {
    auto number = Own(HLXCFNumberCreate(c.created, c.value));
    ASSERT_TRUE(number) << c.created;
    EXPECT_EQ(CFNumberGetType(number.get()), c.expectedType) << c.created;
    EXPECT_EQ(CFNumberGetByteSize(number.get()), c.expectedSize) << c.created;
  }
  EXPECT_EQ(HLXCFNumberCreate(99, &s32), nullptr);
  EXPECT_EQ(HLXCFNumberCreate(kCFNumberSInt32Type, nullptr), nullptr);
}

// Reads into a 64-bit slot so that every target width can be checked the same way.
struct Conversion {
  const char* name;
  CFNumberRef (*make)();
  CFNumberType target;
  bool exact;
  int64_t integer;  // expected for integer targets
  double real;      // expected for float targets
};

TEST_F(CFNumbers, GetValueConvertsAndReportsLoss) {
  const Conversion cases[] = {
      // clang-format off
      {"5 as SInt8", [] { return HLXCFNumberCreateInt64(5); }, kCFNumberSInt8Type, true, 5, 0},
      {"300 as SInt8", [] { return HLXCFNumberCreateInt64(300); }, kCFNumberSInt8Type, false, 127, 0},
      {"-129 as SInt8", [] { return HLXCFNumberCreateInt64(-129); }, kCFNumberSInt8Type, false, -128, 0},
      {"2^31-1 as SInt32", [] { return HLXCFNumberCreateInt64(2147483647); }, kCFNumberSInt32Type, true, 2147483647, 0},
      {"2^31 as int", [] { return HLXCFNumberCreateInt64(2147483648LL); }, kCFNumberIntType, false, 2147483647, 0},
      {"2.5 as SInt32", [] { return HLXCFNumberCreateDouble(2.5); }, kCFNumberSInt32Type, false, 2, 0},
      {"-2.5 as SInt64", [] { return HLXCFNumberCreateDouble(-2.5); }, kCFNumberSInt64Type, false, -2, 0},
      {"3.0 as SInt64", [] { return HLXCFNumberCreateDouble(3.0); }, kCFNumberSInt64Type, true, 3, 0},
      {"NaN as SInt64", [] { return HLXCFNumberCreateDouble(std::nan("")); }, kCFNumberSInt64Type, false, 0, 0},
      {"1e30 as SInt64", [] { return HLXCFNumberCreateDouble(1e30); }, kCFNumberSInt64Type, false, INT64_MAX, 0},
      {"2^64-1 as SInt64", [] { return HLXCFNumberCreateUInt64(UINT64_MAX); }, kCFNumberSInt64Type, false, INT64_MAX, 0},
      {"2^53 as Float64", [] { return HLXCFNumberCreateInt64(1LL << 53); }, kCFNumberFloat64Type, true, 0, 9007199254740992.0},
      {"2^53+1 as Float64", [] { return HLXCFNumberCreateInt64((1LL << 53) + 1); }, kCFNumberFloat64Type, false, 0, 9007199254740992.0},
      {"0.5 as Float32", [] { return HLXCFNumberCreateDouble(0.5); }, kCFNumberFloat32Type, true, 0, 0.5},
      {"0.1 as Float32", [] { return HLXCFNumberCreateDouble(0.1); }, kCFNumberFloat32Type, false, 0, static_cast<double>(0.1f)},
      {"1e300 as Float32", [] { return HLXCFNumberCreateDouble(1e300); }, kCFNumberFloat32Type, false, 0, static_cast<double>(std::numeric_limits<float>::max())},
      {"7 as float", [] { return HLXCFNumberCreateInt64(7); }, kCFNumberFloatType, true, 0, 7.0},
      {"-1 as CFIndex", [] { return HLXCFNumberCreateInt64(-1); }, kCFNumberCFIndexType, true, -1, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    auto number = Own(c.make());
    ASSERT_TRUE(number) << c.name;
    unsigned char slot[16] = {};
    EXPECT_EQ(CFNumberGetValue(number.get(), c.target, slot) != 0, c.exact) << c.name;
    // clang-format off
    switch (c.target) {
      case kCFNumberSInt8Type: { int8_t v; std::memcpy(&v, slot, 1); EXPECT_EQ(v, c.integer) << c.name; break; }
      case kCFNumberSInt32Type:
      case kCFNumberIntType: { int32_t v; std::memcpy(&v, slot, 4); EXPECT_EQ(v, c.integer) << c.name; break; }
      case kCFNumberSInt64Type:
      case kCFNumberCFIndexType: { int64_t v; std::memcpy(&v, slot, 8); EXPECT_EQ(v, c.integer) << c.name; break; }
      case kCFNumberFloat32Type:
      case kCFNumberFloatType: { float v; std::memcpy(&v, slot, 4); EXPECT_EQ(static_cast<double>(v), c.real) << c.name; break; }
      default: { double v; std::memcpy(&v, slot, 8); EXPECT_EQ(v, c.real) << c.name; break; }
    }
    // clang-format on
  }
}

TEST_F(CFNumbers, UnsignedValuesAboveInt64MaxAreKeptExactly) {
  auto big = Own(HLXCFNumberCreateUInt64(UINT64_MAX));
  EXPECT_EQ(CFNumberGetType(big.get()), kCFNumberSInt64Type);
  uint64_t value = 0;
  ASSERT_TRUE(HLXCFNumberGetUInt64(big.get(), &value));
  EXPECT_EQ(value, UINT64_MAX);
  auto negative = Own(HLXCFNumberCreateInt64(-1));
  EXPECT_FALSE(HLXCFNumberGetUInt64(negative.get(), &value));
  auto fraction = Own(HLXCFNumberCreateDouble(1.5));
  EXPECT_FALSE(HLXCFNumberGetUInt64(fraction.get(), &value));
  EXPECT_TRUE(HLXCFNumberIsFloatType(fraction.get()));
  EXPECT_FALSE(HLXCFNumberIsFloatType(big.get()));
}

TEST_F(CFTypes, BooleansAreSingletons) {
  EXPECT_EQ(HLXCFBooleanGet(1), kCFBooleanTrue);
  EXPECT_TRUE(CFBooleanGetValue(HLXCFBooleanGet(1)));
  EXPECT_FALSE(CFBooleanGetValue(HLXCFBooleanGet(0)));
  EXPECT_NE(HLXCFBooleanGet(0), kCFBooleanTrue);
}

TEST_F(CFTypes, DataKeepsItsBytesAndCopiesAreIndependentObjects) {
  const std::string bytes("\x00\x01\xFFtail", 7);
  auto data = DataOf(bytes);
  EXPECT_EQ(CFDataGetLength(data.get()), 7);
  EXPECT_EQ(BytesOf(data.get()), bytes);
  auto copy = Own(CFDataCreateCopy(nullptr, data.get()));
  EXPECT_NE(copy.get(), data.get());
  EXPECT_EQ(BytesOf(copy.get()), bytes);
  auto empty = DataOf("");
  EXPECT_NE(CFDataGetBytePtr(empty.get()), nullptr);
  EXPECT_EQ(CFDataGetLength(empty.get()), 0);
  EXPECT_EQ(CFDataCreate(nullptr, nullptr, 5), nullptr);
  EXPECT_EQ(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("x"), -1), nullptr);
}

TEST_F(CFTypes, DatesCountSecondsFrom2001) {
  auto date = Own(CFDateCreate(nullptr, -0.25));
  EXPECT_EQ(CFDateGetAbsoluteTime(date.get()), -0.25);
  const double expectedNow = static_cast<double>(std::time(nullptr)) - 978307200.0;
  EXPECT_NEAR(CFAbsoluteTimeGetCurrent(), expectedNow, 60.0);  // the epoch offset, not a timing check
}

TEST_F(CFTypes, UrlsKeepPathStyleAndDirectoryFlag) {
  auto path = Str("/var/mobile/Media/Books");
  auto url = Own(CFURLCreateWithFileSystemPath(nullptr, path.get(), 0, 1));
  ASSERT_TRUE(url);
  EXPECT_EQ(Utf8Of(HLXCFURLGetPath(url.get())), "/var/mobile/Media/Books");
  EXPECT_TRUE(HLXCFURLIsDirectory(url.get()));
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, path.get(), 7, 0), nullptr);
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, nullptr, 0, 0), nullptr);
}

TEST_F(CFStreams, WritesOnlyWhileOpenAndReportsAllBytesWritten) {
  auto list = Str("payload");
  auto stream = Own(CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  CFStringRef error = nullptr;
  EXPECT_EQ(CFPropertyListWriteToStream(list.get(), stream.get(), kCFPropertyListXMLFormat_v1_0, &error), 0);
  ASSERT_NE(error, nullptr);
  CFRelease(error);

  ASSERT_TRUE(CFWriteStreamOpen(stream.get()));
  EXPECT_FALSE(CFWriteStreamOpen(stream.get()));
  const CFIndex first = CFPropertyListWriteToStream(list.get(), stream.get(), kCFPropertyListXMLFormat_v1_0, &error);
  EXPECT_EQ(error, nullptr);
  const CFIndex second =
      CFPropertyListWriteToStream(list.get(), stream.get(), kCFPropertyListBinaryFormat_v1_0, nullptr);
  EXPECT_GT(first, 0);
  EXPECT_GT(second, 0);
  auto written = Own(static_cast<CFDataRef>(CFWriteStreamCopyProperty(stream.get(), kCFStreamPropertyDataWritten)));
  ASSERT_TRUE(written);
  EXPECT_EQ(CFDataGetLength(written.get()), first + second);
  EXPECT_EQ(BytesOf(written.get()).substr(static_cast<size_t>(first), 8), "bplist00");

  // Any string with the property's name works, not only the exported constant.
  auto sameName = Str("kCFStreamPropertyDataWritten");
  auto again = Own(CFWriteStreamCopyProperty(stream.get(), sameName.get()));
  EXPECT_TRUE(again);
  auto otherName = Str("kCFStreamPropertyFileCurrentOffset");
  EXPECT_EQ(CFWriteStreamCopyProperty(stream.get(), otherName.get()), nullptr);

  // A format this library does not write adds nothing to an open stream.
  EXPECT_EQ(CFPropertyListWriteToStream(list.get(), stream.get(), kCFPropertyListOpenStepFormat, nullptr), 0);
  auto unchanged = Own(static_cast<CFDataRef>(CFWriteStreamCopyProperty(stream.get(), kCFStreamPropertyDataWritten)));
  EXPECT_EQ(CFDataGetLength(unchanged.get()), first + second);

  CFWriteStreamClose(stream.get());
  EXPECT_EQ(CFPropertyListWriteToStream(list.get(), stream.get(), kCFPropertyListXMLFormat_v1_0, nullptr), 0);
}

}  // namespace
