// File and folder utilities: MD5 against the RFC 1321 vectors and md5sum, zlib and base64 against
// Python, the service's folders, folder sizes with a sparse 5 GiB file, and unique local paths.
#include "utility/hlx_encoding.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_zlib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "utility/hlx_startup_state.h"
#include "utility_test_support.h"

namespace hlx {
namespace {

using test::PathExists;
using test::Python;
using test::ReadFile;
using test::ShellOutput;
using test::ShellQuote;
using test::TempFolder;
using test::WriteFile;

// ---- MD5
// -----------------------------------------------------------------------------------------

TEST(GetFileMd5, AgreesWithMd5sum) {
  TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  struct Sample {
    std::string name;
    std::string bytes;
  } samples[] = {
      {"empty", ""},
      {"one", "x"},
      {"block", test::SeededBytes(1024, 1, false)},
      {"block and one", test::SeededBytes(1025, 2, false)},
      {"\xC3\xA9t\xC3\xA9 blank.bin", test::SeededBytes(3 << 20, 3, false)},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::string path = folder / sample.name;
    ASSERT_TRUE(WriteFile(path, sample.bytes));
    int status = -1;
    std::string reference = ShellOutput("md5sum " + ShellQuote(path), &status);
    ASSERT_EQ(status, 0);
    ASSERT_GE(reference.size(), 32u);
    EXPECT_EQ(GetFileMd5(path), reference.substr(0, 32));
  }
}

TEST(Md5Digest, KnownVectorsWholeAndInPieces) {
  // The test suite of RFC 1321.
  const std::pair<std::string, std::string> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : vectors) {
    SCOPED_TRACE(text);
    Md5Digest whole;
    ASSERT_TRUE(whole.Update(text.data(), text.size()));
    EXPECT_EQ(whole.Finish(), hex);
    EXPECT_TRUE(IsMd5Text(hex));
    // Byte by byte (and with empty pieces between) gives the same digest.
    Md5Digest pieces;
    for (char c : text) {
      ASSERT_TRUE(pieces.Update(&c, 1));
      ASSERT_TRUE(pieces.Update(nullptr, 0));
    }
    EXPECT_EQ(pieces.Finish(), hex);
    EXPECT_EQ(pieces.FirstFailure(), Md5Digest::Failure::kNone);
  }
  // Finish ends the digest: nothing more goes in, and a second Finish gives no digest.
  Md5Digest ended;
  EXPECT_EQ(ended.Finish(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_FALSE(ended.Update("a", 1));
  EXPECT_EQ(ended.Finish(), "");

  EXPECT_TRUE(IsMd5Text("D41D8CD98F00B204E9800998ECF8427E"));
  for (const std::string bad : {"", "a", "d41d8cd98f00b204e9800998ecf8427", "d41d8cd98f00b204e9800998ecf8427e0",
                                "g41d8cd98f00b204e9800998ecf8427e", " d41d8cd98f00b204e9800998ecf8427"}) {
    EXPECT_FALSE(IsMd5Text(bad)) << bad;
  }
}

TEST(GetFileMd5, FailuresGiveAnEmptyTextAndPrintTheirLine) {
  TempFolder folder;
  std::string missing = folder / "missing.bin";
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileMd5(missing), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file " + missing + "\nError: 2\n");

  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileMd5(folder.path()), "");  // a folder opens but cannot be read
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ReadFile failed: 21\n");
}

// ---- zlib
// ----------------------------------------------------------------------------------------

TEST(Zlib, CompressedOutputInflatesInPython) {
  TempFolder folder;
  const std::string inputs[] = {
      "",
      "a",
      test::SeededBytes(100000, 11, false),
      test::SeededBytes(3 << 20, 12, true),
  };
  int index = 0;
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.size());
    std::string compressed = "kept";  // the output is appended to what is there
    ASSERT_TRUE(ZlibCompress(compressed, input.data(), input.size()));
    ASSERT_EQ(compressed.substr(0, 4), "kept");
    compressed.erase(0, 4);
    // A zlib header for deflate with a 32 KiB window (78), its check bits valid.
    ASSERT_GE(compressed.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(compressed[0]), 0x78);
    EXPECT_EQ((0x78 * 256 + static_cast<unsigned char>(compressed[1])) % 31, 0);
    std::string packed = folder / ("packed" + std::to_string(index));
    std::string plain = folder / ("plain" + std::to_string(index));
    ++index;
    ASSERT_TRUE(WriteFile(packed, compressed));
    ASSERT_TRUE(WriteFile(plain, input));
    int status = -1;
    std::string verdict =
        ShellOutput(Python() + " -c " +
                        ShellQuote("import sys, zlib\n"
                                   "d = zlib.decompress(open(sys.argv[1], 'rb').read())\n"
                                   "print('same' if d == open(sys.argv[2], 'rb').read() else 'different')\n") +
                        " " + ShellQuote(packed) + " " + ShellQuote(plain),
                    &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(verdict, "same\n");
  }
}

// A compressor is made on memory that held other bytes and is kept for the next reply: what it reads
// must be this call's input only, never a pointer or count left in that memory or by its last use (an
// empty input after a large one whose bytes are gone included). The freed blocks below leave the heap
// dirty where the first compressor of this process is made.
TEST(Zlib, CompressorsReadOnlyTheInputTheyAreGiven) {
  { const std::string raisesTheHeapsLargeBlockLimit(size_t{8} << 20, 'x'); }
  {
    std::vector<std::string> dirt;
    for (int i = 0; i < 4; ++i) dirt.emplace_back(size_t{512} << 10, '\x5a');
  }
  auto roundTrip = [](const std::string& input) {
    std::string packed;
    std::string out;
    return ZlibCompress(packed, input.data(), input.size()) &&
           ZlibInflate(out, packed.data(), packed.size(), input.size() + 1) == InflateResult::kOk && out == input;
  };
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(roundTrip("a"));
    EXPECT_TRUE(roundTrip(test::SeededBytes(size_t{4} << 20, 41 + round, true)));
    EXPECT_TRUE(roundTrip(""));
  }
  // Threads that run at once make compressors of their own and pass them on.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        const size_t length = i % 3 == 0 ? 0 : (i % 3 == 1 ? size_t{1} << 20 : 300);
        if (!roundTrip(test::SeededBytes(length, static_cast<uint32_t>(t * 100 + i), i % 2 == 0))) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(Zlib, PythonCompressedDataInflates) {
  TempFolder folder;
  std::string plainPath = folder / "plain";
  std::string plain = test::SeededBytes(2 << 20, 21, true) + test::SeededBytes(70000, 22, false);
  ASSERT_TRUE(WriteFile(plainPath, plain));
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    std::string packedPath = folder / ("packed" + std::to_string(level));
    int status = -1;
    ShellOutput(Python() + " -c " +
                    ShellQuote("import sys, zlib\n"
                               "open(sys.argv[2], 'wb').write(zlib.compress(open(sys.argv[1], 'rb')"
                               ".read(), int(sys.argv[3])))\n") +
                    " " + ShellQuote(plainPath) + " " + ShellQuote(packedPath) + " " + std::to_string(level),
                &status);
    ASSERT_EQ(status, 0);
    std::string packed = ReadFile(packedPath);
    std::string out = "kept";
    ASSERT_EQ(ZlibInflate(out, packed.data(), packed.size(), kMaxRequestDataBytes), InflateResult::kOk);
    EXPECT_TRUE(out == "kept" + plain);
  }
}

