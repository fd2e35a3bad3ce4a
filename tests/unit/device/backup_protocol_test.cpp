// The backup protocol against the simulated device: the partial backup that the messages module
// runs (only the wanted files written), a full backup's files over a plain connection (whose file
// data is spliced from the socket) and over an encrypted one (received through the library), a
// device that hangs up in the middle of its file stream, and the confinement of device-named paths.
#include "utility/hlx_backup_protocol.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "os/hlx_os.h"
#include "unit/device/simulated_device.h"
#include "utility/hlx_device.h"
#include "utility/hlx_reply_code.h"

namespace hlx {
namespace {

using test::SimulatedDevice;

constexpr char kSmsId[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
// The backup names of "MediaDomain-Media/Downloads/big.bin" and ".../readme.txt".
constexpr char kBigFileId[] = "744a6e680728924aa588135495ad4c6b9d3b2938";
constexpr char kReadmeId[] = "86e810dc6ecb7693e572ac287d7ff857e48e4137";
// The two kinds of backup service connection, as members of the image's state: plain (file data
// is spliced from its socket) and reporting a secure context (file data comes through the library).
constexpr const char* kConnectionKinds[] = {"", R"("sslServices": ["com.apple.mobilebackup2"])"};

// A state patch of a connection kind and further members.
std::string StatePatch(const std::string& kind, const std::string& members) {
  return "{" + kind + (kind.empty() || members.empty() ? "" : ", ") + members + "}";
}

struct BackupRun {
  SimulatedDevice simulated;
  std::shared_ptr<HLXDevice> device;
  test::TempFolder folder;

  // Attaches the device; `database` (when not empty) becomes its messages database.
  void Attach(const SimulatedDevice::Options& options, const std::string& database) {
    std::string error;
    ASSERT_TRUE(simulated.Attach(options, &error)) << error;
    if (!database.empty()) {
      ASSERT_TRUE(test::WriteFile(simulated.ImageFolder() + "/sms.db", database));
    }
    device = std::make_shared<HLXDevice>(simulated.device());
    DeviceProperties properties;
    properties.udid = simulated.Udid();
    device->SetProperties(properties);
    device->SetState(HLXDevice::kStateReady);
  }

  BackupSessionResult Backup(std::vector<std::string> wanted) {
    BackupSessionOptions options;
    options.backupFolder = folder / "backup/";
    EXPECT_TRUE(os::Os().createDirectories(options.backupFolder));
    options.wantedNames = std::move(wanted);
    HLXBackupProtocol protocol(device);
    return protocol.Backup(options);
  }
};

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

TEST(BackupProtocol, APartialBackupWritesOnlyTheWantedFiles) {
  BackupRun run;
  run.Attach({}, std::string("SQLite format 3\0 database bytes", 32));
  const std::string id = kSmsId;
  const BackupSessionResult result = run.Backup({id, id + "-shm", id + "-wal"});
  EXPECT_EQ(result.code, kReplySuccess) << result.text;
  EXPECT_EQ(result.wantedPath, run.folder / "backup/3d/" + id);
  EXPECT_EQ(test::ReadFile(result.wantedPath), std::string("SQLite format 3\0 database bytes", 32));
  // Nothing else was written, not even the manifests.
  EXPECT_FALSE(Exists(run.folder / "backup/Manifest.db"));
}

TEST(BackupProtocol, APartialBackupWithoutTheWantedFileEndsWith46AndKeepsTheFolder) {
  BackupRun run;
  run.Attach({}, "");
  const BackupSessionResult result = run.Backup({kSmsId});
  EXPECT_EQ(result.code, kReplyBackupNoWantedFile);
  EXPECT_TRUE(result.wantedPath.empty());
  EXPECT_TRUE(Exists(run.folder / "backup"));
}

// Stored as "<first two hex digits>/<id>" below the backup folder (the device's default layout).
std::string StoredFile(const BackupRun& run, const std::string& id) {
  return test::ReadFile(run.folder / "backup/" + id.substr(0, 2) + "/" + id);
}

TEST(BackupProtocol, AFullBackupStoresTheDeviceFilesOverPlainAndEncryptedConnections) {
  for (const std::string kind : kConnectionKinds) {
    SCOPED_TRACE(kind.empty() ? "plain" : "encrypted");
    BackupRun run;
    SimulatedDevice::Options options;
    options.statePatch = StatePatch(kind, "");
    options.imageArgs = {"--big-file-mib", "3"};
    run.Attach(options, "");
    const BackupSessionResult result = run.Backup({});
    ASSERT_EQ(result.code, kReplySuccess) << result.text;
    const std::string image = run.simulated.ImageFolder() + "/fs/Downloads/";
    const std::string big = test::ReadFile(image + "big.bin");
    ASSERT_EQ(big.size(), 3u << 20);
    EXPECT_TRUE(StoredFile(run, kBigFileId) == big) << "the large file arrives byte for byte";
    EXPECT_EQ(StoredFile(run, kReadmeId), test::ReadFile(image + "readme.txt"));
    EXPECT_TRUE(Exists(run.folder / "backup/Manifest.db"));
  }
}

TEST(BackupProtocol, ADeviceThatHangsUpInItsFileStreamEndsTheBackupWith45) {
  // 30000 bytes are within the first block of the large file.
  for (const std::string kind : kConnectionKinds) {
    SCOPED_TRACE(kind.empty() ? "plain" : "encrypted");
    BackupRun run;
    SimulatedDevice::Options options;
    options.statePatch = StatePatch(kind, R"("faults": {"dropAfterBytes": {"serviceStream": 30000}})");
    options.imageArgs = {"--big-file-mib", "1"};
    run.Attach(options, "");
    const BackupSessionResult result = run.Backup({});
    EXPECT_EQ(result.code, kReplyBackupDeviceGone);
    EXPECT_FALSE(Exists(run.folder / "backup")) << "a failed full backup leaves no folder";
  }
}

TEST(BackupProtocol, DevicePathsStayInsideTheirFolder) {
  const struct {
    const char* devicePath;
    const char* local;  // "" refused
  } cases[] = {
      {"abc/Manifest.db", "/b/Manifest.db"},
      {"abc/3d/x", "/b/3d/x"},
      {"abc", "/b"},
      {"abc/", "/b"},
      {"abc//a", "/b/a"},
      {"abc/../other", ""},
      {"abc/a/../../x", ""},
      {"abc/./a", ""},
      {"abcd/a", ""},
      {"other/abc/a", ""},
      {"/abc/a", ""},
      {"abc/a\\..\\x", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HLXBackupProtocol::MapDevicePath("/b/", "abc", c.devicePath), c.local) << c.devicePath;
  }
  EXPECT_EQ(HLXBackupProtocol::MapDevicePath("/b/", "", "x"), "");
}

}  // namespace
}  // namespace hlx
