// AFC file operations against a simulated device. The device's files are the image's fs/ folder,
// so every result is checked there (and on the PC side) with the file system and `diff -r`, not
// through the operations under test. Faults of the image cut transfers short, detach the device
// mid-transfer or fail a named call; a small free space makes the device full.
#include "utility/hlx_afc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "unit/device/simulated_device.h"

namespace hlx {
namespace {

using test::PathExists;
using test::ReadFile;
using test::SeededBytes;
using test::ShellOutput;
using test::ShellQuote;
using test::SimulatedDevice;
using test::TempFolder;
using test::WriteFile;

class AfcTest : public ::testing::Test {
 protected:
  // Attaches a device with the given options and opens AFC on it.
  AFCConnectionRef Open(SimulatedDevice& device, const SimulatedDevice::Options& options = {}) {
    std::string error;
    if (!device.Attach(options, &error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    AFCConnectionRef afc = device.Afc();
    EXPECT_NE(afc, nullptr) << "AFC did not open";
    return afc;
  }

  // Makes a file (and its folders) in the device's file system directly.
  bool PutDeviceFile(const std::string& devicePath, const std::string& bytes) {
    const std::string path = m_device.FsPath(devicePath);
    return os::Os().createDirectories(path.substr(0, path.rfind('/'))) && WriteFile(path, bytes);
  }

  bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  std::vector<std::string> Entries(const std::string& folder) {
    int status = -1;
    std::string listing = ShellOutput("cd " + ShellQuote(folder) + " && find . -mindepth 1 | LC_ALL=C sort", &status);
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < listing.size()) {
      size_t end = listing.find('\n', start);
      entries.push_back(listing.substr(start, end - start));
      start = end + 1;
    }
    return entries;
  }

  SimulatedDevice m_device;
  TempFolder m_pc;
};

TEST_F(AfcTest, StatReportsTheDevicesFile) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  ASSERT_TRUE(PutDeviceFile("/Stat/file.bin", SeededBytes(12345, 1, false)));
  ASSERT_EQ(symlink("file.bin", m_device.FsPath("/Stat/link").c_str()), 0);
  struct stat pcInfo;
  ASSERT_EQ(stat(m_device.FsPath("/Stat/file.bin").c_str(), &pcInfo), 0);

  AfcFileInfo file;
  ASSERT_TRUE(AfcGetFileInfo(afc, "/Stat/file.bin", &file));
  EXPECT_EQ(file.fileKind, "S_IFREG");
  EXPECT_EQ(file.sizeBytes, 12345);
  EXPECT_EQ(file.modifiedTimeSeconds, static_cast<int64_t>(pcInfo.st_mtim.tv_sec));
  EXPECT_EQ(file.linkCount, 1);
  EXPECT_GT(file.blockCount, 0);

  AfcFileInfo folder;
  ASSERT_TRUE(AfcGetFileInfo(afc, "/Stat", &folder));
  EXPECT_EQ(folder.fileKind, "S_IFDIR");

  AfcFileInfo link;
  ASSERT_TRUE(AfcGetFileInfo(afc, "/Stat/link", &link));
  EXPECT_EQ(link.fileKind, "S_IFLNK");
  EXPECT_EQ(link.linkTarget, "file.bin");