TEST(Zlib, TruncatedOrCorruptDataIsRefused) {
  std::string plain = test::SeededBytes(200000, 31, true);
  std::string packed;
  ASSERT_TRUE(ZlibCompress(packed, plain.data(), plain.size()));
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, packed.size() / 2, packed.size() - 1}) {
    SCOPED_TRACE(cut);
    std::vector<char> prefix(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
    std::string out;
    EXPECT_NE(ZlibInflate(out, prefix.data(), prefix.size(), kMaxRequestDataBytes), InflateResult::kOk);
  }
  std::string corrupt = packed;
  corrupt[corrupt.size() / 2] ^= 0x55;
  corrupt[corrupt.size() - 1] ^= 0x55;  // at the latest the check value fails
  std::string out;
  EXPECT_NE(ZlibInflate(out, corrupt.data(), corrupt.size(), kMaxRequestDataBytes), InflateResult::kOk);
  std::string trailing = packed + "garbage after the stream";
  out.clear();
  EXPECT_EQ(ZlibInflate(out, trailing.data(), trailing.size(), kMaxRequestDataBytes), InflateResult::kOk);
  EXPECT_TRUE(out == plain);
}

TEST(Zlib, InflationStopsAtItsCap) {
  const std::string plain(size_t{8} << 20, '\0');  // 8 MiB of zeros pack into about 8 KiB
  std::string packed;
  ASSERT_TRUE(ZlibCompress(packed, plain.data(), plain.size()));
  std::string out;
  EXPECT_EQ(ZlibInflate(out, packed.data(), packed.size(), plain.size() / 8), InflateResult::kTooLarge);
  EXPECT_LE(out.size(), plain.size() / 8 + 64 * 1024) << "inflated far beyond the cap";
  out.clear();
  EXPECT_EQ(ZlibInflate(out, packed.data(), packed.size(), plain.size()), InflateResult::kOk);
  EXPECT_EQ(out.size(), plain.size());
}

