// AFC over an image's fs/ folder: stat, listings, open modes, reads and writes with seek, tell and
// set-size, remove and rename, confinement against ".." and symbolic links, the free-space quota,
// many threads on one connection, dropped transfers and connections that outlive their device.
// File system facts are checked with Python's os module, not with the library itself.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "md_test_support.h"

namespace {

using namespace md::test;

class MDAfc : public DeviceRootTest {
 protected:
  void Open(const std::vector<std::string>& makerArgs = {}, const char* serviceName = "com.apple.afc") {
    m_udid = "AFC-" + std::to_string(++s_counter);
    m_device = AttachAndWait(m_udid, makerArgs);
    ASSERT_NE(m_device, nullptr);
    m_session = std::make_unique<SessionHolder>(m_device);
    ASSERT_EQ(m_session->Result(), 0);
    m_service = std::make_unique<ServiceHolder>(m_device, serviceName);
    ASSERT_EQ(m_service->Result(), 0);
    ASSERT_EQ(AFCConnectionOpen(AMDServiceConnectionGetSocket(m_service->Get()), 0, &m_afc), 0);
  }
  void TearDown() override {
    if (m_afc != nullptr) AFCConnectionClose(m_afc);
    m_service.reset();
    m_session.reset();
    DeviceRootTest::TearDown();
  }
  std::string Fs(const std::string& path = "") const { return ImagePath(m_udid) + "/fs" + path; }

