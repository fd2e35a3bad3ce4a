// The XML property-list reader and writer: the service's own message templates (read and turned
// into the binary form it sends, checked by plistlib), tolerance for what XML allows, refusal of
// everything malformed, the writer's key order, escaping and date text.
#include "cf_test_support.h"

#include <limits>
#include <string>
#include <vector>

namespace {

using namespace cf::test;

class CFXmlPlist : public CFTest {};

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kDoctype =
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
const std::string kDoctypeNoBlank =
    "<!DOCTYPEplist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
const std::string kDoctypeSpacedId =
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0// EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";

std::string Document(const std::string& body) { return kDeclaration + kDoctype + body; }

// What plistlib makes of the binary form the library produces from `xml` (the service's
// XML-to-binary conversion), or a marker when a step fails.
std::string ViaBinary(const std::string& xml) {
  auto list = Parse(xml);
  if (!list) return "<refused>";
  const std::string binary = WriteToStream(list.get(), kCFPropertyListBinaryFormat_v1_0);
  if (binary.empty()) return "<not written>";
  return PlistlibView(binary);
}

TEST_F(CFXmlPlist, ServiceTemplatesBecomeTheBinaryMessagesTheyDescribe) {
  const struct {
    const char* name;
    std::string text;
    const char* expected;
  } cases[] = {
      // clang-format off
      {"options, DOCTYPE without a blank",
       kDeclaration + kDoctypeNoBlank + "<plist version=\"1.0\"><dict><key>UnlockEscrowBag</key><true/></dict></plist>",
       "{'UnlockEscrowBag': True}"},
      {"version ok",
       Document("<plist version=\"1.0\"><array><string>DLMessageVersionExchange</string><string>DLVersionsOk</string>"
                "<integer>300</integer></array></plist>"),
       "['DLMessageVersionExchange', 'DLVersionsOk', 300]"},
      {"hello",
       Document("<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict><key>MessageName</key>"
                "<string>Hello</string><key>SupportedProtocolVersions</key><array><integer>2</integer>"
                "<real>2.100000000000000</real></array></dict></array></plist>"),
       "['DLMessageProcessMessage', {'MessageName': 'Hello', 'SupportedProtocolVersions': [2, 2.1]}]"},
      {"backup, DOCTYPE without a blank",
       kDeclaration + kDoctypeNoBlank +
           "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict><key>MessageName</key>"
           "<string>Backup</string><key>TargetIdentifier</key><string>0123abcd</string></dict></array></plist>",
       "['DLMessageProcessMessage', {'MessageName': 'Backup', 'TargetIdentifier': '0123abcd'}]"},
      {"multi status",
       Document("<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>-13</integer>"
                "<string>Multi status</string><dict><key>/a/b</key><dict><key>DLFileErrorCode</key><integer>-6</integer>"
                "<key>DLFileErrorString</key><string>No such file or directory</string></dict></dict></array></plist>"),
       "['DLMessageStatusResponse', -13, 'Multi status', {'/a/b': {'DLFileErrorCode': -6, 'DLFileErrorString': "
       "'No such file or directory'}}]"},
      {"empty dictionary status",
       Document("<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>0</integer>"
                "<string>___EmptyParameterString___</string><dict></dict></array></plist>"),
       "['DLMessageStatusResponse', 0, '___EmptyParameterString___', {}]"},
      {"free space",
       Document("<plist version=\"1.0\"><array><string>DLMessageStatusResponse</string><integer>0</integer>"
                "<string>___EmptyParameterString___</string><integer>9223372036854775807</integer></array></plist>"),
       "['DLMessageStatusResponse', 0, '___EmptyParameterString___', 9223372036854775807]"},
      {"restore, spaced public identifier",
       kDeclaration + kDoctypeSpacedId +
           "<plist version=\"1.0\"><array><string>DLMessageProcessMessage</string><dict><key>MessageName</key>"
           "<string>Restore</string><key>Options</key><dict><key>RestoreDontCopyBackup</key><true/></dict>"
           "<key>SourceIdentifier</key><string></string><key>TargetIdentifier</key><string></string></dict></array></plist>",
       "['DLMessageProcessMessage', {'MessageName': 'Restore', 'Options': {'RestoreDontCopyBackup': True}, "
       "'SourceIdentifier': '', 'TargetIdentifier': ''}]"},
      {"power assertion",
       Document("<plist version=\"1.0\"><dict><key>Command</key><string>PowerAssertion</string><key>Params</key>"
                "<dict><key>Enabled</key><true/></dict><key>Session</key><integer>0</integer></dict></plist>"),
       "{'Command': 'PowerAssertion', 'Params': {'Enabled': True}, 'Session': 0}"},
  };
  for (const auto& c : cases) EXPECT_EQ(ViaBinary(c.text), c.expected) << c.name;
}

TEST_F(CFXmlPlist, ReaderAcceptsWhatXmlAllows) {
  const struct {
    const char* name;
    std::string text;
    const char* expected;
  } cases[] = {
      {"whitespace, comments and instructions between elements",
       "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- c -->\r\n" + kDoctype +
           "\n<plist version='1.0'>\n\t<!-- c --><?pi x?>\n\t<dict>\n\t\t<key>a</key>\n\t\t<integer> 12 </integer>\n"
           "\t</dict>\n</plist>\n<!-- after -->\n",
       "{'a': 12}"},
      {"entities, character references, CDATA and comments inside text",
       "<plist><string>&lt;&amp;&gt;&quot;&apos;&#65;&#x42;&#x1F600;<![CDATA[<raw>&amp;]]>x<!-- gone -->y</string></plist>",
       "'<&>\"\\'AB\\U0001f600<raw>&amp;xy'"},
      {"line ends normalised, a character reference keeps a carriage return",
       "<plist><string>a\r\nb\rc&#13;d</string></plist>", "'a\\nb\\nc\\rd'"},
      {"empty elements", "<plist><array><string/><dict/><array/><true></true><false/><data></data></array></plist>",
       "['', {}, [], True, False, b'']"},
      {"a bare value as the root", "<dict><key>k</key><string>v</string></dict>", "{'k': 'v'}"},
      {"trailing NUL terminator", std::string("<plist><integer>5</integer></plist>\0", 35), "5"},
      {"integers: signs, hexadecimal, the unsigned range",
       "<plist><array><integer>+7</integer><integer>-9223372036854775808</integer><integer>0x1F</integer>"
       "<integer>18446744073709551615</integer></array></plist>",
       "[7, -9223372036854775808, 31, 18446744073709551615]"},
      {"reals: exponent, infinity, overflow to infinity",
       "<plist><array><real>1e3</real><real>-inf</real><real>1e400</real><real>+0.5</real><real>1e-400</real></array></plist>",
       "[1000.0, -inf, inf, 0.5, 0.0]"},
      {"base64 with line breaks and without padding", "<plist><data>\n\tAAEC\n\tAw\n</data></plist>", "b'\\x00\\x01\\x02\\x03'"},
      {"date with a fraction of a second", "<plist><date>2020-01-02T03:04:05.75Z</date></plist>",
       "datetime.datetime(2020, 1, 2, 3, 4, 5, 750000)"},
      {"a repeated key: the later value wins", "<plist><dict><key>k</key><integer>1</integer><key>k</key><integer>2</integer></dict></plist>",
       "{'k': 2}"},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(ViaBinary(c.text), c.expected) << c.name;
}

TEST_F(CFXmlPlist, ReaderRefusesMalformedDocuments) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"only a prolog", kDeclaration + kDoctype},
      {"empty plist element", "<plist/>"},
      {"empty plist content", "<plist></plist>"},
      {"missing end tag", "<plist><dict><key>a</key><string>b</string></dict>"},
      {"mismatched end tag", "<plist><array></dict></plist>"},
      {"unknown element", "<plist><set/></plist>"},
      {"key without a value", "<plist><dict><key>a</key></dict></plist>"},
      {"value without a key", "<plist><dict><string>a</string></dict></plist>"},
      {"stray text in a container", "<plist><array>x<integer>1</integer></array></plist>"},
      {"element inside a string", "<plist><string>a<b/>c</string></plist>"},
      {"two values in plist", "<plist><true/><false/></plist>"},
      {"content after the root", "<plist><true/></plist><plist><true/></plist>"},
      {"text in a boolean", "<plist><true>yes</true></plist>"},
      {"integer above 2^64-1", "<plist><integer>18446744073709551616</integer></plist>"},
      {"integer below -2^63", "<plist><integer>-9223372036854775809</integer></plist>"},
      {"integer with junk", "<plist><integer>12abc</integer></plist>"},
      {"empty integer", "<plist><integer></integer></plist>"},
      {"real with junk", "<plist><real>1.5x</real></plist>"},
      {"real with two signs", "<plist><real>+-1</real></plist>"},
      {"month 13", "<plist><date>2020-13-01T00:00:00Z</date></plist>"},
      {"29 February of a common year", "<plist><date>2021-02-29T00:00:00Z</date></plist>"},
      {"date without Z", "<plist><date>2021-02-01T00:00:00</date></plist>"},
      {"base64 dangling character", "<plist><data>AAECA</data></plist>"},
      {"base64 padding inside", "<plist><data>AB=CAAAA</data></plist>"},
      {"base64 foreign character", "<plist><data>AA*C</data></plist>"},
      {"unknown entity", "<plist><string>&nbsp;</string></plist>"},
      {"surrogate character reference", "<plist><string>&#xD800;</string></plist>"},
      {"unterminated entity", "<plist><string>&amp</string></plist>"},
      {"invalid UTF-8", "<plist><string>\xC3\x28</string></plist>"},
      {"invalid UTF-8 in a key", "<plist><dict><key>\xFF</key><true/></dict></plist>"},
      {"unterminated comment", "<plist><!-- <true/></plist>"},
      {"unterminated doctype", "<!DOCTYPE plist [ <plist><true/></plist>"},
      {"unquoted attribute", "<plist version=1.0><true/></plist>"},
      {"unsupported binary version", "bplist01rest of the data"},
  };
  for (const auto& c : cases) {
    CFStringRef error = nullptr;
    auto data = DataOf(c.text);
    auto list = Own(CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, &error));
    EXPECT_FALSE(list) << c.name;
    EXPECT_NE(error, nullptr) << c.name;
    if (error != nullptr) CFRelease(error);
  }
}

