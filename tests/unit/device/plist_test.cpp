// Property lists. The reading rules as a table of XML texts and the trees they must give; then,
// through the simulated library, seeded random trees written by Python's plistlib in both forms:
// each must read into the tree that the fixture script derives from the same rules, XML converted
// to binary here must load in plistlib as the same tree, and the first-value reader must agree.
#include "utility/hlx_plist.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/device/device_test_support.h"
#include "utility/hlx_encoding.h"

namespace hlx {
namespace {

using test::Python;
using test::ReadFile;
using test::ShellOutput;
using test::ShellQuote;
using test::TempFolder;
using test::ToolPath;
using test::WriteFile;

const char* TypeName(PlistVariant::Type type) {
  switch (type) {
    case PlistVariant::Type::kEmpty: return "empty";
    case PlistVariant::Type::kString: return "string";
    case PlistVariant::Type::kInt64: return "int";
    case PlistVariant::Type::kDouble: return "double";
    case PlistVariant::Type::kBool: return "bool";
    case PlistVariant::Type::kArray: return "array";
    case PlistVariant::Type::kDictionary: return "dict";
  }
  return "?";
}

std::string Base64Bytes(const std::string& text) {
  std::string bytes;
  if (!Base64Decode(text, bytes)) return "<not base64: " + text + ">";
  return bytes;
}

// Compares a tree with its expected form {"t": kind, "v": value} (see tools/plist_fixture.py).
// "data" and "date" stand in dictionaries as the text the library wrote: data is compared by its
// decoded bytes, since the line breaks of base64 text are the writer's choice.
void ExpectTree(const PlistVariant& actual, const rapidjson::Value& expected, const std::string& where) {
  ASSERT_TRUE(expected.IsObject() && expected.HasMember("t")) << where;
  const std::string kind = expected["t"].GetString();
  const bool textKind = kind == "data" || kind == "date";
  const std::string actualKind = TypeName(actual.type());
  ASSERT_EQ(actualKind, textKind ? "string" : kind) << where;
  if (kind == "empty") return;
  const rapidjson::Value& value = expected["v"];
  if (kind == "string" || kind == "date") {
    EXPECT_EQ(*actual.GetString(), std::string(value.GetString(), value.GetStringLength())) << where;
  } else if (kind == "data") {
    EXPECT_EQ(Base64Bytes(*actual.GetString()), Base64Bytes(value.GetString())) << where;
  } else if (kind == "int") {
    EXPECT_EQ(*actual.GetInt64(), value.GetInt64()) << where;
  } else if (kind == "double") {
    EXPECT_EQ(*actual.GetDouble(), value.GetDouble()) << where;
  } else if (kind == "bool") {
    EXPECT_EQ(*actual.GetBool(), value.GetBool()) << where;
  } else if (kind == "array") {
    const PlistVariant::Array& items = *actual.GetArray();
    ASSERT_EQ(items.size(), value.Size()) << where;
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
      ExpectTree(items[i], value[i], where + "[" + std::to_string(i) + "]");
    }
  } else if (kind == "dict") {
    const CIOSDictionary& dictionary = *actual.GetDictionary();
    std::vector<std::string> actualKeys;
    for (const auto& entry : dictionary.entries()) actualKeys.push_back(entry.first);
    std::vector<std::string> expectedKeys;
    for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
      expectedKeys.emplace_back(member->name.GetString(), member->name.GetStringLength());
    }
    std::sort(expectedKeys.begin(), expectedKeys.end());
    ASSERT_EQ(actualKeys, expectedKeys) << where;
    for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
      const std::string key(member->name.GetString(), member->name.GetStringLength());
      ExpectTree(*dictionary.Find(key), member->value, where + "/" + key);
    }
  } else {
    FAIL() << where << ": unknown kind " << kind;
  }
}

void ExpectTreeJson(const PlistVariant& actual, const std::string& json, const std::string& where) {
  rapidjson::Document expected;
  expected.Parse(json.c_str(), json.size());
  ASSERT_FALSE(expected.HasParseError()) << "bad expectation: " << json;
  ExpectTree(actual, expected, where);
}