  // A failed stat leaves the record as it was.
  AfcFileInfo kept = file;
  EXPECT_FALSE(AfcGetFileInfo(afc, "/Stat/missing", &kept));
  EXPECT_EQ(kept.sizeBytes, 12345);
  EXPECT_EQ(kept.fileKind, "S_IFREG");
}

TEST_F(AfcTest, MakeDirectory) {
  // Any AFCDirectoryCreate call fails on this device, so an existing folder that answers true proves
  // that no create was tried.
  SimulatedDevice::Options options;
  options.statePatch = R"({"faults": {"failCalls": {"AFCDirectoryCreate": [1]}}})";
  AFCConnectionRef afc = Open(m_device, options);
  ASSERT_NE(afc, nullptr);
  ASSERT_TRUE(os::Os().createDirectories(m_device.FsPath("/Existing")));
  EXPECT_TRUE(AfcMakeDirectory(afc, "/Existing"));
  // The first create fails by the fault; the second goes through.
  EXPECT_FALSE(AfcMakeDirectory(afc, "/New"));
  EXPECT_TRUE(AfcMakeDirectory(afc, "/New"));
  EXPECT_TRUE(IsFolder(m_device.FsPath("/New")));
  // Only the last component is created.
  EXPECT_FALSE(AfcMakeDirectory(afc, "/Missing/Child"));
  EXPECT_FALSE(PathExists(m_device.FsPath("/Missing")));
  // A file in the way is not a folder.
  ASSERT_TRUE(PutDeviceFile("/AFile", "x"));
  EXPECT_FALSE(AfcMakeDirectory(afc, "/AFile"));
}

TEST_F(AfcTest, RemoveTree) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  auto build = [&](const std::string& top) {
    return PutDeviceFile(top + "/a.txt", "a") && PutDeviceFile(top + "/Sub/b.txt", "b") &&
           PutDeviceFile(top + "/Sub/Deeper/c.txt", "c") && PutDeviceFile(top + "/Sub/Deeper/d.bin", "") &&
           os::Os().createDirectories(m_device.FsPath(top + "/Empty"));
  };
  struct Case {
    const char* path;  // as given to AfcRemoveTree
    bool removeTop;
    bool nested;
    bool result;
    bool topRemains;
  } cases[] = {
      {"/Tree1", false, false, false, true},   // emptied, kept, answers false
      {"/Tree2/", false, false, false, true},  // a trailing '/' gets no second one
      {"/Tree3", true, false, true, false},
      {"/Tree4/", false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string top = c.path;
    if (top.back() == '/') top.pop_back();
    ASSERT_TRUE(build(top));
    EXPECT_EQ(AfcRemoveTree(afc, c.path, c.removeTop, c.nested), c.result);
    EXPECT_EQ(IsFolder(m_device.FsPath(top)), c.topRemains);
    if (c.topRemains) {
      EXPECT_TRUE(Entries(m_device.FsPath(top)).empty());
    }
  }
  // Not a folder, or not there: false, nothing touched.
  ASSERT_TRUE(PutDeviceFile("/Plain.txt", "p"));
  EXPECT_FALSE(AfcRemoveTree(afc, "/Plain.txt", true, false));
  EXPECT_TRUE(PathExists(m_device.FsPath("/Plain.txt")));
  EXPECT_FALSE(AfcRemoveTree(afc, "/Nowhere", true, false));

  // A link stays, and so does what it points to (and the folder, which is not empty then).
  ASSERT_TRUE(PutDeviceFile("/Keep/target.txt", "keep me"));
  ASSERT_TRUE(PutDeviceFile("/Linked/file.txt", "x"));
  ASSERT_EQ(symlink("../Keep", m_device.FsPath("/Linked/link").c_str()), 0);
  EXPECT_FALSE(AfcRemoveTree(afc, "/Linked", true, false));
  EXPECT_EQ(ReadFile(m_device.FsPath("/Keep/target.txt")), "keep me");
  EXPECT_EQ(Entries(m_device.FsPath("/Linked")), (std::vector<std::string>{"./link"}));
}

TEST_F(AfcTest, DownloadTreeCopiesEverythingAndRefusesUnsafeNames) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  ASSERT_TRUE(PutDeviceFile("/DCIM/100APPLE/IMG_0001.JPG", SeededBytes(300000, 2, false)));
  ASSERT_TRUE(PutDeviceFile("/DCIM/100APPLE/IMG_0002.JPG", SeededBytes(5 << 20, 3, false)));
  ASSERT_TRUE(PutDeviceFile("/DCIM/empty.txt", ""));
  ASSERT_TRUE(PutDeviceFile("/DCIM/Zo\xC3\xAB \xE4\xB8\xAD/note.txt", "text"));
  ASSERT_TRUE(os::Os().createDirectories(m_device.FsPath("/DCIM/Empty Folder")));