// ---- base64
// --------------------------------------------------------------------------------------

TEST(Base64, AgreesWithPython) {
  TempFolder folder;
  for (size_t length : {0, 1, 2, 3, 4, 5, 57, 58, 100000}) {
    SCOPED_TRACE(length);
    std::string data = test::SeededBytes(length, static_cast<uint32_t>(length) + 40, false);
    std::string path = folder / "data";
    ASSERT_TRUE(WriteFile(path, data));
    int status = -1;
    std::string reference =
        ShellOutput(Python() + " -c " +
                        ShellQuote("import sys, base64\n"
                                   "sys.stdout.write(base64.b64encode(open(sys.argv[1], 'rb').read()).decode())\n") +
                        " " + ShellQuote(path),
                    &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Base64Encode(data.data(), data.size()), reference);
    std::string decoded;
    ASSERT_TRUE(Base64Decode(reference, decoded));
    EXPECT_TRUE(decoded == data);
  }
}

TEST(Base64, LineBreaksAreSkippedAndBadTextRefused) {
  std::string decoded;
  ASSERT_TRUE(Base64Decode("SGVs\nbG8g\r\nd29y bGQ=\n", decoded));
  EXPECT_EQ(decoded, "Hello world");
  for (const char* bad : {"SGVsbG8", "SGV*bG8=", "SG=sbG8=", "=SGV", "SGVsbG8==="}) {
    SCOPED_TRACE(bad);
    decoded = "old";
    EXPECT_FALSE(Base64Decode(bad, decoded));
    EXPECT_EQ(decoded, "");
  }
}

// ---- Folders
// -------------------------------------------------------------------------------------

// Points the start-up state's log folder somewhere for one test.
class LogFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.path().empty());
    m_oldLogFolder = GetStartupState().logFolder;
    GetStartupState().logFolder = m_temp / "logs/20240131";
  }
  void TearDown() override { GetStartupState().logFolder = m_oldLogFolder; }

  TempFolder m_temp;
  std::string m_oldLogFolder;
};

TEST(Folders, ProgramPathAndName) {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(GetModuleFilePath(), std::string(buffer, static_cast<size_t>(n)));
  EXPECT_EQ(GetProgramFileName(), "harlix_unit_tests");
}

TEST_F(LogFolderTest, ProcessTempFolderLivesInTheLogFolder) {
  std::string expected = GetStartupState().logFolder + "/harlix_unit_tests-" + std::to_string(getpid()) + "/";
  EXPECT_EQ(GetProcessTempFolder(false), expected);
  EXPECT_FALSE(PathExists(expected));
  EXPECT_EQ(GetProcessTempFolder(true), expected);
  EXPECT_TRUE(PathExists(expected));

  std::string sub = CreateTempSubfolder("work");
  EXPECT_EQ(sub, expected + "work/");
  EXPECT_TRUE(PathExists(sub));
  ASSERT_TRUE(WriteFile(sub + "file", "contents"));

  EXPECT_TRUE(DeleteProcessTempFolder());
  EXPECT_FALSE(PathExists(expected));
  EXPECT_TRUE(PathExists(GetStartupState().logFolder));
}