// The marker that failing readers must leave in their output.
bool IsUntouched(const PlistVariant& value) {
  return value.GetString() != nullptr && *value.GetString() == "untouched";
}

std::string Plist(const std::string& body) { return "<plist version=\"1.0\">" + body + "</plist>"; }

// Exact equality of two trees (doubles bit for bit, so a NaN equals itself).
bool SameTree(const PlistVariant& a, const PlistVariant& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case PlistVariant::Type::kEmpty: return true;
    case PlistVariant::Type::kString: return *a.GetString() == *b.GetString();
    case PlistVariant::Type::kInt64: return *a.GetInt64() == *b.GetInt64();
    case PlistVariant::Type::kDouble: return std::memcmp(a.GetDouble(), b.GetDouble(), sizeof(double)) == 0;
    case PlistVariant::Type::kBool: return *a.GetBool() == *b.GetBool();
    case PlistVariant::Type::kArray:
      return std::equal(a.GetArray()->begin(), a.GetArray()->end(), b.GetArray()->begin(), b.GetArray()->end(),
                        SameTree);
    case PlistVariant::Type::kDictionary:
      return std::equal(
          a.GetDictionary()->entries().begin(), a.GetDictionary()->entries().end(),
          b.GetDictionary()->entries().begin(), b.GetDictionary()->entries().end(),
          [](const auto& x, const auto& y) { return x.first == y.first && SameTree(x.second, y.second); });
  }
  return false;
}

// The service's own reading of bytes, as it reads files on the PC.
bool ReadOwn(const std::string& bytes, PlistVariant* out) {
  TempFolder folder;
  return WriteFile(folder / "list.plist", bytes) && LoadPlistFile(folder / "list.plist", out);
}