  int Stat(const std::string& path, std::vector<std::pair<std::string, std::string>>* pairs) {
    AFCDictionaryRef info = nullptr;
    int result = AFCFileInfoOpen(m_afc, path.c_str(), &info);
    if (result != 0) return result;
    ReadPairs(info, pairs);
    return 0;
  }
  std::map<std::string, std::string> StatMap(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> pairs;
    EXPECT_EQ(Stat(path, &pairs), 0) << path;
    return std::map<std::string, std::string>(pairs.begin(), pairs.end());
  }
  static void ReadPairs(AFCDictionaryRef info, std::vector<std::pair<std::string, std::string>>* pairs) {
    char* key = nullptr;
    char* value = nullptr;
    while (AFCKeyValueRead(info, &key, &value) == 0 && key != nullptr) pairs->emplace_back(key, value);
    EXPECT_EQ(AFCKeyValueClose(info), 0);
  }
  std::map<std::string, std::string> DeviceInfo() {
    AFCDictionaryRef info = nullptr;
    EXPECT_EQ(AFCDeviceInfoOpen(m_afc, &info), 0);
    std::vector<std::pair<std::string, std::string>> pairs;
    if (info != nullptr) ReadPairs(info, &pairs);
    return std::map<std::string, std::string>(pairs.begin(), pairs.end());
  }
  int List(const std::string& path, std::vector<std::string>* names) {
    AFCDirectoryRef directory = nullptr;
    int result = AFCDirectoryOpen(m_afc, path.c_str(), &directory);
    if (result != 0) return result;
    char* entry = nullptr;
    while (AFCDirectoryRead(m_afc, directory, &entry) == 0 && entry != nullptr) names->push_back(entry);
    EXPECT_EQ(AFCDirectoryClose(m_afc, directory), 0);
    return 0;
  }
  int WriteFile(const std::string& path, const std::string& data) {
    AFCFileRef file = 0;
    int result = AFCFileRefOpen(m_afc, path.c_str(), kAFCFileModeReadWrite, &file);
    if (result != 0) return result;
    result = AFCFileRefWrite(m_afc, file, data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(AFCFileRefClose(m_afc, file), 0);
    return result;
  }
  std::string ReadFile(const std::string& path) {
    AFCFileRef file = 0;
    EXPECT_EQ(AFCFileRefOpen(m_afc, path.c_str(), kAFCFileModeRead, &file), 0) << path;
    std::string data;
    char buffer[4096];
    for (;;) {
      uint32_t length = sizeof buffer;
      if (AFCFileRefRead(m_afc, file, buffer, &length) != 0 || length == 0) break;
      data.append(buffer, length);
    }
    AFCFileRefClose(m_afc, file);
    return data;
  }
  int64_t FreeBytes() { return std::stoll(DeviceInfo()["FSFreeBytes"]); }

  std::string m_udid;
  AMDeviceRef m_device = nullptr;
  std::unique_ptr<SessionHolder> m_session;
  std::unique_ptr<ServiceHolder> m_service;
  AFCConnectionRef m_afc = nullptr;
  static int s_counter;
};
int MDAfc::s_counter = 0;

TEST_F(MDAfc, StatAnswersInNanosecondsWithTheKeysInOrder) {
  Open();
  std::filesystem::create_symlink("../DCIM", Fs("/Books/photos"));
  std::vector<std::pair<std::string, std::string>> pairs;
  ASSERT_EQ(Stat("/Downloads/readme.txt", &pairs), 0);
  std::vector<std::string> keys;
  for (const auto& pair : pairs) keys.push_back(pair.first);
  const std::vector<std::string> expectedKeys = {"st_size", "st_blocks", "st_nlink",
                                                 "st_ifmt", "st_mtime",  "st_birthtime"};
  EXPECT_EQ(keys, expectedKeys);
  const std::string file = Fs("/Downloads/readme.txt");
  auto stat = StatMap("/Downloads/readme.txt");
  EXPECT_EQ(stat["st_size"], Python("import os; print(os.stat('" + file + "').st_size)"));
  EXPECT_EQ(stat["st_mtime"], Python("import os; print(os.stat('" + file + "').st_mtime_ns)"));
  EXPECT_EQ(stat["st_ifmt"], "S_IFREG");
  EXPECT_GT(std::stoll(stat["st_birthtime"]), 1000000000LL * 1000000000LL) << "nanoseconds, not seconds";

  EXPECT_EQ(StatMap("/DCIM")["st_ifmt"], "S_IFDIR");
  EXPECT_EQ(StatMap("/")["st_ifmt"], "S_IFDIR");
  auto link = StatMap("/Books/photos");
  EXPECT_EQ(link["st_ifmt"], "S_IFLNK");
  EXPECT_EQ(link["LinkTarget"], "../DCIM");
  EXPECT_EQ(Stat("/no/such/file", &pairs), kAFCNotFound);
}

TEST_F(MDAfc, ListingsStartWithDotAndDotDot) {
  Open();
  std::vector<std::string> names;
  ASSERT_EQ(List("/DCIM/100APPLE", &names), 0);
  std::string expected =
      Python("import os; print(','.join(['.', '..'] + sorted(os.listdir('" + Fs("/DCIM/100APPLE") + "'))))");
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : ",") + name;
  EXPECT_EQ(joined, expected);
  names.clear();
  EXPECT_EQ(List("/Downloads/readme.txt", &names), kAFCNotDirectory);
  EXPECT_EQ(List("/missing", &names), kAFCNotFound);
}

TEST_F(MDAfc, OpenModes) {
  Open();
  struct Case {
    const char* path;
    uint64_t mode;
    int expected;
  };
  const Case cases[] = {
      {"/Downloads/missing.txt", kAFCFileModeRead, kAFCNotFound},
      {"/Downloads/created.txt", kAFCFileModeReadWrite, kAFCSuccess},
      {"/Downloads/readme.txt", kAFCFileModeRead, kAFCSuccess},
      {"/Downloads/readme.txt", 3, kAFCInvalidArgument},
      {"/DCIM", kAFCFileModeRead, kAFCObjectIsDirectory},
      {"/DCIM", kAFCFileModeReadWrite, kAFCObjectIsDirectory},
      {"/NoFolder/new.txt", kAFCFileModeReadWrite, kAFCNotFound},
  };
  for (const Case& c : cases) {
    AFCFileRef file = 0;
    EXPECT_EQ(AFCFileRefOpen(m_afc, c.path, c.mode, &file), c.expected) << c.path << " mode " << c.mode;
    if (file != 0) {
      EXPECT_EQ(AFCFileRefClose(m_afc, file), 0);
    }
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(Fs("/Downloads/created.txt")));
  EXPECT_EQ(std::filesystem::file_size(Fs("/Downloads/created.txt")), 0u);
  EXPECT_EQ(std::filesystem::file_size(Fs("/Downloads/readme.txt")), ReadFile("/Downloads/readme.txt").size())
      << "mode 2 must not truncate";
}

TEST_F(MDAfc, ReadWriteSeekTellAndSetSize) {
  Open();
  AFCFileRef file = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/rw.bin", kAFCFileModeReadWrite, &file), 0);
  ASSERT_EQ(AFCFileRefWrite(m_afc, file, "hello world", 11), 0);
  uint64_t position = 0;
  ASSERT_EQ(AFCFileRefTell(m_afc, file, &position), 0);
  EXPECT_EQ(position, 11u);
  ASSERT_EQ(AFCFileRefSeek(m_afc, file, 6, 0), 0);
  char buffer[16] = {};
  uint32_t length = 5;
  ASSERT_EQ(AFCFileRefRead(m_afc, file, buffer, &length), 0);
  EXPECT_EQ(std::string(buffer, length), "world");
  length = sizeof buffer;
  ASSERT_EQ(AFCFileRefRead(m_afc, file, buffer, &length), 0);
  EXPECT_EQ(length, 0u) << "end of file";
  ASSERT_EQ(AFCFileRefSeek(m_afc, file, -5, 2), 0);
  ASSERT_EQ(AFCFileRefSeek(m_afc, file, 1, 1), 0);
  ASSERT_EQ(AFCFileRefTell(m_afc, file, &position), 0);
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(AFCFileRefSeek(m_afc, file, -100, 1), kAFCInvalidArgument);
  EXPECT_EQ(AFCFileRefSeek(m_afc, file, 0, 3), kAFCInvalidArgument);
  ASSERT_EQ(AFCFileRefWrite(m_afc, file, "W", 1), 0);
  ASSERT_EQ(AFCFileRefSetFileSize(m_afc, file, 8), 0);
  ASSERT_EQ(AFCFileRefClose(m_afc, file), 0);
  EXPECT_EQ(Python("print(open('" + Fs("/Downloads/rw.bin") + "', 'rb').read().decode())"), "hello wW");

  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/rw.bin", kAFCFileModeRead, &file), 0);
  EXPECT_EQ(AFCFileRefWrite(m_afc, file, "x", 1), kAFCPermissionDenied);
  EXPECT_EQ(AFCFileRefSetFileSize(m_afc, file, 0), kAFCPermissionDenied);
  ASSERT_EQ(AFCFileRefClose(m_afc, file), 0);
  EXPECT_EQ(std::filesystem::file_size(Fs("/Downloads/rw.bin")), 8u);
}

TEST_F(MDAfc, FileLocksExcludeOtherReferencesUntilUnlocked) {
  Open();
  AFCFileRef first = 0, second = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Books/Sample.epub", kAFCFileModeRead, &first), 0);
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Books/Sample.epub", kAFCFileModeReadWrite, &second), 0);
  EXPECT_NE(first, second) << "references are never shared";
  EXPECT_EQ(AFCFileRefLock(m_afc, first), 0);
  EXPECT_EQ(AFCFileRefLock(m_afc, second), kAFCObjectBusy);
  EXPECT_EQ(AFCFileRefUnlock(m_afc, first), 0);
  EXPECT_EQ(AFCFileRefLock(m_afc, second), 0);
  EXPECT_EQ(AFCFlushData(m_afc, second), 0);
  EXPECT_EQ(AFCFileRefClose(m_afc, first), 0);
  EXPECT_EQ(AFCFileRefClose(m_afc, second), 0);
}

TEST_F(MDAfc, RemoveTakesOnlyFilesLinksAndEmptyFolders) {
  Open();
  std::filesystem::create_directories(Fs("/Books/empty"));
  std::filesystem::create_symlink("Sample.epub", Fs("/Books/link"));
  struct Case {
    const char* path;
    int expected;
  };
  const Case cases[] = {
      // clang-format off
      {"/Books/Sample.epub", kAFCSuccess},   {"/Books/empty", kAFCSuccess},
      {"/Books/link", kAFCSuccess},          {"/DCIM", kAFCDirectoryNotEmpty},
      {"/Books/missing", kAFCNotFound},      {"/", kAFCPermissionDenied},
      // clang-format on
  };
  for (const Case& c : cases) EXPECT_EQ(AFCRemovePath(m_afc, c.path), c.expected) << c.path;
  EXPECT_FALSE(std::filesystem::exists(Fs("/Books/Sample.epub")));
  EXPECT_TRUE(std::filesystem::exists(Fs("/DCIM/100APPLE/IMG_0001.JPG")));
}

TEST_F(MDAfc, RenameMovesFilesAndFolders) {
  Open();
  ASSERT_EQ(WriteFile("/Downloads/old.txt", "replaced"), 0);
  EXPECT_EQ(AFCRenamePath(m_afc, "/Downloads/readme.txt", "/Books/readme.txt"), 0);
  EXPECT_EQ(AFCRenamePath(m_afc, "/Books/readme.txt", "/Downloads/old.txt"), 0) << "over an existing file";
  EXPECT_EQ(AFCRenamePath(m_afc, "/Recordings", "/Voice"), 0);
  EXPECT_EQ(AFCRenamePath(m_afc, "/nothing", "/x"), kAFCNotFound);
  EXPECT_EQ(AFCRenamePath(m_afc, "/DCIM", "/DCIM/100APPLE/inside"), kAFCInvalidArgument);
  // clang-format off
  EXPECT_EQ(ReadFile("/Downloads/old.txt"), "Gr\xc3\xbc\xc3\x9f" "e vom Ger\xc3\xa4t\n");
  // clang-format on
  EXPECT_TRUE(std::filesystem::is_directory(Fs("/Voice")));
  EXPECT_FALSE(std::filesystem::exists(Fs("/Recordings")));
}

TEST_F(MDAfc, PathsWithDotDotAreRefusedByEveryCall) {
  Open();
  // A file beside fs/ that no AFC path may reach.
  const std::string outside = ImagePath(m_udid) + "/outside.txt";
  std::ofstream(outside) << "secret";
  const char* paths[] = {"..",       "../outside.txt", "/../outside.txt", "/DCIM/../../outside.txt",
                         "/DCIM/..", "DCIM/../Books"};
  for (const char* path : paths) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> names;
    AFCFileRef file = 0;
    EXPECT_EQ(Stat(path, &pairs), kAFCPermissionDenied) << path;
    EXPECT_EQ(List(path, &names), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCFileRefOpen(m_afc, path, kAFCFileModeRead, &file), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCFileRefOpen(m_afc, path, kAFCFileModeReadWrite, &file), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCDirectoryCreate(m_afc, path), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCRemovePath(m_afc, path), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCRenamePath(m_afc, path, "/Books/taken"), kAFCPermissionDenied) << path;
    EXPECT_EQ(AFCRenamePath(m_afc, "/Books/Sample.epub", path), kAFCPermissionDenied) << path;
  }
  EXPECT_EQ(Python("print(open('" + outside + "').read())"), "secret");
  EXPECT_TRUE(std::filesystem::exists(Fs("/Books/Sample.epub")));
}