TEST_F(LogFolderTest, DriverDownloadFolderIsCreated) {
  std::string folder = GetDriverDownloadFolder();
  EXPECT_EQ(folder, GetStartupState().logFolder + "/ios_driver/");
  EXPECT_TRUE(PathExists(folder));
}

TEST(Folders, ProcessTempFolderBeforeStartUpUsesTheTemporaryPath) {
  std::string old = GetStartupState().logFolder;
  GetStartupState().logFolder.clear();
  std::string folder = GetProcessTempFolder(false);
  GetStartupState().logFolder = old;
  EXPECT_EQ(folder, os::Os().tempPath() + "harlix_unit_tests-" + std::to_string(getpid()) + "/");
}

TEST(Folders, DeleteDirectoryTreeEmptiesThePathAndRefusesRoots) {
  TempFolder temp;
  std::string tree = temp / "tree";
  ASSERT_TRUE(os::Os().createDirectories(tree + "/a/b"));
  ASSERT_TRUE(WriteFile(tree + "/a/b/file", "x"));
  std::string path = tree + "/";
  EXPECT_TRUE(DeleteDirectoryTree(path));
  EXPECT_EQ(path, "");
  EXPECT_FALSE(PathExists(tree));

  for (const char* refused : {"", "/", "//", "relative/folder"}) {
    SCOPED_TRACE(refused);
    std::string root = refused;
    EXPECT_FALSE(DeleteDirectoryTree(root));
    EXPECT_EQ(root, "");
  }
}