  const std::string target = m_pc / "copy/of/DCIM";
  EXPECT_TRUE(AfcDownloadTree(afc, "/DCIM", target));
  int status = -1;
  std::string differences =
      ShellOutput("diff -r " + ShellQuote(m_device.FsPath("/DCIM")) + " " + ShellQuote(target) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << differences;

  // A name that holds a separator of the PC side is not made into a PC path; the rest is copied and
  // the answer says the copy is not whole.
  ASSERT_TRUE(PutDeviceFile("/DCIM/a\\..\\..\\escape.txt", "no"));
  const std::string second = m_pc / "second";
  EXPECT_FALSE(AfcDownloadTree(afc, "/DCIM/", second + "/"));
  EXPECT_TRUE(PathExists(second + "/empty.txt"));
  EXPECT_EQ(ReadFile(second + "/100APPLE/IMG_0001.JPG"), SeededBytes(300000, 2, false));
  EXPECT_FALSE(PathExists(second + "/a\\..\\..\\escape.txt"));
  EXPECT_FALSE(PathExists(m_pc / "escape.txt"));

  // Not a folder: nothing is made.
  EXPECT_FALSE(AfcDownloadTree(afc, "/DCIM/empty.txt", m_pc / "third"));
  EXPECT_FALSE(PathExists(m_pc / "third"));
}

TEST_F(AfcTest, DevicePathsThatClimbAreRefused) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  const std::string source = m_pc / "up.txt";
  ASSERT_TRUE(WriteFile(source, "climb"));
  // The image's own files stand one level above fs/.
  const std::string imageRoot = m_device.FsPath("").substr(0, m_device.FsPath("").rfind("/fs"));
  AfcFileInfo info;
  EXPECT_FALSE(AfcGetFileInfo(afc, "/../state.json", &info));
  EXPECT_FALSE(AfcUploadFile(afc, source, "/../escaped.txt"));
  EXPECT_FALSE(AfcUploadFile(afc, source, "/Downloads/../../escaped.txt"));
  EXPECT_FALSE(PathExists(imageRoot + "/escaped.txt"));
  std::string text;
  EXPECT_FALSE(AfcDownloadFile(afc, "/../state.json", nullptr, &text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(AfcRemovePath(afc, "/../state.json"));
  EXPECT_FALSE(AfcRemoveTree(afc, "/..", true, false));
  EXPECT_FALSE(AfcMakeDirectory(afc, "/../made"));
  EXPECT_TRUE(PathExists(imageRoot + "/state.json"));
  EXPECT_FALSE(PathExists(imageRoot + "/made"));
}

TEST_F(AfcTest, UploadOverALongerFileLeavesExactlyTheNewBytes) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  struct Case {
    const char* name;
    size_t oldBytes;
    size_t newBytes;
  } cases[] = {
      {"shorter over longer", 10000, 100},
      {"empty over a file", 5000, 0},
      {"longer than a buffer over a shorter", 10, (4 << 20) + 17},
      {"new file", 0, 3000},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string devicePath = "/Uploads/file" + std::to_string(index) + ".bin";
    if (c.oldBytes > 0) {
      ASSERT_TRUE(PutDeviceFile(devicePath, std::string(c.oldBytes, 'A')));
    }
    ASSERT_TRUE(os::Os().createDirectories(m_device.FsPath("/Uploads")));
    const std::string bytes = SeededBytes(c.newBytes, 10 + index, false);
    const std::string source = m_pc / ("source" + std::to_string(index));
    ASSERT_TRUE(WriteFile(source, bytes));
    EXPECT_TRUE(AfcUploadFile(afc, source, devicePath));
    EXPECT_EQ(ReadFile(m_device.FsPath(devicePath)), bytes);
    ++index;
  }
  // A PC file that is not there: false, no device file made.
  EXPECT_FALSE(AfcUploadFile(afc, m_pc / "missing", "/Uploads/never.bin"));
  EXPECT_FALSE(PathExists(m_device.FsPath("/Uploads/never.bin")));
  // A PC folder cannot be read as a file.
  EXPECT_FALSE(AfcUploadFile(afc, m_pc.path(), "/Uploads/folder.bin"));
}

TEST_F(AfcTest, UploadToAFullDeviceFails) {
  SimulatedDevice::Options options;
  options.imageArgs = {"--free", std::to_string(1 << 20)};
  AFCConnectionRef afc = Open(m_device, options);
  ASSERT_NE(afc, nullptr);
  const std::string source = m_pc / "big.bin";
  ASSERT_TRUE(WriteFile(source, SeededBytes(3 << 20, 4, false)));
  EXPECT_FALSE(AfcUploadFile(afc, source, "/big.bin"));
  // What fits still goes.
  const std::string small = m_pc / "small.bin";
  ASSERT_TRUE(WriteFile(small, SeededBytes(100000, 5, false)));
  EXPECT_TRUE(AfcUploadFile(afc, small, "/small.bin"));
  EXPECT_EQ(ReadFile(m_device.FsPath("/small.bin")), SeededBytes(100000, 5, false));
}

TEST_F(AfcTest, DownloadFile) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  const std::string big = SeededBytes((9 << 20) + 3, 6, false);
  ASSERT_TRUE(PutDeviceFile("/Down/big.bin", big));
  ASSERT_TRUE(PutDeviceFile("/Down/empty.bin", ""));

  const std::string pcBig = m_pc / "big.bin";
  EXPECT_TRUE(AfcDownloadFile(afc, "/Down/big.bin", &pcBig, nullptr));
  EXPECT_EQ(ReadFile(pcBig), big);

  // An empty device file makes an empty PC file, over a longer one.
  const std::string pcEmpty = m_pc / "empty.bin";
  ASSERT_TRUE(WriteFile(pcEmpty, "old contents"));
  EXPECT_TRUE(AfcDownloadFile(afc, "/Down/empty.bin", &pcEmpty, nullptr));
  EXPECT_TRUE(PathExists(pcEmpty));
  EXPECT_EQ(ReadFile(pcEmpty), "");