// A binary list made here, byte by byte: the objects (each its marker and contents) in order, the
// offset table and the trailer.
std::string BinaryList(const std::vector<std::string>& objects, uint64_t top = 0, int offsetSize = 1, int refSize = 1,
                       uint64_t count = 0) {
  std::string bytes = "bplist00";
  std::vector<uint64_t> offsets;
  for (const std::string& object : objects) {
    offsets.push_back(bytes.size());
    bytes += object;
  }
  const uint64_t table = bytes.size();
  auto put = [&bytes](uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  for (uint64_t offset : offsets) put(offset, offsetSize);
  bytes.append(6, '\0');
  put(static_cast<uint64_t>(offsetSize), 1);
  put(static_cast<uint64_t>(refSize), 1);
  put(count != 0 ? count : objects.size(), 8);
  put(top, 8);
  put(table, 8);
  return bytes;
}

// The library reads a list's binary form straight into a tree: it must be the very tree that reading
// the library's own XML form of the list gives, or both must refuse it; the service's own reader
// of the binary form gives the same tree too.
void ExpectDirectReadingAsXml(const std::string& xml) {
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(xml.data(), xml.size());
  ASSERT_TRUE(list);
  BinaryPlistPtr binary = SerializePlist(list.get(), kCFPropertyListBinaryFormat_v1_0);
  BinaryPlistPtr xmlForm = SerializePlist(list.get(), kCFPropertyListXMLFormat_v1_0);
  ASSERT_TRUE(binary && xmlForm);
  PlistVariant direct(std::string("untouched"));
  PlistVariant throughXml(std::string("untouched"));
  const bool directRead = ParsePlistToVariant(binary->bytes, binary->length, &direct);
  const bool xmlRead =
      ParsePlistXmlToVariant(reinterpret_cast<const char*>(xmlForm->bytes), xmlForm->length, &throughXml);
  EXPECT_EQ(directRead, xmlRead);
  EXPECT_TRUE(SameTree(direct, throughXml));
  PlistVariant own(std::string("untouched"));
  EXPECT_EQ(ReadOwn(std::string(reinterpret_cast<const char*>(binary->bytes), binary->length), &own), directRead);
  EXPECT_TRUE(SameTree(own, direct));
}

// ---- The reading rules -----------------------------------------------------------------------

TEST(PlistXmlTree, FollowsTheReadingRules) {
  struct Case {
    const char* name;
    std::string xml;
    const char* tree;  // the wrapper array included
  } cases[] = {
      {"empty string in a dictionary leaves no entry",
       Plist("<dict><key>a</key><string></string><key>b</key><string>x</string><key>c</key><string/></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"b":{"t":"string","v":"x"}}}]})"},
      {"empty string in an array leaves no element", Plist("<array><string/><string>y</string></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"string","v":"y"}]}]})"},
      {"real dropped in a dictionary, kept in an array",
       Plist("<dict><key>r</key><real>1.5</real><key>a</key><array><real>-2.25</real></array></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"array","v":[{"t":"double","v":-2.25}]}}}]})"},
      {"date and data are text in a dictionary, dropped in an array",
       Plist("<dict><key>d</key><date>2021-03-04T05:06:07Z</date><key>b</key><data>AAEC</data>"
             "<key>a</key><array><date>2021-03-04T05:06:07Z</date><data>AAEC</data><true/></array></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"d":{"t":"string","v":"2021-03-04T05:06:07Z"},
           "b":{"t":"string","v":"AAEC"},"a":{"t":"array","v":[{"t":"bool","v":true}]}}}]})"},
      {"integers read as signed 64-bit decimals, saturating",
       Plist("<array><integer>42</integer><integer>-7</integer><integer>9223372036854775807</integer>"
             "<integer>-9223372036854775808</integer><integer>99999999999999999999</integer>"
             "<integer>-99999999999999999999</integer><integer> 12abc</integer><integer>x</integer>"
             "<integer></integer></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"int","v":42},{"t":"int","v":-7},
           {"t":"int","v":9223372036854775807},{"t":"int","v":-9223372036854775808},
           {"t":"int","v":9223372036854775807},{"t":"int","v":-9223372036854775808},
           {"t":"int","v":12},{"t":"int","v":0}]}]})"},
      {"reals read like atof", Plist("<array><real>6.25e2</real><real>-0.5</real><real>junk</real></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"double","v":625.0},{"t":"double","v":-0.5},
           {"t":"double","v":0.0}]}]})"},
      {"booleans", Plist("<array><true/><false/></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"bool","v":true},{"t":"bool","v":false}]}]})"},
      {"a later duplicate key wins", Plist("<dict><key>k</key><string>1</string><key>k</key><string>2</string></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"k":{"t":"string","v":"2"}}}]})"},
      {"a dropped later duplicate keeps the earlier value",
       Plist("<dict><key>k</key><string>1</string><key>k</key><real>2.0</real></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"k":{"t":"string","v":"1"}}}]})"},
      {"a key without text drops its pair",
       Plist("<dict><key></key><string>v</string><key>  </key><string>w</string><key>z</key><true/></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"z":{"t":"bool","v":true}}}]})"},
      {"the key's tag is not checked", Plist("<dict><string>name</string><integer>5</integer></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"name":{"t":"int","v":5}}}]})"},
      {"a key without a value adds nothing", Plist("<dict><key>a</key><true/><key>b</key></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"bool","v":true}}}]})"},
      {"unknown elements are dropped",
       Plist("<dict><key>a</key><foo>1</foo><key>b</key><array><foo/><integer>1</integer></array></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"b":{"t":"array","v":[{"t":"int","v":1}]}}}]})"},
      {"element names ignore case",
       "<PLIST><DICT><KEY>a</KEY><STRING>x</STRING><Key>b</Key><InTeGeR>3</InTeGeR><kEy>c</kEy><TRUE/>"
       "<key>d</key><Array><REAL>1</REAL></Array></DICT></PLIST>",
       R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"string","v":"x"},"b":{"t":"int","v":3},
           "c":{"t":"bool","v":true},"d":{"t":"array","v":[{"t":"double","v":1.0}]}}}]})"},
      {"an array with no surviving element is the empty value, still stored",
       Plist("<dict><key>a</key><array/><key>b</key><array><date>2020-01-01T00:00:00Z</date></array>"
             "<key>c</key><array><array/></array></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"empty"},"b":{"t":"empty"},
           "c":{"t":"array","v":[{"t":"empty"}]}}}]})"},
      {"a top-level array sits in the wrapper array", Plist("<array><string>s</string></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"string","v":"s"}]}]})"},
      {"a top-level real sits in the wrapper array", Plist("<real>2.5</real>"),
       R"({"t":"array","v":[{"t":"double","v":2.5}]})"},
      {"nothing under plist is the empty value", Plist(""), R"({"t":"empty"})"},
      {"a top-level date is dropped like any array element", Plist("<date>2020-01-01T00:00:00Z</date>"),
       R"({"t":"empty"})"},
      {"an empty dictionary", Plist("<dict/>"), R"({"t":"array","v":[{"t":"dict","v":{}}]})"},
      {"text keeps its blanks, tabs and line breaks",
       Plist("<array><string>  a  b\n\tc </string><string>   </string></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"string","v":"  a  b\n\tc "}]}]})"},
      {"entities and UTF-8",
       Plist("<array><string>&lt;&amp;&gt;&quot;&apos;&#x4E2D;\xC3\xA9\xF0\x9F\x98\x80</string></array>"),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"string","v":"<&>\"'\u4e2d\u00e9\ud83d\ude00"}]}]})"},
      {"declaration and doctype as the library writes them",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n\t<key>k</key>\n"
       "\t<integer>1</integer>\n</dict>\n</plist>\n",
       R"({"t":"array","v":[{"t":"dict","v":{"k":{"t":"int","v":1}}}]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlistVariant tree;
    ASSERT_TRUE(ParsePlistXmlToVariant(c.xml.data(), c.xml.size(), &tree));
    ExpectTreeJson(tree, c.tree, "");
  }
}

