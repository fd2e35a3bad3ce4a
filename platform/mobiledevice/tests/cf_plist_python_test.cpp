// Differential test against Python's plistlib, both directions: plistlib writes seeded random trees
// (and fixed edge cases) as XML and binary; the library reads both, checks they are the same value,
// and writes each tree back as XML and binary; plistlib then reads the library's files and compares
// them with its original tree, and the XML must match plistlib's own XML byte for byte.
#include "cf_test_support.h"

#include <string>

namespace {

using namespace cf::test;

class CFPlistlibDifferential : public CFTest, public ::testing::WithParamInterface<int> {};

TEST_P(CFPlistlibDifferential, TreesRoundTripThroughBothFormats) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ScriptResult generated = RunFixtureScript(
      {"generate", "--seed", std::to_string(GetParam()), "--count", "40", "--dir", dir.path().string()});
  ASSERT_EQ(generated.exitStatus, 0) << generated.output;
  const int count = std::stoi(generated.output);
  ASSERT_GT(count, 40);

  for (int i = 0; i < count; ++i) {
    const auto binaryPath = dir.path() / ("case_" + std::to_string(i) + ".bin");
    const auto xmlPath = dir.path() / ("case_" + std::to_string(i) + ".xml");
    CFPropertyListFormat format = 0;
    auto fromBinary = Parse(ReadFile(binaryPath), kCFPropertyListImmutable, &format);
    ASSERT_TRUE(fromBinary) << binaryPath;
    EXPECT_EQ(format, kCFPropertyListBinaryFormat_v1_0);

    const std::string binary = WriteToStream(fromBinary.get(), kCFPropertyListBinaryFormat_v1_0);
    ASSERT_FALSE(binary.empty()) << binaryPath;
    WriteFile(dir.path() / ("out_" + std::to_string(i) + ".bin"), binary);

    if (!std::filesystem::exists(xmlPath)) continue;  // trees with UIDs have no XML form
    auto fromXml = Parse(ReadFile(xmlPath), kCFPropertyListImmutable, &format);
    ASSERT_TRUE(fromXml) << xmlPath;
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    EXPECT_TRUE(HLXCFEqual(fromXml.get(), fromBinary.get())) << "XML and binary of case " << i << " differ";
    // The XML written from the tree read as XML; the binary above came from the tree read as binary.
    const std::string xml = WriteToStream(fromXml.get(), kCFPropertyListXMLFormat_v1_0);
    ASSERT_FALSE(xml.empty()) << xmlPath;
    WriteFile(dir.path() / ("out_" + std::to_string(i) + ".xml"), xml);
  }

  const ScriptResult checked =
      RunFixtureScript({"check", "--dir", dir.path().string(), "--count", std::to_string(count)});
  EXPECT_EQ(checked.exitStatus, 0) << checked.output;
  EXPECT_NE(checked.output.find("0 mismatches"), std::string::npos) << checked.output;
}

INSTANTIATE_TEST_SUITE_P(CFSeeds, CFPlistlibDifferential, ::testing::Values(1, 20240607, 987654321));

}  // namespace