TEST(Folders, BackupRootFollowsXdgConfigHomeOrHome) {
  {
    test::ScopedEnv config("XDG_CONFIG_HOME", "/srv/config/");
    test::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(GetBackupRootFolder(), "/srv/config/Apple Computer/MobileSync/Backup/");
  }
  {
    test::ScopedEnv config("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
    test::ScopedEnv home("HOME", "/home/someone/");
    EXPECT_EQ(GetBackupRootFolder(), "/home/someone/.config/Apple Computer/MobileSync/Backup/");
  }
  {
    test::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    test::ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(GetBackupRootFolder(), "");
  }
}

TEST(Folders, AppleMobileBackupPathUnderTheProgramFilesRoot) {
  {
    test::ScopedEnv root("HLX_PROGRAM_FILES", "/srv/program files/");
    EXPECT_EQ(GetAppleMobileBackupPath(),
              "/srv/program files/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe");
  }
  {
    test::ScopedEnv root("HLX_PROGRAM_FILES", nullptr);
    EXPECT_EQ(GetAppleMobileBackupPath(), "/opt/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe");
  }
  {
    test::ScopedEnv root("HLX_PROGRAM_FILES", "");
    EXPECT_EQ(GetAppleMobileBackupPath(), "/opt/Common Files/Apple/Mobile Device Support/AppleMobileBackup.exe");
  }
}

TEST(Folders, IsDotOrDotDot) {
  EXPECT_TRUE(IsDotOrDotDot("."));
  EXPECT_TRUE(IsDotOrDotDot(".."));
  EXPECT_FALSE(IsDotOrDotDot("..."));
  EXPECT_FALSE(IsDotOrDotDot(".a"));
  EXPECT_FALSE(IsDotOrDotDot(""));
  EXPECT_FALSE(IsDotOrDotDot(nullptr));
}

// Names as they arrive from devices, backups, zips and peers.
TEST(PathNames, PlainChildNamesOnThePcAndTheDeviceSide) {
  using namespace std::string_literals;
  const struct {
    std::string name;
    bool pc;      // IsPlainChildName(name)
    bool device;  // IsPlainChildName(name, PathSide::kDevice)
  } cases[] = {
      // Honest names: dots, spaces, unicode, punctuation a PC path takes.
      {"report.pdf", true, true},
      {"archive.tar.gz", true, true},
      {".hidden", true, true},
      {"...", true, true},
      {"a..b", true, true},
      {"name with spaces ", true, true},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", true, true},  // Japanese
      {"\xF0\x9F\x98\x80 photo (1).heic", true, true},           // emoji
      {"00008030-001A2D3E0C12802E", true, true},                 // a UDID
      {"c:d", true, true},
      // A backslash separates on the PC only: on the device it is a character of the name.
      {"a\\b", false, true},
      {"..\\x", false, true},
      // Hostile names: empty, climbing, separating, ending early.
      {"", false, false},
      {".", false, false},
      {"..", false, false},
      {"/", false, false},
      {"a/b", false, false},
      {"../x", false, false},
      {"/etc", false, false},
      {"x/", false, false},
      {"a\0b"s, false, false},
      {"\0"s, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    EXPECT_EQ(IsPlainChildName(c.name), c.pc);
    EXPECT_EQ(IsPlainChildName(c.name, PathSide::kPc), c.pc);
    EXPECT_EQ(IsPlainChildName(c.name, PathSide::kDevice), c.device);
  }
}

TEST(PathNames, JoinInsideKeepsTheResultInsideTheFolder) {
  using namespace std::string_literals;
  const struct {
    std::string relative;
    std::string joined;  // below "/f/"; "" refused
  } cases[] = {
      {"a.txt", "/f/a.txt"},
      {"a/b/c.d.e", "/f/a/b/c.d.e"},
      {"a//b", "/f/a/b"},
      {"dir/", "/f/dir"},
      {"...", "/f/..."},
      {".config/x", "/f/.config/x"},
      {"\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80 x.txt", "/f/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80 x.txt"},
      {"My Documents/a b", "/f/My Documents/a b"},
      // Hostile: absolute, climbing (even when it would come back), "." parts, NUL, backslashes, nothing.
      {"", ""},
      {"/", ""},
      {"//", ""},
      {"/etc/passwd", ""},
      {"..", ""},
      {"../x", ""},
      {"a/../../x", ""},
      {"a/../b", ""},
      {"a/..", ""},
      {"./a", ""},
      {"a/./b", ""},
      {"a\\..\\x", ""},
      {"a/b\0/../../x"s, ""},
      {"a\0"s, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.relative));
    EXPECT_EQ(JoinInside("/f/", c.relative), c.joined);
    EXPECT_EQ(JoinInside("/f", c.relative), c.joined) << "the folder without its '/'";
  }
  EXPECT_EQ(JoinInside("", "a/b"), "a/b");
}

TEST(PathNames, OpenRegularFileInsideFollowsNoLinkAndOpensRegularFilesOnly) {
  TempFolder temp;
  const std::string inside = temp / "inside";
  ASSERT_TRUE(os::Os().createDirectories(inside + "/sub dir"));
  ASSERT_TRUE(WriteFile(inside + "/sub dir/\xF0\x9F\x98\x80 a.txt", "inside"));
  ASSERT_TRUE(os::Os().createDirectories(temp / "outside"));
  ASSERT_TRUE(WriteFile(temp / "outside/outside.txt", "outside"));
  ASSERT_EQ(::symlink((temp / "outside/outside.txt").c_str(), (inside + "/file-link").c_str()), 0);
  ASSERT_EQ(::symlink((temp / "outside").c_str(), (inside + "/folder-link").c_str()), 0);
  ASSERT_EQ(::mkfifo((inside + "/fifo").c_str(), 0600), 0);

  const int fd = OpenRegularFileInside(inside, "sub dir//\xF0\x9F\x98\x80 a.txt");
  ASSERT_GE(fd, 0);
  char bytes[16] = {};
  EXPECT_EQ(::read(fd, bytes, sizeof bytes), 6);
  EXPECT_STREQ(bytes, "inside");
  ::close(fd);

  const struct {
    const char* relative;
    int error;
  } refused[] = {
      {"missing", ENOENT},
      {"sub dir/missing", ENOENT},
      {"file-link", ELOOP},
      {"folder-link/outside.txt", ENOTDIR},
      {"sub dir", EINVAL},
      {"fifo", EINVAL},
      {"../outside/outside.txt", EINVAL},
      {"/etc/passwd", EINVAL},
      {"", EINVAL},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.relative);
    errno = 0;
    EXPECT_EQ(OpenRegularFileInside(inside, c.relative), -1);
    EXPECT_EQ(errno, c.error);
  }
}

