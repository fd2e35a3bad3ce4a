// Arrays and dictionaries as the service and the device half use them: members retained and released,
// keys found by value, insertion order, immutability, deep copies, value equality.
#include "cf_test_support.h"

#include <string>
#include <vector>

namespace {

using namespace cf::test;

class CFContainers : public CFTest {};

std::vector<std::string> KeysInOrder(CFDictionaryRef dictionary) {
  std::vector<const void*> keys(static_cast<size_t>(CFDictionaryGetCount(dictionary)));
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), nullptr);
  std::vector<std::string> texts;
  for (const void* key : keys) texts.push_back(Utf8Of(key));
  return texts;
}

TEST_F(CFContainers, DictionaryFindsStringKeysByContent) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto key = Str("ProductVersion");
  auto value = Str("9.3.5");
  CFDictionaryAddValue(dictionary.get(), key.get(), value.get());
  auto probe = Str("ProductVersion");  // another object with the same text
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), probe.get()), value.get());
  EXPECT_TRUE(CFDictionaryContainsKey(dictionary.get(), __CFStringMakeConstantString("ProductVersion")));
  EXPECT_FALSE(CFDictionaryContainsKey(dictionary.get(), __CFStringMakeConstantString("productversion")));
  auto sameValue = Str("9.3.5");
  EXPECT_TRUE(CFDictionaryContainsValue(dictionary.get(), sameValue.get()));
  EXPECT_FALSE(CFDictionaryContainsValue(dictionary.get(), probe.get()));
}

TEST_F(CFContainers, DictionaryFindsNumberKeysByValueAcrossTypes) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto one = Own(HLXCFNumberCreateInt64(1));
  CFDictionaryAddValue(dictionary.get(), one.get(), kCFBooleanTrue);
  const int8_t smallOne = 1;
  const struct {
    const char* name;
    CFNumberRef probe;
    bool found;
  } cases[] = {
      {"SInt8 1", HLXCFNumberCreate(kCFNumberSInt8Type, &smallOne), true},
      {"double 1.0", HLXCFNumberCreateDouble(1.0), true},
      {"double 1.5", HLXCFNumberCreateDouble(1.5), false},
      {"int 2", HLXCFNumberCreateInt64(2), false},
      {"2^64-1 never equals 1", HLXCFNumberCreateUInt64(UINT64_MAX), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CFDictionaryContainsKey(dictionary.get(), c.probe) != 0, c.found) << c.name;
    CFRelease(c.probe);
  }
}

TEST_F(CFContainers, AddKeepsTheFirstValueAndSetReplacesIt) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto key = Str("k");
  auto first = Str("first");
  auto second = Str("second");
  CFDictionaryAddValue(dictionary.get(), key.get(), first.get());
  CFDictionaryAddValue(dictionary.get(), key.get(), second.get());
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), key.get()), first.get());
  EXPECT_EQ(HLXCFGetRetainCount(second.get()), 1);  // not kept
  HLXCFDictionarySetValue(dictionary.get(), key.get(), second.get());
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), key.get()), second.get());
  EXPECT_EQ(HLXCFGetRetainCount(first.get()), 1);  // released by the replacement
  EXPECT_EQ(HLXCFGetRetainCount(second.get()), 2);
  EXPECT_EQ(CFDictionaryGetCount(dictionary.get()), 1);
  HLXCFDictionaryRemoveValue(dictionary.get(), key.get());
  EXPECT_EQ(CFDictionaryGetCount(dictionary.get()), 0);
  EXPECT_EQ(HLXCFGetRetainCount(second.get()), 1);
  EXPECT_EQ(HLXCFGetRetainCount(key.get()), 1);
}

TEST_F(CFContainers, IterationFollowsInsertionOrderAcrossRemovals) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  for (const char* name : {"zeta", "alpha", "mid", "beta"}) {
    auto key = Str(name);
    CFDictionaryAddValue(dictionary.get(), key.get(), kCFBooleanTrue);
  }
  EXPECT_EQ(KeysInOrder(dictionary.get()), (std::vector<std::string>{"zeta", "alpha", "mid", "beta"}));
  HLXCFDictionaryRemoveValue(dictionary.get(), __CFStringMakeConstantString("alpha"));
  EXPECT_EQ(KeysInOrder(dictionary.get()), (std::vector<std::string>{"zeta", "mid", "beta"}));
  // Positions after the removed entry must still be found.
  EXPECT_TRUE(CFDictionaryContainsKey(dictionary.get(), __CFStringMakeConstantString("beta")));
  EXPECT_TRUE(CFDictionaryContainsKey(dictionary.get(), __CFStringMakeConstantString("mid")));
}