TEST_F(CFXmlPlist, EveryTruncationOfADocumentIsRefused) {
  const std::string text = Document(
      "<plist version=\"1.0\"><dict><key>a&amp;b</key><array><integer>-5</integer><real>2.5</real>"
      "<data>AAEC</data><date>2011-05-06T07:08:09Z</date><string>t<![CDATA[x]]></string><true/>"
      "</array></dict></plist>");
  const size_t rootEnd = text.size();
  for (size_t length = 0; length < rootEnd; ++length) {
    EXPECT_FALSE(Parse(text.substr(0, length))) << "prefix of " << length << " bytes";
  }
  EXPECT_TRUE(Parse(text));
}

std::string NestedArrays(size_t levels) {
  std::string text = "<plist>";
  for (size_t i = 0; i < levels; ++i) text += "<array>";
  for (size_t i = 0; i < levels; ++i) text += "</array>";
  return text + "</plist>";
}

TEST_F(CFXmlPlist, NestingIsBoundedAt512Levels) {
  EXPECT_TRUE(Parse(NestedArrays(500)));
  EXPECT_FALSE(Parse(NestedArrays(600)));
  EXPECT_FALSE(Parse(NestedArrays(100000)));  // refused, not a stack overflow
}

TEST_F(CFXmlPlist, ImmutableUnlessAskedForMutableContainers) {
  HLXCFSetStrictMode(0);  // the refused change would abort in strict mode
  const std::string text = "<plist><dict><key>a</key><array/></dict></plist>";
  CFPropertyListFormat format = 0;
  auto fixed = Parse(text, kCFPropertyListImmutable, &format);
  EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
  auto changeable = Parse(text, kCFPropertyListMutableContainers);
  auto key = Str("b");
  CFDictionaryAddValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(fixed.get())), key.get(), key.get());
  CFDictionaryAddValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(changeable.get())), key.get(), key.get());
  EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(fixed.get())), 1);
  EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(changeable.get())), 2);
  HLXCFSetStrictMode(1);
}