TEST(PlistXmlTree, DictionaryKeysAreInByteOrder) {
  const std::string xml = Plist(
      "<dict><key>b</key><true/><key>\xC3\xA9</key><true/><key>a</key><true/><key>Z</key><true/>"
      "<key>\x7F</key><true/></dict>");
  PlistVariant tree;
  ASSERT_TRUE(ParsePlistXmlToVariant(xml.data(), xml.size(), &tree));
  ASSERT_NE(tree.GetArray(), nullptr);
  const CIOSDictionary* dictionary = (*tree.GetArray())[0].GetDictionary();
  ASSERT_NE(dictionary, nullptr);
  std::vector<std::string> keys;
  for (const auto& entry : dictionary->entries()) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"Z", "a", "b", "\x7F", "\xC3\xA9"}));
}

TEST(PlistXmlTree, RefusesWhatIsNotAListAndListsNestedTooDeep) {
  auto nested = [](int depth) {
    std::string xml = "<plist>";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    xml += "<true/>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>";
  };
  struct Case {
    const char* name;
    std::string xml;
    bool accepted;
  } cases[] = {
      {"no plist element", "<dict><key>a</key><true/></dict>", false},
      {"not XML", "\x01\x02 garbage", false},
      {"empty", "", false},
      {"nested 500 levels", nested(500), true},
      {"nested 600 levels", nested(600), false},
      {"nested 100000 levels", nested(100000), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlistVariant tree(std::string("untouched"));
    EXPECT_EQ(ParsePlistXmlToVariant(c.xml.data(), c.xml.size(), &tree), c.accepted);
    if (!c.accepted) {
      EXPECT_TRUE(IsUntouched(tree));
    }
  }
}

// ---- Through the library ---------------------------------------------------------------------

class PlistLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::BindSimulatedLibrary()); }
};