TEST_F(MDAfc, SymbolicLinksAreFollowedOnlyWhileTheyStayInside) {
  Open();
  std::filesystem::create_symlink("../..", Fs("/up"));              // climbs out of fs/
  std::filesystem::create_symlink("/etc", Fs("/absolute"));         // names the host's file system
  std::filesystem::create_symlink("DCIM/100APPLE", Fs("/photos"));  // stays inside
  std::filesystem::create_symlink("../Books", Fs("/DCIM/books"));   // climbs, but not above fs/
  std::filesystem::create_symlink("loop", Fs("/loop"));
  struct Case {
    const char* path;
    int expected;
  };
  const Case cases[] = {
      // clang-format off
      {"/up", kAFCPermissionDenied},          {"/up/state.json", kAFCPermissionDenied},
      {"/absolute", kAFCPermissionDenied},    {"/absolute/passwd", kAFCPermissionDenied},
      {"/photos", kAFCSuccess},               {"/DCIM/books", kAFCSuccess},
      // clang-format on
      {"/loop", kAFCPermissionDenied},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(List(c.path, &names), c.expected) << c.path;
  }
  AFCFileRef file = 0;
  EXPECT_EQ(AFCFileRefOpen(m_afc, "/up/escaped.txt", kAFCFileModeReadWrite, &file), kAFCPermissionDenied);
  EXPECT_FALSE(std::filesystem::exists(ImagePath(m_udid) + "/escaped.txt"));
  EXPECT_EQ(AFCFileRefOpen(m_afc, "/photos/IMG_0001.JPG", kAFCFileModeRead, &file), 0);
  AFCFileRefClose(m_afc, file);
  EXPECT_EQ(StatMap("/up")["st_ifmt"], "S_IFLNK") << "a link itself may be described";
  EXPECT_EQ(AFCRemovePath(m_afc, "/up"), 0) << "and removed, without touching its target";
  EXPECT_TRUE(std::filesystem::exists(ImagePath(m_udid) + "/state.json"));
}

