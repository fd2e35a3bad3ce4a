// The base library's portable cores: version comparison, size texts, the user-defaults store and the
// report zip (checked with Python's zipfile and the unzip tool).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "python_check.h"
#include "vnl_defaults_store.h"
#include "vnl_size_text.h"
#include "vnl_stored_zip.h"
#include "vnl_version.h"

TEST(VornelVersion, ComparesDottedNumbersPartByPart) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    // clang-format off
    const Case cases[] = {
        {"2.6.21", "2.6.21", 0}, {"2.6.21", "2.6.3", 1},  {"2.6.3", "2.6.21", -1}, {"2.6", "2.6.0", 0},
        {"2.6", "2.6.1", -1},    {"10.0", "9.9.9", 1},    {"", "0", 0},            {nullptr, "1", -1},
        {"1.2b", "1.2", 0},      {"1..3", "1.0.3", 0},    {"99999999999999.1", "2147483647.1", 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(vnl::CompareDottedVersions(c.a, c.b), c.expected) << (c.a ? c.a : "null") << " vs " << c.b;
        EXPECT_EQ(vnl::CompareDottedVersions(c.b, c.a), -c.expected) << c.b;
    }
}

TEST(VornelSizeText, BinaryUnitsWithTwoDecimals) {
    struct Case {
        uint64_t bytes;
        const wchar_t* text;
    };
    // clang-format off
    const Case cases[] = {
        {0, L"0 B"},           {1023, L"1023 B"},           {1024, L"1.00 KB"},
        {1536, L"1.50 KB"},    {1048576, L"1.00 MB"},       {3447746560ull, L"3.21 GB"},
        {1099511627776ull * 2048, L"2048.00 TB"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(vnl::FormatByteSize(c.bytes), c.text) << c.bytes;
    }
}

TEST(VornelDefaultsStore, ReadsGroupedKeysWithTypeChecks) {
    vnl::DefaultsStore store;
    ASSERT_TRUE(store.Parse(R"({"product":{"type":1},"url":{"itunes:32":"http://a/32","brand":7},
                               "color":{"1":"#3A8EE6","2":"#zz0000","3":"#FFF"},"flat":5})"));
    int64_t number = 0;
    std::string text;
    uint32_t colour = 0;
    EXPECT_TRUE(store.GetInt("product:type", number));
    EXPECT_EQ(number, 1);
    EXPECT_TRUE(store.GetInt("flat", number));
    EXPECT_EQ(number, 5);
    EXPECT_TRUE(store.GetString("url:itunes:32", text));
    EXPECT_EQ(text, "http://a/32");
    EXPECT_FALSE(store.GetString("url:brand", text));     // a number is not a string
    EXPECT_FALSE(store.GetInt("url:itunes:32", number));  // and a string is not a number
    EXPECT_FALSE(store.GetInt("product:missing", number));
    EXPECT_FALSE(store.GetInt("nogroup:type", number));
    EXPECT_FALSE(store.GetInt("product", number));  // an object is not a value
    EXPECT_TRUE(store.GetRGB("color:1", colour));
    EXPECT_EQ(colour, 0xE68E3Au);  // COLORREF keeps red in the low byte
    EXPECT_FALSE(store.GetRGB("color:2", colour));
    EXPECT_FALSE(store.GetRGB("color:3", colour));
}

TEST(VornelDefaultsStore, MalformedTextLeavesAnEmptyUnloadedStore) {
    for (const char* text : {"", "[1,2]", "{\"a\":", "null", "{\"a\":1} trailing"}) {
        vnl::DefaultsStore store;
        EXPECT_FALSE(store.Parse(text)) << text;
        EXPECT_FALSE(store.IsLoaded()) << text;
        EXPECT_EQ(store.Serialize(), "{}") << text;
    }
    vnl::DefaultsStore store;
    ASSERT_TRUE(store.Parse("{\"a\":{\"b\":2}}"));
    EXPECT_EQ(store.Serialize(), "{\n    \"a\": {\n        \"b\": 2\n    }\n}");
}

TEST(VornelStoredZip, ArchiveIsReadByIndependentTools) {
    std::string dump(200000, '\0');
    for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<char>((i * 131) & 0xFF);
    const std::vector<vnl::ZipEntry> entries = {
        {"20200108093005.dmp", dump}, {"Crash.json", "{\n    \"Product\": \"Solvak Trevane\"\n}"}, {"empty.txt", ""}};
    std::string archive;
    ASSERT_TRUE(vnl::BuildStoredZip(entries, archive));

    std::string output;
    ASSERT_EQ(trv::test::RunPythonOn(
                  "import zipfile,sys,hashlib\n"
                  "z=zipfile.ZipFile(sys.argv[1])\n"
                  "assert z.testzip() is None\n"
                  "for i in z.infolist(): print(i.filename, i.file_size, hashlib.md5(z.read(i)).hexdigest()[:8])\n",
                  archive, output),
              0)
        << output;
    std::string expected;
    for (const vnl::ZipEntry& e : entries) {
        std::string md5;
        ASSERT_EQ(trv::test::RunPythonOn(
                      "import sys,hashlib\nprint(hashlib.md5(open(sys.argv[1],'rb').read()).hexdigest()[:8])\n",
                      e.bytes, md5),
                  0);
        expected += e.name + " " + std::to_string(e.bytes.size()) + " " + md5;
    }
    EXPECT_EQ(output, expected);

    const std::string path = trv::test::WriteTempFile(archive, ".zip");
    const int rc = std::system(("unzip -tq " + path + " >/dev/null").c_str());
    std::remove(path.c_str());
    EXPECT_EQ(rc, 0);
}

TEST(VornelStoredZip, Crc32MatchesTheStandardCheckValue) {
    EXPECT_EQ(vnl::Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(vnl::Crc32(""), 0u);
}

TEST(VornelStoredZip, RefusesUnnamedEntries) {
    std::string archive;
    EXPECT_FALSE(vnl::BuildStoredZip({{"", "data"}}, archive));
}