TEST_F(PlistLibraryTest, GeneratedTreesAgreeWithPlistlib) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  constexpr int kCases = 80;
  int status = -1;
  ShellOutput(Python() + " " + ShellQuote(ToolPath("plist_fixture.py")) + " generate --seed 20240611 --count " +
                  std::to_string(kCases) + " --out " + ShellQuote(folder.path()),
              &status);
  ASSERT_EQ(status, 0);

  std::string comparePairs;
  for (int i = 0; i < kCases; ++i) {
    char stem[32];
    std::snprintf(stem, sizeof(stem), "case_%03d", i);
    SCOPED_TRACE(stem);
    const std::string xml = ReadFile(folder / (std::string(stem) + ".xml"));
    const std::string binary = ReadFile(folder / (std::string(stem) + ".bin"));
    const std::string json = ReadFile(folder / (std::string(stem) + ".json"));
    ASSERT_FALSE(xml.empty());
    ASSERT_EQ(binary.compare(0, 8, "bplist00"), 0);
    rapidjson::Document expected;
    expected.Parse(json.c_str(), json.size());
    ASSERT_FALSE(expected.HasParseError());

    // Both forms read into the tree the rules give, through the library and through the service's
    // own reader of files; the binary form gives the library's very tree.
    for (const std::string* form : {&binary, &xml}) {
      PlistVariant tree;
      ASSERT_TRUE(ParsePlistToVariant(reinterpret_cast<const uint8_t*>(form->data()), form->size(), &tree));
      ExpectTree(tree, expected["tree"], form == &binary ? "binary" : "xml");
      PlistVariant own;
      ASSERT_TRUE(ReadOwn(*form, &own));
      ExpectTree(own, expected["tree"], form == &binary ? "own binary" : "own xml");
      if (form == &binary) {
        EXPECT_TRUE(SameTree(own, tree));
      }
    }

    ExpectDirectReadingAsXml(xml);

    // The first value of the top-level dictionary, where its text is not the library's to choose.
    if (expected["first"].IsString()) {
      EXPECT_EQ(GetFirstPlistValue(reinterpret_cast<const uint8_t*>(binary.data()), binary.size()),
                std::string(expected["first"].GetString(), expected["first"].GetStringLength()));
    }

    // XML to binary, checked by plistlib below.
    BinaryPlistPtr converted = XmlPlistToBinary(xml);
    ASSERT_TRUE(converted);
    ASSERT_GT(converted->length, 8u);
    const std::string out(reinterpret_cast<const char*>(converted->bytes), converted->length);
    EXPECT_EQ(out.compare(0, 8, "bplist00"), 0);
    const std::string outPath = folder / (std::string(stem) + ".out.bin");
    ASSERT_TRUE(WriteFile(outPath, out));
    comparePairs += " " + ShellQuote(folder / (std::string(stem) + ".bin")) + " " + ShellQuote(outPath);
  }
  const std::string differences =
      ShellOutput(Python() + " " + ShellQuote(ToolPath("plist_fixture.py")) + " compare" + comparePairs, &status);
  EXPECT_EQ(status, 0) << differences;
}

TEST_F(PlistLibraryTest, DirectReadingKeepsTheXmlReadingsEdges) {
  auto nested = [](int depth, const std::string& leaf) {
    std::string body;
    for (int i = 0; i < depth; ++i) body += "<array>";
    body += leaf;
    for (int i = 0; i < depth; ++i) body += "</array>";
    return Plist(body);
  };
  const std::string cases[] = {
      // blanks alone, control characters, a character reference, blank and empty keys
      Plist("<dict><key>a</key><string> \t\n</string><key>b</key><string>&#13;x&#1;</string>"
            "<key> </key><string>k</string><key></key><string>e</string><key>c</key><string> y </string></dict>"),
      // data at several depths (base64 lines and indents), empty data, dates of far years
      Plist("<dict><key>d</key><data>" + std::string(200, 'A') +
            "</data><key>e</key><data></data>"
            "<key>n</key><dict><key>m</key><dict><key>x</key><data>AAECAwQF</data></dict></dict>"
            "<key>t</key><date>0001-01-01T00:00:00Z</date><key>u</key><date>9999-12-31T23:59:59Z</date>"
            "<key>v</key><date>1969-07-20T20:17:40Z</date></dict>"),
      // integers past the int64 range, reals, and empty containers
      Plist(
          "<array><integer>18446744073709551615</integer><integer>-9223372036854775808</integer>"
          "<real>0.1</real><real>-0.0</real><real>1e300</real><array/><dict/><array><data>AA==</data></array></array>"),
      // the dictionary a keyed archive writes for a UID in XML
      Plist("<dict><key>CF$UID</key><integer>3</integer></dict>"),
      // top-level values that the rules drop or keep
      Plist("<date>2020-02-29T12:00:00Z</date>"),
      Plist("<real>2.5</real>"),
      Plist("<string>   </string>"),
      // at the nesting limit and past it
      nested(509, "<string>deep</string>"),
      nested(510, "<string>deep</string>"),
      nested(511, "<true/>"),
  };
  for (const std::string& xml : cases) {
    SCOPED_TRACE(xml.substr(0, 200));
    ExpectDirectReadingAsXml(xml);
  }
}