TEST_F(MDAfc, FreeSpaceFollowsWhatAfcAddsAndRemoves) {
  Open();
  auto info = DeviceInfo();
  EXPECT_EQ(info["Model"], "iPhone10,3");
  EXPECT_EQ(info["FSTotalBytes"], "68719476736");
  EXPECT_EQ(info["FSBlockSize"], "4096");
  const int64_t initial = FreeBytes();
  ASSERT_EQ(WriteFile("/Downloads/a.bin", std::string(5000, 'a')), 0);
  EXPECT_EQ(FreeBytes(), initial - 5000);
  ASSERT_EQ(WriteFile("/Downloads/a.bin", std::string(100, 'b')), 0) << "an overwrite inside the file";
  EXPECT_EQ(FreeBytes(), initial - 5000);
  AFCFileRef file = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/a.bin", kAFCFileModeReadWrite, &file), 0);
  ASSERT_EQ(AFCFileRefSetFileSize(m_afc, file, 1000), 0);
  EXPECT_EQ(FreeBytes(), initial - 1000);
  ASSERT_EQ(AFCFileRefClose(m_afc, file), 0);
  ASSERT_EQ(AFCRemovePath(m_afc, "/Downloads/a.bin"), 0);
  EXPECT_EQ(FreeBytes(), initial);
  EXPECT_EQ(Python("import json; print(json.load(open('" + ImagePath(m_udid) + "/state.json'))['freeBytes'])"),
            std::to_string(initial))
      << "the figure is kept in the image";
}