  // Into text: appended after what the text held.
  std::string text = "head:";
  EXPECT_TRUE(AfcDownloadFile(afc, "/Down/big.bin", nullptr, &text));
  EXPECT_EQ(text, "head:" + big);

  // Failures: no device file; a PC file that cannot be made (the device file stays); a PC write that
  // fails (/dev/full, which is never deleted); nothing to write to.
  const std::string pcMissing = m_pc / "missing.bin";
  EXPECT_FALSE(AfcDownloadFile(afc, "/Down/none.bin", &pcMissing, nullptr));
  EXPECT_FALSE(PathExists(pcMissing));
  const std::string noFolder = m_pc / "no/such/folder/file.bin";
  EXPECT_FALSE(AfcDownloadFile(afc, "/Down/big.bin", &noFolder, nullptr));
  EXPECT_EQ(ReadFile(m_device.FsPath("/Down/big.bin")), big);
  const std::string full = "/dev/full";
  EXPECT_FALSE(AfcDownloadFile(afc, "/Down/big.bin", &full, nullptr));
  EXPECT_TRUE(PathExists(full));
  EXPECT_FALSE(AfcDownloadFile(afc, "/Down/big.bin", nullptr, nullptr));
}

// The device goes away, or its AFC stream breaks, in the middle of a download or an upload: each
// answers false; a PC file left incomplete by a download is deleted, a text is put back.
TEST_F(AfcTest, TransfersCutShortReportFailure) {
  struct Case {
    const char* name;
    const char* statePatch;
    bool upload;
  } cases[] = {
      {"AFC reads break after 5 MiB", R"({"faults": {"dropAfterBytes": {"afcRead": 5242880}}})", false},
      {"the device detaches at the second read", R"({"faults": {"detachOnCall": {"AFCFileRefRead": 2}}})", false},
      {"AFC writes break after 5 MiB", R"({"faults": {"dropAfterBytes": {"afcWrite": 5242880}}})", true},
      {"the device detaches at the second write", R"({"faults": {"detachOnCall": {"AFCFileRefWrite": 2}}})", true},
      {"the second write fails", R"({"faults": {"failCalls": {"AFCFileRefWrite": [2]}}})", true},
  };
  const std::string data = SeededBytes(9 << 20, 7, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedDevice device;
    SimulatedDevice::Options options;
    options.statePatch = c.statePatch;
    std::string error;
    ASSERT_TRUE(device.Attach(options, &error)) << error;
    AFCConnectionRef afc = device.Afc();
    ASSERT_NE(afc, nullptr);
    if (c.upload) {
      const std::string source = m_pc / "upload.bin";
      ASSERT_TRUE(WriteFile(source, data));
      EXPECT_FALSE(AfcUploadFile(afc, source, "/upload.bin"));
    } else {
      ASSERT_TRUE(WriteFile(device.FsPath("/download.bin"), data));
      const std::string target = m_pc / "download.bin";
      EXPECT_FALSE(AfcDownloadFile(afc, "/download.bin", &target, nullptr));
      EXPECT_FALSE(PathExists(target));
      std::string text = "kept";
      EXPECT_FALSE(AfcDownloadFile(afc, "/download.bin", nullptr, &text));
      EXPECT_EQ(text, "kept");
    }
  }
}

// Requests of one device share its AFC connection; each thread copies through its own buffer.
TEST_F(AfcTest, ManyThreadsOnOneConnection) {
  AFCConnectionRef afc = Open(m_device);
  ASSERT_NE(afc, nullptr);
  constexpr int kThreads = 8;
  std::vector<std::string> contents;
  for (int t = 0; t < kThreads; ++t) {
    contents.push_back(SeededBytes((1 << 20) + 4099 * t, 100 + t, false));
    ASSERT_TRUE(WriteFile(m_pc / ("up" + std::to_string(t)), contents.back()));
    ASSERT_TRUE(PutDeviceFile("/Shared/Tree" + std::to_string(t) + "/f.bin", contents.back()));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string name = std::to_string(t);
      for (int round = 0; round < 3; ++round) {
        std::string text;
        const bool ok = AfcUploadFile(afc, m_pc / ("up" + name), "/Shared/up" + name + ".bin") &&
                        AfcDownloadFile(afc, "/Shared/up" + name + ".bin", nullptr, &text) && text == contents[t] &&
                        AfcDownloadTree(afc, "/Shared/Tree" + name, m_pc / ("tree" + name)) &&
                        ReadFile(m_pc / ("tree" + name + "/f.bin")) == contents[t];
        if (!ok) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(ReadFile(m_device.FsPath("/Shared/up" + std::to_string(t) + ".bin")), contents[t]);
  }
}

}  // namespace
}  // namespace hlx