TEST_F(PlistLibraryTest, XmlToBinaryRefusesTextThatIsNotAList) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"plain text", "hello"},
      {"unclosed", "<plist version=\"1.0\"><dict><key>a</key>"},
      {"binary bytes", std::string("bplist00\x01\x02\x03", 11)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(XmlPlistToBinary(c.text));
    EXPECT_FALSE(CreatePlistFromXml(c.text.data(), c.text.size()));
  }
  EXPECT_FALSE(SerializePlist(nullptr, kCFPropertyListBinaryFormat_v1_0));
}

TEST_F(PlistLibraryTest, ParseRefusesBytesTheLibraryRejects) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "not a property list"},
      {"truncated binary", std::string("bplist00\xD1\x01\x02", 11)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlistVariant tree(std::string("untouched"));
    EXPECT_FALSE(ParsePlistToVariant(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), &tree));
    EXPECT_TRUE(IsUntouched(tree));
    EXPECT_EQ(GetFirstPlistValue(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), "");
  }
}

// A first value far longer than 64 KiB arrives whole (and the sanitizer build would catch any write
// past a buffer).
TEST_F(PlistLibraryTest, FirstValueCases) {
  std::string longText(100000, 'v');
  longText[0] = 'A';
  longText.back() = 'Z';
  struct Case {
    const char* name;
    std::string xml;
    std::string first;
  } cases[] = {
      {"string", Plist("<dict><key>Status</key><string>Complete</string></dict>"), "Complete"},
      {"smallest key first", Plist("<dict><key>b</key><string>2</string><key>a</key><integer>1</integer></dict>"), "1"},
      {"far beyond 64 KiB",
       Plist("<dict><key>a</key><string>" + longText + "</string><key>b</key><string>" + std::string(70000, 'w') +
             "</string></dict>"),
       longText},
      {"a dictionary value has no text", Plist("<dict><key>a</key><dict><key>x</key><string>y</string></dict></dict>"),
       ""},
      {"empty dictionary", Plist("<dict/>"), ""},
      {"top-level array", Plist("<array><string>x</string><string>y</string></array>"), "y"},
      {"top-level string", Plist("<string>x</string>"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetFirstPlistValue(reinterpret_cast<const uint8_t*>(c.xml.data()), c.xml.size()), c.first);
    BinaryPlistPtr binary = XmlPlistToBinary(c.xml);
    ASSERT_TRUE(binary);
    EXPECT_EQ(GetFirstPlistValue(binary->bytes, binary->length), c.first);
  }
}

TEST_F(PlistLibraryTest, LoadPlistFile) {
  TempFolder folder;
  const std::string xml = Plist("<dict><key>Name</key><string>Zo\xC3\xAB</string></dict>");
  BinaryPlistPtr binary = XmlPlistToBinary(xml);
  ASSERT_TRUE(binary);
  ASSERT_TRUE(
      WriteFile(folder / "list.bin", std::string(reinterpret_cast<const char*>(binary->bytes), binary->length)));
  ASSERT_TRUE(WriteFile(folder / "empty.plist", ""));
  ASSERT_TRUE(WriteFile(folder / "text.plist", "nothing"));

  PlistVariant tree;
  ASSERT_TRUE(LoadPlistFile(folder / "list.bin", &tree));
  ExpectTreeJson(tree, R"({"t":"array","v":[{"t":"dict","v":{"Name":{"t":"string","v":"Zo\u00eb"}}}]})", "");
  for (const char* name : {"missing.plist", "empty.plist", "text.plist"}) {
    SCOPED_TRACE(name);
    PlistVariant untouched(std::string("untouched"));
    EXPECT_FALSE(LoadPlistFile(folder / name, &untouched));
    EXPECT_TRUE(IsUntouched(untouched));
  }
  PlistVariant folderTree;
  EXPECT_FALSE(LoadPlistFile(folder.path(), &folderTree));
}

// A list serialised in the XML form reads back into the same tree.
TEST_F(PlistLibraryTest, SerializePlistWritesTheXmlForm) {
  const std::string xml =
      Plist("<dict><key>Name</key><string>Zo\xC3\xAB</string><key>N</key><integer>7</integer></dict>");
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(xml.data(), xml.size());
  ASSERT_TRUE(list);
  BinaryPlistPtr text = SerializePlist(list.get(), kCFPropertyListXMLFormat_v1_0);
  ASSERT_TRUE(text);
  PlistVariant tree;
  ASSERT_TRUE(ParsePlistXmlToVariant(reinterpret_cast<const char*>(text->bytes), text->length, &tree));
  ExpectTreeJson(
      tree, R"({"t":"array","v":[{"t":"dict","v":{"Name":{"t":"string","v":"Zo\u00eb"},"N":{"t":"int","v":7}}}]})", "");
}

// Binary lists made byte by byte: what the service's own reader takes, and every broken or hostile
// document refused without a read outside its bytes (the sanitizer build checks that).
TEST(PlistOwnReader, ReadsBinaryListsAndRefusesBrokenOnes) {
  const std::string kDict = "\xD1\x01\x02";  // {object 1: object 2}
  std::string deepPairs;  // thirty arrays, each holding the next one twice: 2^30 values in all
  std::vector<std::string> pairs;
  for (int i = 0; i < 30; ++i) pairs.push_back(std::string("\xA2", 1) + char(i + 1) + char(i + 1));
  pairs.push_back("\x09");
  std::string intoMagic = BinaryList({"\x09"});
  intoMagic[9] = '\x03';  // the offset table's one entry
  struct Case {
    const char* name;
    std::string bytes;
    const char* tree;  // null: refused
  } cases[] = {
      {"a keyed archive's reference", BinaryList({kDict, "\x51" "a", "\x80\x03"}),
       R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"dict","v":{"CF$UID":{"t":"int","v":3}}}}}]})"},
      {"UTF-16 text and integers of every size",
       BinaryList({std::string("\xA5\x01\x02\x03\x04\x05", 6), std::string("\x62\x00\xE9\x00\x21", 5),
                   "\x10\xFF", std::string("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 9),
                   std::string("\x14\x00\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 17),
                   std::string("\x22\x3F\xC0\x00\x00", 5)}),
       R"({"t":"array","v":[{"t":"array","v":[{"t":"string","v":"\u00e9!"},{"t":"int","v":255},{"t":"int","v":-2},
           {"t":"int","v":9223372036854775807},{"t":"double","v":1.5}]}]})"},
      {"a count in the integer after the marker",
       BinaryList({std::string("\x5F\x10\x03" "abc", 6)}), R"({"t":"array","v":[{"t":"string","v":"abc"}]})"},
      {"an array that holds itself", BinaryList({std::string("\xA1\x00", 2)}), nullptr},
      {"values without end through shared arrays", BinaryList(pairs), nullptr},
      {"a reference past the objects", BinaryList({"\xA1\x05"}), nullptr},
      {"a count past the document", BinaryList({"\x5F\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"}), nullptr},
      {"text running into the offset table", BinaryList({"\x58" "ab"}), nullptr},
      {"a key that is no text", BinaryList({kDict, "\x10\x05", "\x09"}), nullptr},
      {"a null object", BinaryList({std::string("\x00", 1)}), nullptr},
      {"a set", BinaryList({"\xC1\x01", "\x09"}), nullptr},
      {"the top object past the count", BinaryList({"\x09"}, 1), nullptr},
      {"more objects than the offset table holds", BinaryList({"\x09"}, 0, 1, 1, 1000), nullptr},
      {"offsets of no size", BinaryList({"\x09"}, 0, 0), nullptr},
      {"references of nine bytes", BinaryList({"\x09"}, 0, 1, 9), nullptr},
      {"only the magic and a short trailer", std::string("bplist00") + std::string(20, '\0'), nullptr},
      {"an offset into the magic", intoMagic, nullptr},
      {"well-formed XML", Plist("<dict><key>k</key><string>v</string></dict>"),
       R"({"t":"array","v":[{"t":"dict","v":{"k":{"t":"string","v":"v"}}}]})"},
      {"broken XML", Plist("<dict><key>k</key><string>v</dict>"), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlistVariant tree(std::string("untouched"));
    const bool read = ReadOwn(c.bytes, &tree);
    EXPECT_EQ(read, c.tree != nullptr);
    if (c.tree != nullptr) {
      ExpectTreeJson(tree, c.tree, "");
    } else {
      EXPECT_TRUE(IsUntouched(tree));
    }
  }
}

