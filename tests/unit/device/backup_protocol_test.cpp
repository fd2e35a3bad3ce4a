// The backup protocol against the simulated device: the partial backup that the messages module
// runs (only the wanted files written, the session ended at the first), a device that hangs up in
// the middle of its file stream, and the confinement of device-named paths.
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

TEST(BackupProtocol, APartialBackupWritesTheWantedFileAndStopsThere) {
  BackupRun run;
  run.Attach({}, std::string("SQLite format 3\0 database bytes", 32));
  const std::string id = kSmsId;
  const BackupSessionResult result = run.Backup({id, id + "-shm", id + "-wal"});
  EXPECT_EQ(result.code, kReplySuccess) << result.text;
  EXPECT_EQ(result.wantedPath, run.folder / "backup/3d/" + id);
  EXPECT_EQ(test::ReadFile(result.wantedPath), std::string("SQLite format 3\0 database bytes", 32));
  // Nothing else was written: the session ended before the manifests.
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

TEST(BackupProtocol, ADeviceThatHangsUpInItsFileStreamEndsTheBackupWith45) {
  BackupRun run;
  SimulatedDevice::Options options;
  options.statePatch = R"({"faults": {"dropAfterBytes": {"serviceStream": 30000}}})";
  options.imageArgs = {"--big-file-mib", "1"};
  run.Attach(options, "");
  const BackupSessionResult result = run.Backup({});
  EXPECT_EQ(result.code, kReplyBackupDeviceGone);
  EXPECT_FALSE(Exists(run.folder / "backup")) << "a failed full backup leaves no folder";
}

TEST(BackupProtocol, DevicePathsStayInsideTheirFolder) {
  const struct {
    const char* devicePath;
    const char* local;  // "" refused
  } cases[] = {
      {"abc/Manifest.db", "/b/Manifest.db"}, {"abc/3d/x", "/b/3d/x"},      {"abc", "/b"},
      {"abc/", "/b"},                       {"abc//a", "/b/a"},           {"abc/../other", ""},
      {"abc/a/../../x", ""},                {"abc/./a", ""},              {"abcd/a", ""},
      {"other/abc/a", ""},                  {"/abc/a", ""},               {"abc/a\\..\\x", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HLXBackupProtocol::MapDevicePath("/b/", "abc", c.devicePath), c.local) << c.devicePath;
  }
  EXPECT_EQ(HLXBackupProtocol::MapDevicePath("/b/", "", "x"), "");
}

}  // namespace
}  // namespace hlx
