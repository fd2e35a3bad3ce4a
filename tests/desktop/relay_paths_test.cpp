// PC paths crossing between the desktop under Wine and the Linux device service.
#include <gtest/gtest.h>

#include "relay_paths.h"

namespace {

using relay::ToDesktopPath;
using relay::ToServicePath;

TEST(RelayPaths, DriveZIsTheLinuxRootBothWays) {
    EXPECT_EQ(ToServicePath(L"Z:\\home\\zo\u00eb\\a b\\x.vcf"), L"/home/zo\u00eb/a b/x.vcf");
    EXPECT_EQ(ToServicePath(L"z:/tmp\\mixed/sep"), L"/tmp/mixed/sep");
    EXPECT_EQ(ToServicePath(L"Z:\\"), L"/");
    EXPECT_EQ(ToServicePath(L"Z:"), L"/");
    EXPECT_EQ(ToDesktopPath(L"/home/zo\u00eb/a b/x.vcf"), L"Z:\\home\\zo\u00eb\\a b\\x.vcf");
    EXPECT_EQ(ToDesktopPath(L"/"), L"Z:\\");
    for (const wchar_t* path : {L"/opt/build/src/Harlix", L"/a/b c/d", L"/"}) {
        EXPECT_EQ(ToServicePath(ToDesktopPath(path)), path);
    }
}

TEST(RelayPaths, PathsAlreadyOnTheirSideStayAndUnreachableOnesAreRefused) {
    EXPECT_EQ(ToServicePath(L"/already/linux"), L"/already/linux");
    EXPECT_EQ(ToDesktopPath(L"Z:/already/windows"), L"Z:\\already\\windows");
    // Another drive, a UNC share or a relative path has no Linux name the service could open.
    EXPECT_EQ(ToServicePath(L"C:\\Users\\x"), L"");
    EXPECT_EQ(ToServicePath(L"\\\\server\\share\\x"), L"");
    EXPECT_EQ(ToServicePath(L"relative\\x"), L"");
    EXPECT_EQ(ToServicePath(L"Zed:\\x"), L"");
    EXPECT_EQ(ToServicePath(L""), L"");
    EXPECT_EQ(ToDesktopPath(L"relative/x"), L"");
    EXPECT_EQ(ToDesktopPath(L""), L"");
}

}  // namespace