// Before the library is bound no call reaches an empty slot: bytes are read by the service's own
// reader, and what would make library objects gives null.
TEST(PlistOwnReader, WithoutTheLibraryNothingReachesTheBinding) {
  test::ExpectInFreshProcess(
      [] {
        if (CMobileExportFun::GetInstance().IsLoaded()) return 10;
        const std::string xml = Plist("<dict><key>Name</key><string>x</string></dict>");
        const std::string binary = BinaryList({"\xD1\x01\x02", "\x54Name", "\x51x"});
        for (const std::string* bytes : {&xml, &binary}) {
          PlistVariant tree;
          if (!ParsePlistToVariant(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), &tree)) return 11;
          const CIOSDictionary* top = tree.GetArray() ? (*tree.GetArray())[0].GetDictionary() : nullptr;
          const PlistVariant* name = top ? top->Find("Name") : nullptr;
          if (name == nullptr || name->GetString() == nullptr || *name->GetString() != "x") return 12;
        }
        if (CreatePlistFromXml(xml.data(), xml.size()) || XmlPlistToBinary(xml) ||
            CreatePlistFromBytes(reinterpret_cast<const uint8_t*>(binary.data()), binary.size())) {
          return 13;
        }
        if (GetFirstPlistValue(reinterpret_cast<const uint8_t*>(binary.data()), binary.size()) != "") return 14;
        return 0;
      },
      0);
}

// The library reads the reference of a keyed archive through its XML form; the service's own reader
// of the binary document gives that same tree.
TEST_F(PlistLibraryTest, OwnReaderOfAKeyedArchiveReferenceAgreesWithTheLibrary) {
  const std::string binary = BinaryList({"\xD2\x01\x02\x03\x04", "\x51" "a", "\x51" "b", "\x81\x01\x02",
                                         "\xA1\x03"});
  PlistVariant library;
  ASSERT_TRUE(ParsePlistToVariant(reinterpret_cast<const uint8_t*>(binary.data()), binary.size(), &library));
  PlistVariant own;
  ASSERT_TRUE(ReadOwn(binary, &own));
  EXPECT_TRUE(SameTree(own, library));
  ExpectTreeJson(own, R"({"t":"array","v":[{"t":"dict","v":{"a":{"t":"dict","v":{"CF$UID":{"t":"int","v":258}}},
      "b":{"t":"array","v":[{"t":"dict","v":{"CF$UID":{"t":"int","v":258}}}]}}}]})", "");
}

}  // namespace
}  // namespace hlx