TEST_F(MDAfc, WritesFailWhenTheDeviceIsFull) {
  Open();
  ASSERT_EQ(Tool({"space", m_udid, "--free", "10"}), 0);
  AFCFileRef file = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/full.bin", kAFCFileModeReadWrite, &file), 0);
  EXPECT_EQ(AFCFileRefWrite(m_afc, file, "0123456789", 10), 0);
  EXPECT_EQ(AFCFileRefWrite(m_afc, file, "X", 1), kAFCNoSpace);
  EXPECT_EQ(AFCFileRefSetFileSize(m_afc, file, 11), kAFCNoSpace);
  EXPECT_EQ(FreeBytes(), 0);
  ASSERT_EQ(AFCFileRefSeek(m_afc, file, 0, 0), 0);
  EXPECT_EQ(AFCFileRefWrite(m_afc, file, "abc", 3), 0) << "overwriting needs no space";
  ASSERT_EQ(AFCFileRefClose(m_afc, file), 0);
  EXPECT_EQ(std::filesystem::file_size(Fs("/Downloads/full.bin")), 10u) << "the refused write left nothing";
  ASSERT_EQ(AFCRemovePath(m_afc, "/Downloads/full.bin"), 0);
  EXPECT_EQ(FreeBytes(), 10);
}