// The <key> texts of an XML document, in document order.
std::vector<std::string> KeyLines(const std::string& xml) {
  std::vector<std::string> keys;
  size_t at = 0;
  while ((at = xml.find("<key>", at)) != std::string::npos) {
    const size_t end = xml.find("</key>", at);
    keys.push_back(xml.substr(at + 5, end - at - 5));
    at = end;
  }
  return keys;
}

TEST_F(CFXmlPlist, WriterSortsKeysByTheirBytes) {
  const struct {
    std::vector<std::string> inserted;
    std::vector<std::string> written;
  } cases[] = {
      {{"b", "a", "c"}, {"a", "b", "c"}},
      {{"a", "B", "A", "b"}, {"A", "B", "a", "b"}},
      {{"ab", "a", "", "a b"}, {"", "a", "a b", "ab"}},
      {{"\xC3\xA9", "z", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "~"},
       {"z", "~", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"}},
      {{"Session", "Command", "Params"}, {"Command", "Params", "Session"}},
  };
  for (const auto& c : cases) {
    auto dictionary = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    for (const auto& text : c.inserted) {
      auto key = Own(HLXCFStringCreateWithUTF8(text.data(), text.size()));
      CFDictionaryAddValue(dictionary.get(), key.get(), kCFBooleanTrue);
    }
    auto xml = Own(CFPropertyListCreateXMLData(nullptr, dictionary.get()));
    EXPECT_EQ(KeyLines(BytesOf(xml.get())), c.written);
  }
}

TEST_F(CFXmlPlist, WriterLayoutForValuesPythonCannotMake) {
  auto array = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  const float tenth = 0.1f;
  auto single = Own(HLXCFNumberCreate(kCFNumberFloat32Type, &tenth));
  // clang-format off
  auto text = Own(HLXCFStringCreateWithUTF8("a\rb\x01" "c\0d&<>", 10));
  // clang-format on
  auto fraction = Own(CFDateCreate(nullptr, 0.75));
  auto beforeEpoch = Own(CFDateCreate(nullptr, -0.5));
  auto uid = Own(HLXCFUIDCreate(7));
  for (CFTypeRef value :
       {static_cast<CFTypeRef>(single.get()), static_cast<CFTypeRef>(text.get()),
        static_cast<CFTypeRef>(fraction.get()), static_cast<CFTypeRef>(beforeEpoch.get()), uid.get()}) {
    CFArrayAppendValue(array.get(), value);
  }
  auto xml = Own(CFPropertyListCreateXMLData(nullptr, array.get()));
  EXPECT_EQ(
      BytesOf(xml.get()),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n"
      "<array>\n"
      "\t<real>0.10000000149011612</real>\n"
      "\t<string>a&#13;b&#1;c&#0;d&amp;&lt;&gt;</string>\n"
      "\t<date>2001-01-01T00:00:00Z</date>\n"
      "\t<date>2000-12-31T23:59:59Z</date>\n"
      "\t<dict>\n"
      "\t\t<key>CF$UID</key>\n"
      "\t\t<integer>7</integer>\n"
      "\t</dict>\n"
      "</array>\n"
      "</plist>\n");
  // What the writer escapes, the reader restores.
  auto back = Parse(BytesOf(xml.get()));
  ASSERT_TRUE(back);
  // clang-format off
  EXPECT_EQ(Utf8Of(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(back.get()), 1)), std::string("a\rb\x01" "c\0d&<>", 10));
  // clang-format on
}

TEST_F(CFXmlPlist, WriterRefusesWhatAPropertyListCannotHold) {
  auto path = Str("/tmp");
  auto url = Own(CFURLCreateWithFileSystemPath(nullptr, path.get(), 0, 0));
  auto withUrl = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  CFArrayAppendValue(withUrl.get(), url.get());

  auto numberKey = Own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto one = Own(HLXCFNumberCreateInt64(1));
  CFDictionaryAddValue(numberKey.get(), one.get(), one.get());

  auto farFuture = Own(CFDateCreate(nullptr, 1e12));
  auto notANumberDate = Own(CFDateCreate(nullptr, std::numeric_limits<double>::quiet_NaN()));

  auto cycle = Own(CFArrayCreateMutable(nullptr, 0, nullptr));
  CFArrayAppendValue(cycle.get(), cycle.get());

  const struct {
    const char* name;
    CFTypeRef list;
  } cases[] = {
      // clang-format off
      {"URL", withUrl.get()}, {"number key", numberKey.get()}, {"year beyond 9999", farFuture.get()},
      {"NaN date", notANumberDate.get()}, {"cycle", cycle.get()}, {"null", nullptr},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, c.list), nullptr) << c.name;
    EXPECT_EQ(WriteToStream(c.list, kCFPropertyListXMLFormat_v1_0), "") << c.name;
  }
  CFArrayRemoveValueAtIndex(cycle.get(), 0);  // break the reference cycle so that it can be freed
}

}  // namespace