TEST(GetFolderSize, CountsASparseFiveGibibyteFileWholeAndRecurses) {
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  constexpr uint64_t kFiveGiB = 5ULL << 30;
  int fd = open((temp / "big.bin").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kFiveGiB)), 0);
  close(fd);
  ASSERT_TRUE(os::Os().createDirectories(temp / "sub/deeper"));
  ASSERT_TRUE(WriteFile(temp / "sub/ten.bin", "0123456789"));
  ASSERT_TRUE(WriteFile(temp / "sub/deeper/three", "abc"));
  // Links are neither counted nor followed (a link to the folder itself would never end).
  ASSERT_EQ(symlink((temp / "big.bin").c_str(), (temp / "link-to-big").c_str()), 0);
  ASSERT_EQ(symlink(temp.path().c_str(), (temp / "sub/loop").c_str()), 0);

  EXPECT_EQ(GetFolderSize(temp.path(), 0), kFiveGiB + 13);
  EXPECT_EQ(GetFolderSize(temp.path() + "/", 7), kFiveGiB + 13 + 7);
  EXPECT_EQ(GetFolderSize(temp / "sub", 0), 13u);
  EXPECT_EQ(GetFolderSize(temp / "missing", 42), 42u);
}

TEST(MakeUniqueLocalPath, CountsUpPastTakenNames) {
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  std::string free = temp / "free.txt";
  EXPECT_EQ(MakeUniqueLocalPath(free), free);

  ASSERT_TRUE(WriteFile(temp / "a.txt", ""));
  ASSERT_TRUE(WriteFile(temp / "a(1).txt", ""));
  EXPECT_EQ(MakeUniqueLocalPath(temp / "a.txt"), temp / "a(2).txt");

  ASSERT_TRUE(WriteFile(temp / "photo.tar.gz", ""));
  EXPECT_EQ(MakeUniqueLocalPath(temp / "photo.tar.gz"), temp / "photo.tar(1).gz");

  // A dangling link is taken, so a writer never follows it.
  ASSERT_EQ(symlink("/nonexistent/target", (temp / "link.txt").c_str()), 0);
  EXPECT_EQ(MakeUniqueLocalPath(temp / "link.txt"), temp / "link(1).txt");
}

TEST(MakeUniqueLocalPath, DotOnlyInAFolderNameAppendsTheCounterToTheFileName) {
  TempFolder temp;
  ASSERT_TRUE(os::Os().createDirectories(temp / "album.d"));
  ASSERT_TRUE(WriteFile(temp / "album.d/README", ""));
  EXPECT_EQ(MakeUniqueLocalPath(temp / "album.d/README"), temp / "album.d/README(1)");
}

TEST(MakeUniqueLocalPath, ANameWithoutAnyDotGetsItsCounterToo) {
  TempFolder temp;
  ASSERT_TRUE(WriteFile(temp / "README", "the user's"));
  ASSERT_TRUE(os::Os().createDirectories(temp / "Novel"));
  EXPECT_EQ(MakeUniqueLocalPath(temp / "README"), temp / "README(1)");
  EXPECT_EQ(MakeUniqueLocalPath(temp / "Novel"), temp / "Novel(1)");
}

TEST(NumberedPathVariant, PutsTheCounterBeforeTheFileNamesOwnExtension) {
  const struct {
    const char* path;
    int n;
    const char* variant;
  } cases[] = {{"/a/song.mp3", 0, "/a/song.mp3"},           {"/a/song.mp3", 2, "/a/song(2).mp3"},
               {"/a/photo.tar.gz", 1, "/a/photo.tar(1).gz"}, {"/a/README", 1, "/a/README(1)"},
               {"/a.d/README", 3, "/a.d/README(3)"},         {"README", 1, "README(1)"},
               {"/a/up.bin.bak", 1, "/a/up.bin(1).bak"},     {"/a/.profile", 1, "/a/(1).profile"}};
  for (const auto& c : cases) EXPECT_EQ(NumberedPathVariant(c.path, c.n), c.variant) << c.path << " " << c.n;
}

// The caller gets no name rather than one that would write over a file.
TEST(MakeUniqueLocalPath, AllNineHundredNinetyNineTakenGivesNoPath) {
  TempFolder temp;
  ASSERT_TRUE(WriteFile(temp / "x.bin", ""));
  for (int n = 1; n <= 999; ++n) {
    ASSERT_TRUE(WriteFile(temp / ("x(" + std::to_string(n) + ").bin"), ""));
  }
  EXPECT_EQ(MakeUniqueLocalPath(temp / "x.bin"), "");
}

}  // namespace
}  // namespace hlx