// Small dictionaries are searched in place and larger ones through an index: lookups, replacement and
// removal must agree on both sides of the switch, and while shrinking back below it.
TEST_F(CFContainers, KeysAreFoundAsDictionariesGrowPastTheIndexAndShrinkBack) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    expected.push_back("k" + std::to_string(i));
    auto key = Str(expected.back().c_str());
    CFDictionaryAddValue(dictionary.get(), key.get(), key.get());
    for (const std::string& name : expected) {
      ASSERT_EQ(Utf8Of(CFDictionaryGetValue(dictionary.get(), Str(name.c_str()).get())), name)
          << "after " << i + 1 << " keys";
    }
  }
  auto replacement = Str("new");
  HLXCFDictionarySetValue(dictionary.get(), Str("k15").get(), replacement.get());
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), Str("k15").get()), replacement.get());
  EXPECT_EQ(CFDictionaryGetCount(dictionary.get()), 20);
  while (expected.size() > 2) {
    const std::string removed = expected[expected.size() / 2];
    HLXCFDictionaryRemoveValue(dictionary.get(), Str(removed.c_str()).get());
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(expected.size() / 2));
    EXPECT_FALSE(CFDictionaryContainsKey(dictionary.get(), Str(removed.c_str()).get()));
    ASSERT_EQ(KeysInOrder(dictionary.get()), expected);
    for (const std::string& name : expected)
      EXPECT_TRUE(CFDictionaryContainsKey(dictionary.get(), Str(name.c_str()).get()));
  }
}

// Thousands of keys take the index through several sizes; numbers are found by value, and removals
// keep every other key reachable at its place in the order.
TEST_F(CFContainers, LargeDictionariesFindEveryKeyAcrossGrowthAndRemovals) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  constexpr int kKeys = 3000;
  std::vector<Owned<CFTypeRef>> keys;
  for (int i = 0; i < kKeys; ++i) {
    const std::string text = "key " + std::to_string(i);
    keys.push_back(
        Own(i % 2 == 0 ? static_cast<CFTypeRef>(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8))
                       : static_cast<CFTypeRef>(HLXCFNumberCreateInt64(i))));
    HLXCFDictionarySetValue(dictionary.get(), keys.back().get(), keys.back().get());
  }
  ASSERT_EQ(CFDictionaryGetCount(dictionary.get()), kKeys);
  auto real = Own(HLXCFNumberCreateDouble(1001.0));
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), real.get()), keys[1001].get());
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), Str("key 2998").get()), keys[2998].get());
  EXPECT_EQ(CFDictionaryGetValue(dictionary.get(), Str("key 2999").get()), nullptr);
  for (int i = 0; i < kKeys; i += 3) HLXCFDictionaryRemoveValue(dictionary.get(), keys[static_cast<size_t>(i)].get());
  ASSERT_EQ(CFDictionaryGetCount(dictionary.get()), kKeys - kKeys / 3);
  std::vector<const void*> values(static_cast<size_t>(kKeys - kKeys / 3));
  CFDictionaryGetKeysAndValues(dictionary.get(), nullptr, values.data());
  size_t at = 0;
  for (int i = 0; i < kKeys; ++i) {
    const void* found = CFDictionaryGetValue(dictionary.get(), keys[static_cast<size_t>(i)].get());
    if (i % 3 == 0) {
      ASSERT_EQ(found, nullptr) << i;
    } else {
      ASSERT_EQ(found, keys[static_cast<size_t>(i)].get()) << i;
      ASSERT_EQ(values[at++], found) << i;
    }
  }
}

struct ApplyLog {
  CFMutableDictionaryRef dictionary;
  std::vector<std::string> seen;
};

TEST_F(CFContainers, ApplyFunctionSurvivesAnApplierThatEmptiesTheDictionary) {
  auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  for (const char* name : {"one", "two", "three"}) {
    auto key = Str(name);
    auto value = Str(name);
    CFDictionaryAddValue(dictionary.get(), key.get(), value.get());
  }
  ApplyLog log{dictionary.get(), {}};
  CFDictionaryApplyFunction(
      dictionary.get(),
      [](const void* key, const void* value, void* context) {
        auto* state = static_cast<ApplyLog*>(context);
        state->seen.push_back(Utf8Of(key) + "=" + Utf8Of(value));
        HLXCFDictionaryRemoveValue(state->dictionary, key);
      },
      &log);
  EXPECT_EQ(log.seen, (std::vector<std::string>{"one=one", "two=two", "three=three"}));
  EXPECT_EQ(CFDictionaryGetCount(dictionary.get()), 0);
}