TEST_F(MDAfc, ManyThreadsShareOneConnectionAndOneFileReference) {
  Open();
  std::string pattern(64 * 1024, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % 251);
  ASSERT_EQ(WriteFile("/Downloads/shared.bin", pattern), 0);
  AFCFileRef shared = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/shared.bin", kAFCFileModeRead, &shared), 0);

  std::atomic<size_t> sharedBytes{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = "/Downloads/thread" + std::to_string(t) + ".txt";
      for (int round = 0; round < 20; ++round) {
        const std::string data = "thread " + std::to_string(t) + " round " + std::to_string(round);
        if (WriteFile(path, data) != 0) ++failures;
        AFCFileRef file = 0;
        if (AFCFileRefOpen(m_afc, path.c_str(), kAFCFileModeRead, &file) != 0) {
          ++failures;
          continue;
        }
        char buffer[64];
        uint32_t length = sizeof buffer;
        if (AFCFileRefRead(m_afc, file, buffer, &length) != 0 ||
            std::string(buffer, length).compare(0, data.size(), data) != 0) {
          ++failures;
        }
        AFCFileRefClose(m_afc, file);
        // Reads on the shared reference: each call takes a contiguous run at the shared position.
        char chunk[1000];
        uint32_t got = sizeof chunk;
        if (AFCFileRefRead(m_afc, shared, chunk, &got) != 0) ++failures;
        for (uint32_t i = 1; i < got; ++i) {
          if (static_cast<unsigned char>(chunk[i]) != (static_cast<unsigned char>(chunk[i - 1]) + 1) % 251) {
            ++failures;
            break;
          }
        }
        sharedBytes += got;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(sharedBytes.load(), std::min<size_t>(pattern.size(), 8 * 20 * 1000)) << "every byte read exactly once";
  EXPECT_EQ(AFCFileRefClose(m_afc, shared), 0);
}

TEST_F(MDAfc, DroppedTransferBreaksTheConnection) {
  Open();
  ASSERT_EQ(Tool({"fault", m_udid, "--drop-after", "afcRead=1000"}), 0);
  AFCFileRef file = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/DCIM/100APPLE/IMG_0001.JPG", kAFCFileModeRead, &file), 0);
  char buffer[4096];
  uint32_t length = sizeof buffer;
  EXPECT_EQ(AFCFileRefRead(m_afc, file, buffer, &length), kAFCNotConnected);
  EXPECT_EQ(length, 1000u) << "the bytes before the drop arrived";
  std::vector<std::pair<std::string, std::string>> pairs;
  EXPECT_EQ(Stat("/DCIM", &pairs), kAFCNotConnected) << "the connection stays broken";
  char* text = AFCCopyErrorString(m_afc);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "kAFCNotConnected");
  ::free(text);
  EXPECT_EQ(AFCFileRefClose(m_afc, file), 0) << "closing still works";
}

TEST_F(MDAfc, DroppedUploadLeavesOnlyWhatArrived) {
  Open();
  ASSERT_EQ(Tool({"fault", m_udid, "--drop-after", "afcWrite=3000"}), 0);
  EXPECT_EQ(WriteFile("/Downloads/upload.bin", std::string(4096, 'u')), kAFCNotConnected);
  EXPECT_EQ(std::filesystem::file_size(Fs("/Downloads/upload.bin")), 3000u);
}

TEST_F(MDAfc, CallsFailOnceTheServiceOrTheDeviceIsGone) {
  Open();
  const size_t before = HLXMDTestGetAfcConnectionCount();
  std::vector<std::pair<std::string, std::string>> pairs;
  AMDServiceConnectionInvalidate(m_service->Get());
  EXPECT_EQ(Stat("/DCIM", &pairs), kAFCNotConnected);
  EXPECT_EQ(AFCConnectionClose(m_afc), 0);
  EXPECT_EQ(AFCConnectionClose(m_afc), kAFCInvalidArgument);
  m_afc = nullptr;
  EXPECT_EQ(HLXMDTestGetAfcConnectionCount(), before - 1);

  ServiceHolder second(m_device, "com.apple.afc");
  ASSERT_EQ(second.Result(), 0);
  ASSERT_EQ(AFCConnectionOpen(AMDServiceConnectionGetSocket(second.Get()), 0, &m_afc), 0);
  ASSERT_EQ(Stat("/DCIM", &pairs), 0);
  ASSERT_EQ(Tool({"detach", m_udid}), 0);
  EXPECT_EQ(Stat("/DCIM", &pairs), kAFCNotConnected);
  EXPECT_EQ(WriteFile("/Downloads/late.txt", "late"), kAFCNotConnected);
}

TEST_F(MDAfc, ClosedHandlesGiveCodes) {
  Open();
  AFCFileRef file = 0;
  ASSERT_EQ(AFCFileRefOpen(m_afc, "/Downloads/readme.txt", kAFCFileModeRead, &file), 0);
  ASSERT_EQ(AFCFileRefClose(m_afc, file), 0);
  char buffer[8];
  uint32_t length = sizeof buffer;
  EXPECT_EQ(AFCFileRefRead(m_afc, file, buffer, &length), kAFCInvalidArgument);
  EXPECT_EQ(AFCFileRefClose(m_afc, file), kAFCInvalidArgument);
  AFCDirectoryRef directory = nullptr;
  ASSERT_EQ(AFCDirectoryOpen(m_afc, "/", &directory), 0);
  ASSERT_EQ(AFCDirectoryClose(m_afc, directory), 0);
  char* entry = nullptr;
  EXPECT_EQ(AFCDirectoryRead(m_afc, directory, &entry), kAFCInvalidArgument);
  AFCDictionaryRef info = nullptr;
  ASSERT_EQ(AFCFileInfoOpen(m_afc, "/", &info), 0);
  ASSERT_EQ(AFCKeyValueClose(info), 0);
  char* key = nullptr;
  char* value = nullptr;
  EXPECT_EQ(AFCKeyValueRead(info, &key, &value), kAFCInvalidArgument);
  EXPECT_EQ(AFCKeyValueClose(info), kAFCInvalidArgument);
  EXPECT_EQ(AFCFileInfoOpen(m_afc, nullptr, &info), kAFCInvalidArgument);
  AFCConnectionRef other = reinterpret_cast<AFCConnectionRef>(&info);
  EXPECT_EQ(AFCConnectionOpen(-1, 0, &other), kAFCInvalidArgument);
  EXPECT_EQ(other, nullptr) << "a failed open leaves no stale handle behind";
}

TEST_F(MDAfc, AListingArrivesWholeWithItsOpen) {
  Open();
  const std::string expected =
      Python("import os; print(','.join(['.', '..'] + sorted(os.listdir('" + Fs("/Downloads") + "'))))");
  AFCDirectoryRef directory = nullptr;
  ASSERT_EQ(AFCDirectoryOpen(m_afc, "/Downloads", &directory), 0);
  // Taking the entries asks the device nothing: a fault on the reads and a detach after the open
  // leave the listing whole, while the next call that asks the device fails.
  ASSERT_EQ(Tool({"fault", m_udid, "--fail-call", "AFCDirectoryRead=1,2"}), 0);
  ASSERT_EQ(Tool({"detach", m_udid}), 0);
  std::vector<std::string> names;
  char* entry = nullptr;
  while (AFCDirectoryRead(m_afc, directory, &entry) == 0 && entry != nullptr) names.push_back(entry);
  EXPECT_EQ(AFCDirectoryClose(m_afc, directory), 0);
  std::string joined;
  for (const auto& name : names) joined += (joined.empty() ? "" : ",") + name;
  EXPECT_EQ(joined, expected);
  names.clear();
  EXPECT_EQ(List("/Downloads", &names), kAFCNotConnected);
}

TEST_F(MDAfc, Afc2ServesTheWholeFileSystemOfAJailbrokenDevice) {
  Open({"--jailbroken"}, "com.apple.afc2");
  std::vector<std::string> names;
  EXPECT_EQ(List("/var/root/Media/Cydia/AutoInstall", &names), 0);
  EXPECT_EQ((std::vector<std::string>{".", ".."}), names);
  names.clear();
  EXPECT_EQ(List("/DCIM", &names), kAFCNotFound) << "afc2 does not serve the media folder at its root";
}

TEST(MDAfcArguments, AfcRefusesSocketsOfOtherServices) {
  AFCConnectionRef afc = nullptr;
  EXPECT_EQ(AFCConnectionOpen(0, 0, &afc), kAFCInvalidArgument);
  EXPECT_EQ(afc, nullptr);
  EXPECT_EQ(AFCConnectionOpen(0, 0, nullptr), kAFCInvalidArgument);
  auto bogus = reinterpret_cast<AFCConnectionRef>(static_cast<uintptr_t>(0x7fff0));
  AFCDirectoryRef directory = nullptr;
  EXPECT_EQ(AFCDirectoryOpen(bogus, "/", &directory), kAFCInvalidArgument);
  EXPECT_EQ(AFCConnectionClose(bogus), kAFCInvalidArgument);
}

}  // namespace
