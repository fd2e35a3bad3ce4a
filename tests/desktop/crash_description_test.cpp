// "Crash.json": member order, values and the four-blank indentation, read back by Python's json.
#include <gtest/gtest.h>

#include "crash_description.h"
#include "python_check.h"

TEST(CrashDescription, WindowsVersionText) {
    EXPECT_EQ(trv::WindowsVersionText(6, 1, 7601, 1, 0), "6.1 Build 7601 Service Pack 1.0");
    EXPECT_EQ(trv::WindowsVersionText(10, 0, 19045, 0, 0), "10.0 Build 19045 Service Pack 0.0");
}

TEST(CrashDescription, ObjectReadsBackInOrderWithFourBlankIndent) {
    struct Case {
        std::string system;
    };
    const Case cases[] = {{"6.1 Build 7601 Service Pack 1.0"}, {""}};
    for (const Case& c : cases) {
        const std::string text = trv::BuildCrashDescription("Solvak Trevane", "2.6.21", c.system);
        EXPECT_EQ(text.find("\n    \"Product\": \"Solvak Trevane\""), 1u) << text;
        std::string output;
        const int rc = trv::test::RunPythonOn(
            "import json,sys\n"
            "pairs=json.load(open(sys.argv[1],encoding='utf-8'),object_pairs_hook=lambda p:p)\n"
            "print('|'.join(k+'='+v for k,v in pairs))\n",
            text, output);
        ASSERT_EQ(rc, 0) << text;
        EXPECT_EQ(output, "Product=Solvak Trevane|Version=2.6.21|System=" + c.system + "\n");
    }
}

TEST(CrashDescription, TextIsEscapedAsJson) {
    const std::string text = trv::BuildCrashDescription("Quote\"and\\slash", "1", "line\nbreak");
    std::string output;
    ASSERT_EQ(trv::test::RunPythonOn(
                  "import json,sys\nd=json.load(open(sys.argv[1]))\nprint(repr(d['Product']), repr(d['System']))\n",
                  text, output),
              0);
    EXPECT_EQ(output, "'Quote\"and\\\\slash' 'line\\nbreak'\n");
}