TEST_F(CFContainers, CreatedDictionariesAreImmutableAndRefuseChanges) {
  HLXCFSetStrictMode(0);  // strict mode would abort on the change; here it must be ignored
  auto key = Str("k");
  auto value = Str("v");
  const void* keys[] = {key.get()};
  const void* values[] = {value.get()};
  auto fixed = Own(CFDictionaryCreate(nullptr, keys, values, 1, nullptr, nullptr));
  ASSERT_TRUE(fixed);
  auto other = Str("other");
  CFDictionaryAddValue(const_cast<CFMutableDictionaryRef>(fixed.get()), other.get(), value.get());
  HLXCFDictionaryRemoveValue(const_cast<CFMutableDictionaryRef>(fixed.get()), key.get());
  EXPECT_EQ(CFDictionaryGetCount(fixed.get()), 1);
  EXPECT_EQ(CFDictionaryGetValue(fixed.get(), key.get()), value.get());
  EXPECT_EQ(CFDictionaryCreate(nullptr, nullptr, nullptr, 2, nullptr, nullptr), nullptr);
  EXPECT_EQ(CFDictionaryCreate(nullptr, keys, values, -1, nullptr, nullptr), nullptr);
  HLXCFSetStrictMode(1);
}

TEST_F(CFContainers, ArraysRetainOnInsertAndReleaseOnRemoval) {
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  auto a = Str("a");
  auto b = Str("b");
  auto c = Str("c");
  CFArrayAppendValue(array.get(), a.get());
  CFArrayAppendValue(array.get(), c.get());
  HLXCFArrayInsertValueAtIndex(array.get(), 1, b.get());
  CFArrayAppendValue(array.get(), nullptr);  // ignored
  ASSERT_EQ(CFArrayGetCount(array.get()), 3);
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), 1), b.get());
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), 3), nullptr);
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), -1), nullptr);
  EXPECT_EQ(HLXCFGetRetainCount(a.get()), 2);
  CFArrayRemoveValueAtIndex(array.get(), 0);
  EXPECT_EQ(HLXCFGetRetainCount(a.get()), 1);
  CFArrayRemoveValueAtIndex(array.get(), 9);  // out of range: nothing happens
  HLXCFArraySetValueAtIndex(array.get(), 0, a.get());
  EXPECT_EQ(HLXCFGetRetainCount(b.get()), 1);
  EXPECT_EQ(CFArrayGetValueAtIndex(array.get(), 0), a.get());
  EXPECT_EQ(CFArrayGetCount(array.get()), 2);
}

TEST_F(CFContainers, MutableCopiesAreDeepForContainersAndShareLeaves) {
  const std::string xml =
      "<plist version=\"1.0\"><dict><key>list</key><array><string>x</string></array></dict></plist>";
  auto parsed = Parse(xml);
  ASSERT_TRUE(parsed);
  auto copy = Own(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(parsed.get())));
  ASSERT_TRUE(copy);
  auto listKey = Str("list");
  auto innerCopy = static_cast<CFMutableArrayRef>(const_cast<void*>(CFDictionaryGetValue(copy.get(), listKey.get())));
  auto innerOriginal =
      static_cast<CFArrayRef>(CFDictionaryGetValue(static_cast<CFDictionaryRef>(parsed.get()), listKey.get()));
  EXPECT_NE(static_cast<const void*>(innerCopy), static_cast<const void*>(innerOriginal));
  EXPECT_EQ(CFArrayGetValueAtIndex(innerCopy, 0), CFArrayGetValueAtIndex(innerOriginal, 0));
  CFArrayAppendValue(innerCopy, kCFBooleanTrue);
  EXPECT_EQ(CFArrayGetCount(innerCopy), 2);
  EXPECT_EQ(CFArrayGetCount(innerOriginal), 1);
}

TEST_F(CFContainers, EqualityIsByValue) {
  auto a = Parse(
      "<plist><dict><key>n</key><integer>1</integer><key>s</key><array><string>x</string></array></dict></plist>");
  auto sameReordered =
      Parse("<plist><dict><key>s</key><array><string>x</string></array><key>n</key><real>1.0</real></dict></plist>");
  auto different = Parse(
      "<plist><dict><key>n</key><integer>1</integer><key>s</key><array><string>y</string></array></dict></plist>");
  auto trueValue = Parse("<plist><true/></plist>");
  auto oneValue = Parse("<plist><integer>1</integer></plist>");
  ASSERT_TRUE(a && sameReordered && different && trueValue && oneValue);
  EXPECT_TRUE(HLXCFEqual(a.get(), sameReordered.get()));
  EXPECT_FALSE(HLXCFEqual(a.get(), different.get()));
  EXPECT_FALSE(HLXCFEqual(trueValue.get(), oneValue.get()));  // a boolean is not a number
  EXPECT_TRUE(HLXCFEqual(nullptr, nullptr));
  EXPECT_FALSE(HLXCFEqual(a.get(), nullptr));
}

}  // namespace
