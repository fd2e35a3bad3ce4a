// The MobileDevice binding: the full slot table against the simulated library's own exports (looked
// up independently with dlsym), the calls that go through it, every way Init must fail (each in a
// new process, since a loaded library cannot be unloaded for the next case), the runtime library
// beside the host library, the CoreFoundation search folders, and a second Init that touches
// nothing.
#include "iOSAPI/MobileExportFun.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include "os/hlx_os.h"
#include "unit/device/device_test_support.h"

namespace hlx {
namespace {

using test::AppleSupportDir;
using test::ExpectInFreshProcess;
using test::ProgramFilesRootOf;
using test::RegistryText;
using test::ScopedEnv;
using test::SimulatedCoreFoundation;
using test::SimulatedDeviceLibrary;
using test::SimulatedHostLibrary;
using test::TempFolder;
using test::WriteFile;

constexpr int kInitTrue = 10;
constexpr int kInitFalse = 20;

// A stand-in that exports every name of the table and depends on no library.
std::string StandInDeviceLibrary() { return std::string(HLX_STANDIN_LIBRARIES_DIR) + "/none/libMobileDevice.so"; }

std::string LackingLibrary(const std::string& missing) {
  return std::string(HLX_STANDIN_LIBRARIES_DIR) + "/" + missing +
         "/Common Files/Apple/Mobile Device Support/libCoreFoundation.so";
}

// Failures of Init are logged at ERROR; in a test's child process glog writes them to stderr so
// that the expectation can check the reason.
void LogToStderr() {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = 0;
}

// Builds the registry store's text in a new process; may make files in `folder`, which is that
// process's own and is deleted before it exits (nothing made before the new process starts would
// be: the new process runs the test again from its start and leaves by _Exit).
using RegistryMaker = std::function<std::string(const std::string& folder)>;

// In a new process: the registry file holds the maker's text, $HLX_PROGRAM_FILES is `programFiles`
// (unset when empty); exits kInitTrue or kInitFalse by Init's answer.
void ExpectInit(const RegistryMaker& makeRegistry, const std::string& programFiles, int expected,
                const char* stderrPattern = "") {
  ExpectInFreshProcess(
      [&] {
        LogToStderr();
        TempFolder folder;
        const std::string registry = folder / "registry.txt";
        if (!WriteFile(registry, makeRegistry(folder.path()))) return 3;
        setenv("HLX_REGISTRY_FILE", registry.c_str(), 1);
        if (programFiles.empty()) {
          unsetenv("HLX_PROGRAM_FILES");
        } else {
          setenv("HLX_PROGRAM_FILES", programFiles.c_str(), 1);
        }
        return CMobileExportFun::GetInstance().Init() ? kInitTrue : kInitFalse;
      },
      expected, stderrPattern);
}

RegistryMaker Fixed(const std::string& text) {
  return [text](const std::string&) { return text; };
}

// ---- The table -------------------------------------------------------------------------------

TEST(MobileExportFun, EverySlotHoldsTheExportOfItsNameFromItsLibrary) {
  ASSERT_TRUE(test::BindSimulatedLibrary());
  CMobileExportFun& binding = CMobileExportFun::GetInstance();
  ASSERT_TRUE(binding.IsLoaded());

  // Independent handles on the same files: dlopen hands out the loaded copies.
  void* device = dlopen(SimulatedDeviceLibrary().c_str(), RTLD_NOW | RTLD_NOLOAD);
  void* coreFoundation = dlopen(SimulatedCoreFoundation().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(device, nullptr) << "the device library is not loaded";
  ASSERT_NE(coreFoundation, nullptr) << "CoreFoundation is not loaded";

  size_t deviceSlots = 0;
  for (size_t slot = 0; slot < CMobileExportFun::kSlotCount; ++slot) {
    SCOPED_TRACE(std::string("slot ") + std::to_string(slot) + " " + CMobileExportFun::SlotName(slot));
    const bool inDevice = CMobileExportFun::SlotLibrary(slot) == CMobileExportFun::Library::kMobileDevice;
    deviceSlots += inDevice ? 1 : 0;
    void* expected = dlsym(inDevice ? device : coreFoundation, CMobileExportFun::SlotName(slot));
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(binding.SlotAddress(slot), expected);
  }
  // The slot table's split between the libraries, and the places the other parts of the service
  // name: the two AFCFileInfoOpen slots, the two variables and the last slot.
  EXPECT_EQ(deviceSlots, 55u);
  struct Named {
    size_t slot;
    const char* name;
  } named[] = {{0, "AMDeviceNotificationSubscribe"}, {22, "AFCFileInfoOpen"}, {50, "CFRelease"},
               {85, "kCFStreamPropertyDataWritten"}, {89, "AFCFileInfoOpen"}, {92, "kCFBooleanTrue"},
               {97, "CFDateGetAbsoluteTime"}};
  for (const Named& entry : named) {
    EXPECT_STREQ(CMobileExportFun::SlotName(entry.slot), entry.name) << "slot " << entry.slot;
  }
  EXPECT_EQ(binding.SlotAddress(22), binding.SlotAddress(89));
  EXPECT_EQ(reinterpret_cast<const void*>(binding.AFCFileInfoOpen), binding.SlotAddress(89));
  dlclose(device);
  dlclose(coreFoundation);

  // Calls go through; the variable slots hold the variables' addresses.
  CFPtr<CFStringRef> text(binding.CFStringCreateWithCString(nullptr, "Zo\xC3\xAB", kCFStringEncodingUTF8));
  ASSERT_TRUE(text);
  EXPECT_EQ(binding.CFStringGetLength(text.get()), 3);
  ASSERT_NE(binding.kCFBooleanTrue, nullptr);
  EXPECT_TRUE(binding.CFBooleanGetValue(*binding.kCFBooleanTrue));
  ASSERT_NE(binding.kCFStreamPropertyDataWritten, nullptr);
  EXPECT_EQ(binding.CFGetTypeID(*binding.kCFStreamPropertyDataWritten), static_cast<CFTypeID>(kHLXCFStringTypeID));
}

// ---- Failures --------------------------------------------------------------------------------

TEST(MobileExportFun, InitAnswersByTheRegistryValues) {
  const std::string host = SimulatedHostLibrary();
  const std::string device = SimulatedDeviceLibrary();
  auto notALibrary = [](const std::string& folder) {
    const std::string path = folder + "/libNotALibrary.so";
    WriteFile(path, "text, not an ELF file\n");
    return path;
  };
  struct Case {
    const char* name;
    RegistryMaker makeRegistry;
    int result;
    const char* log;
  } cases[] = {
      {"the simulated library", Fixed(RegistryText(host, device)), kInitTrue, "strPathiTunes: "},
      {"keys and names in any case, the later line winning",
       Fixed("; comment\r\n[software\\apple inc.\\apple mobile device support\\SHARED]\r\n"
             "airtraffichostdll=/nowhere/libAirTrafficHost.so\r\nAIRTRAFFICHOSTDLL=" +
             host + "\r\nitunesmobiledevicedll=" + device + "\r\n"),
       kInitTrue, ""},
      {"no host value", Fixed(RegistryText("", device)), kInitFalse, "AirTrafficHostDLL missing"},
      {"no device value", Fixed(RegistryText(host, "")), kInitFalse, "iTunesMobileDeviceDLL missing"},
      {"host value names no file",
       [&](const std::string& folder) { return RegistryText(folder + "/libAirTrafficHost.so", device); }, kInitFalse,
       "AirTrafficHostDLL missing"},
      {"device value names no file",
       [&](const std::string& folder) { return RegistryText(host, folder + "/libMobileDevice.so"); }, kInitFalse,
       "iTunesMobileDeviceDLL missing"},
      {"empty device value", Fixed(RegistryText(host, "") + "iTunesMobileDeviceDLL=\n"), kInitFalse,
       "iTunesMobileDeviceDLL missing"},
      {"host is not a library", [&](const std::string& folder) { return RegistryText(notALibrary(folder), device); },
       kInitFalse, "Host Error Code: "},
      {"device library is not a library",
       [&](const std::string& folder) { return RegistryText(host, notALibrary(folder)); }, kInitFalse,
       "the device library did not load"},
      {"values under another key",
       Fixed("[SOFTWARE\\Apple Inc.\\Somewhere Else]\nAirTrafficHostDLL=" + host + "\niTunesMobileDeviceDLL=" + device +
             "\n"),
       kInitFalse, "AirTrafficHostDLL missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectInit(c.makeRegistry, "", c.result, c.log);
  }
}

TEST(MobileExportFun, NoRegistryFileMakesInitFail) {
  ExpectInFreshProcess(
      [] {
        LogToStderr();
        unsetenv("HLX_REGISTRY_FILE");
        return CMobileExportFun::GetInstance().Init() ? kInitTrue : kInitFalse;
      },
      kInitFalse, "AirTrafficHostDLL missing");
}

// A library that lacks one name of the table cannot be bound, whichever library the name belongs
// to: the stand-ins export every other name of the table.
TEST(MobileExportFun, ALibraryLackingOneExportMakesInitFail) {
  struct Case {
    const char* missing;
    const char* reason;
  } cases[] = {
      {"CFDateGetAbsoluteTime", "export CFDateGetAbsoluteTime \\(slot 97\\) not found"},
      {"AMDeviceNotificationSubscribe", "export AMDeviceNotificationSubscribe \\(slot 0\\) not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    const std::string library = LackingLibrary(c.missing);
    struct stat info;
    ASSERT_EQ(stat(library.c_str(), &info), 0) << library;
    ExpectInit(Fixed(RegistryText(SimulatedHostLibrary(), library)),
               ProgramFilesRootOf(library.substr(0, library.rfind('/'))), kInitFalse, c.reason);
  }
}

// The registry read held 256 UTF-16 units with the terminator: 255 units are accepted, 256 are not,
// counted in UTF-16 units, not bytes. The values are links to the real libraries whose paths have
// exactly the length wanted; an "é" is two UTF-8 bytes but one unit.
RegistryMaker LongValue(size_t units, const std::string& accent, bool deviceValue) {
  return [=](const std::string& folder) {
    const std::string target = deviceValue ? SimulatedDeviceLibrary() : SimulatedHostLibrary();
    const std::string stem = folder + "/h";
    const size_t fixed = stem.size() + accent.size() / 2 + std::string(".so").size();
    const std::string path = stem + std::string(units - fixed, 'x') + accent + ".so";
    if (symlink(target.c_str(), path.c_str()) != 0 || path.size() != units + accent.size() / 2) return std::string();
    // The device library finds its CoreFoundation beside itself.
    if (deviceValue) {
      const std::string cf = folder + "/libCoreFoundation.so";
      if (symlink(SimulatedCoreFoundation().c_str(), cf.c_str()) != 0) return std::string();
    }
    return deviceValue ? RegistryText(SimulatedHostLibrary(), path) : RegistryText(path, SimulatedDeviceLibrary());
  };
}

TEST(MobileExportFun, RegistryValuesAreLimitedTo255Utf16Units) {
  ExpectInit(LongValue(255, "", false), "", kInitTrue);
  ExpectInit(LongValue(255, "\xC3\xA9", false), "", kInitTrue);
  ExpectInit(LongValue(255, "", true), "", kInitTrue);
  ExpectInit(LongValue(256, "", false), "", kInitFalse, "AirTrafficHostDLL missing, too long");
  ExpectInit(LongValue(256, "", true), "", kInitFalse, "iTunesMobileDeviceDLL missing, too long");
}

TEST(MobileExportFun, TheReadersReportTheTextAndWhetherItNamesAFile) {
  TempFolder folder;
  const std::string registry = folder / "registry.txt";
  ScopedEnv registryFile("HLX_REGISTRY_FILE", registry.c_str());
  std::string path;

  ASSERT_TRUE(WriteFile(registry, RegistryText(SimulatedHostLibrary(), folder / "missing.so")));
  EXPECT_TRUE(CMobileExportFun::ReadAirTrafficHostPath(&path));
  EXPECT_EQ(path, SimulatedHostLibrary());
  EXPECT_FALSE(CMobileExportFun::ReadMobileDeviceLibraryPath(&path));
  EXPECT_EQ(path, folder / "missing.so");

  // Not valid UTF-8: refused like a value of the wrong type.
  path = "unchanged";
  ASSERT_TRUE(WriteFile(registry, RegistryText("/tmp/\xC3(", "")));
  EXPECT_FALSE(CMobileExportFun::ReadAirTrafficHostPath(&path));
  EXPECT_EQ(path, "unchanged");

  // A file larger than the store's 1 MiB cap is not read at all.
  ASSERT_TRUE(WriteFile(registry, RegistryText(SimulatedHostLibrary(), "") + std::string(1 << 20, '#')));
  EXPECT_FALSE(CMobileExportFun::ReadAirTrafficHostPath(&path));
}

// ---- The runtime beside the host, and the CoreFoundation search ------------------------------

TEST(MobileExportFun, TheRuntimeBesideTheHostIsLoadedWhenPresentAndItsFailureIgnored) {
  enum class Runtime { kAbsent, kLoadable, kBroken };
  struct Case {
    const char* name;
    Runtime runtime;
  } cases[] = {{"absent", Runtime::kAbsent}, {"loadable", Runtime::kLoadable}, {"broken", Runtime::kBroken}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectInFreshProcess(
        [&] {
          LogToStderr();
          TempFolder folder;
          const std::string host = folder / "libAirTrafficHost.so";
          const std::string runtime = folder / CMobileExportFun::kRuntimeLibraryName;
          if (symlink(SimulatedHostLibrary().c_str(), host.c_str()) != 0) return 3;
          if (c.runtime == Runtime::kLoadable) {
            // Any loadable library serves; the stand-in is one that nothing else loads.
            if (symlink(StandInDeviceLibrary().c_str(), runtime.c_str()) != 0) return 3;
          } else if (c.runtime == Runtime::kBroken && !WriteFile(runtime, "not a library")) {
            return 3;
          }
          const std::string registry = folder / "registry.txt";
          if (!WriteFile(registry, RegistryText(host, SimulatedDeviceLibrary()))) return 3;
          setenv("HLX_REGISTRY_FILE", registry.c_str(), 1);
          if (!CMobileExportFun::GetInstance().Init()) return kInitFalse;
          const bool loaded = dlopen(runtime.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr;
          return loaded == (c.runtime == Runtime::kLoadable) ? kInitTrue : 4;
        },
        kInitTrue, c.runtime == Runtime::kBroken ? "Base Error Code: " : "");
  }
}

// A device library that does not itself depend on CoreFoundation leaves the bare name unloaded: the
// binding then finds it in the Apple folders below the program-files root, and fails without them.
TEST(MobileExportFun, CoreFoundationIsFoundThroughTheSearchFolders) {
  const RegistryMaker registry = Fixed(RegistryText(SimulatedHostLibrary(), StandInDeviceLibrary()));
  ExpectInit(registry, ProgramFilesRootOf(AppleSupportDir()), kInitTrue);
  ExpectInit(registry, "/nonexistent-program-files", kInitFalse, "libCoreFoundation.so did not load");
}

TEST(MobileExportFun, SearchFoldersFollowTheProgramFilesRoot) {
  struct Case {
    const char* root;  // null: unset
    const char* first;
    const char* second;
  } cases[] = {
      {nullptr, "/opt/Common Files/Apple/Mobile Device Support/", "/opt/Common Files/Apple/Apple Application Support/"},
      {"", "/opt/Common Files/Apple/Mobile Device Support/", "/opt/Common Files/Apple/Apple Application Support/"},
      {"/srv/pf//", "/srv/pf/Common Files/Apple/Mobile Device Support/",
       "/srv/pf/Common Files/Apple/Apple Application Support/"},
      {"/", "/Common Files/Apple/Mobile Device Support/", "/Common Files/Apple/Apple Application Support/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root == nullptr ? "unset" : c.root);
    ScopedEnv root("HLX_PROGRAM_FILES", c.root);
    CMobileExportFun binding;
    EXPECT_TRUE(binding.ExtendSearchPath());
    // A second call rebuilds the list instead of growing it.
    EXPECT_TRUE(binding.ExtendSearchPath());
    EXPECT_EQ(binding.SearchFolders(), (std::vector<std::string>{c.first, c.second}));
  }
}

// ---- A second Init ---------------------------------------------------------------------------

int g_registryReads = 0;
bool CountingRegistryRead(const std::string&, const std::string&, std::string*) {
  ++g_registryReads;
  return false;
}

TEST(MobileExportFun, ASecondInitAfterSuccessTouchesNothing) {
  const std::string registryText = RegistryText(SimulatedHostLibrary(), SimulatedDeviceLibrary());
  ExpectInFreshProcess(
      [&] {
        TempFolder folder;
        const std::string registry = folder / "registry.txt";
        if (!WriteFile(registry, registryText)) return 3;
        setenv("HLX_REGISTRY_FILE", registry.c_str(), 1);
        setenv("HLX_PROGRAM_FILES", "/first", 1);
        CMobileExportFun& binding = CMobileExportFun::GetInstance();
        if (!binding.Init()) return kInitFalse;
        const void* before = binding.SlotAddress(50);

        // Everything Init read is gone or changed, and the store counts its reads.
        if (std::remove(registry.c_str()) != 0) return 5;
        setenv("HLX_PROGRAM_FILES", "/second", 1);
        os::Os().readRegistryValue = CountingRegistryRead;
        const bool again = binding.Init();
        os::ResetOsApi();
        if (!again) return 6;
        if (g_registryReads != 0) return 7;
        if (binding.SearchFolders().front() != "/first/Common Files/Apple/Mobile Device Support/") return 8;
        if (binding.SlotAddress(50) != before) return 9;
        return kInitTrue;
      },
      kInitTrue);
}

TEST(MobileExportFun, AFailedInitTriesEverythingAgainNextTime) {
  const std::string good = RegistryText(SimulatedHostLibrary(), SimulatedDeviceLibrary());
  ExpectInFreshProcess(
      [&] {
        TempFolder folder;
        const std::string registry = folder / "registry.txt";
        setenv("HLX_REGISTRY_FILE", registry.c_str(), 1);
        CMobileExportFun& binding = CMobileExportFun::GetInstance();
        if (binding.Init()) return 5;  // no file yet
        if (binding.IsLoaded()) return 6;
        if (!WriteFile(registry, good)) return 3;
        return binding.Init() && binding.IsLoaded() ? kInitTrue : kInitFalse;
      },
      kInitTrue);
}

}  // namespace
}  // namespace hlx
