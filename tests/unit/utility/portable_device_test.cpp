// The portable-device layer over simulated device images: the name check and the removal of one
// camera file by its whole name.
#include "utility/hlx_portable_device.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "unit/utility/utility_test_support.h"

namespace hlx {
namespace {

using test::PathExists;
using test::TempFolder;
using test::WriteFile;

// A device root with two images; each has a device name in its lockdown values and camera files.
class PortableDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddImage("A1", "Alice's iPhone", {"100APPLE/IMG_10.JPG", "100APPLE/IMG_1X.JPG", "101APPLE/IMG_2.JPG"});
    AddImage("B2", "Bob's iPhone", {"100APPLE/IMG_1.JPG", "100APPLE/IMG_3.JPG"});
    ASSERT_TRUE(WriteFile(m_root / "A1/fs/DCIM/.THMB/IMG_3.JPG", "thumbnail"));
    ASSERT_EQ(setenv("HLX_DEVICE_ROOT", m_root.path().c_str(), 1), 0);
  }
  void TearDown() override { unsetenv("HLX_DEVICE_ROOT"); }

  void AddImage(const std::string& udid, const std::string& name, std::initializer_list<const char*> files) {
    const std::string image = m_root / udid;
    ASSERT_TRUE(os::Os().createDirectories(image + "/fs/DCIM/.THMB"));
    ASSERT_TRUE(WriteFile(image + "/state.json", "{}"));
    ASSERT_TRUE(WriteFile(image + "/lockdown.plist",
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                          "\t<key></key>\n\t<dict>\n\t\t<key>DeviceName</key>\n\t\t<string>" +
                              name + "</string>\n\t</dict>\n</dict>\n</plist>\n"));
    for (const char* file : files) {
      const std::string path = image + "/fs/DCIM/" + file;
      ASSERT_TRUE(os::Os().createDirectories(path.substr(0, path.rfind('/'))));
      ASSERT_TRUE(WriteFile(path, file));
    }
  }
  std::string Camera(const std::string& udid, const std::string& file) { return m_root / (udid + "/fs/DCIM/" + file); }

  TempFolder m_root;
};

TEST_F(PortableDeviceTest, FindsADeviceOnlyByItsWholeName) {
  EXPECT_EQ(FindPortableDevice("Bob's iPhone"), 1);
  EXPECT_EQ(FindPortableDevice("Bob"), 0);
  EXPECT_EQ(FindPortableDevice(""), 0);
  // A parked image (a name starting with '.') is not attached.
  ASSERT_EQ(std::rename((m_root / "B2").c_str(), (m_root / ".B2").c_str()), 0);
  EXPECT_EQ(FindPortableDevice("Bob's iPhone"), 0);
}

TEST_F(PortableDeviceTest, DeletesOnlyAFileWhoseWholeNameMatches) {
  // Neither an empty name nor a prefix of a name removes anything.
  EXPECT_EQ(DeletePortableDeviceFile(""), 0);
  EXPECT_EQ(DeletePortableDeviceFile("IMG_"), 0);
  EXPECT_EQ(DeletePortableDeviceFile("100APPLE"), 0);  // folders are not candidates
  EXPECT_TRUE(PathExists(Camera("A1", "100APPLE/IMG_10.JPG")));
  EXPECT_TRUE(PathExists(Camera("A1", "100APPLE/IMG_1X.JPG")));

  // "IMG_1.JPG" is on the second device only; the first one's IMG_10.JPG stays.
  EXPECT_EQ(DeletePortableDeviceFile("IMG_1.JPG"), 1);
  EXPECT_FALSE(PathExists(Camera("B2", "100APPLE/IMG_1.JPG")));
  EXPECT_TRUE(PathExists(Camera("A1", "100APPLE/IMG_10.JPG")));
  EXPECT_EQ(DeletePortableDeviceFile("IMG_1.JPG"), 0);

  // Depth first into a later folder; hidden folders (the thumbnail cache) are not searched.
  EXPECT_EQ(DeletePortableDeviceFile("IMG_2.JPG"), 1);
  EXPECT_FALSE(PathExists(Camera("A1", "101APPLE/IMG_2.JPG")));
  EXPECT_EQ(DeletePortableDeviceFile("IMG_3.JPG"), 1);
  EXPECT_TRUE(PathExists(Camera("A1", ".THMB/IMG_3.JPG")));
  EXPECT_FALSE(PathExists(Camera("B2", "100APPLE/IMG_3.JPG")));
}

}  // namespace
}  // namespace hlx
