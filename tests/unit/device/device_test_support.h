// Helpers for the device tests: the registry store's file, binding the process-wide table to the
// simulated device library that the build stages (HLX_APPLE_SUPPORT_DIR), and running a piece of a
// test in a new process that has loaded no library yet.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "iOSAPI/MobileExportFun.h"
#include "unit/utility/utility_test_support.h"

namespace hlx::test {

inline std::string AppleSupportDir() { return HLX_APPLE_SUPPORT_DIR; }

// The program-files root of the staged layout: HLX_APPLE_SUPPORT_DIR less its last three levels.
inline std::string ProgramFilesRootOf(const std::string& supportDir) {
  const std::string tail = "/Common Files/Apple/Mobile Device Support";
  std::string dir = supportDir;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  if (dir.size() >= tail.size() && dir.compare(dir.size() - tail.size(), tail.size(), tail) == 0) {
    return dir.substr(0, dir.size() - tail.size());
  }
  return dir;
}

inline std::string SimulatedHostLibrary() { return AppleSupportDir() + "/libAirTrafficHost.so"; }
inline std::string SimulatedDeviceLibrary() { return AppleSupportDir() + "/libMobileDevice.so"; }
inline std::string SimulatedCoreFoundation() { return AppleSupportDir() + "/libCoreFoundation.so"; }

// The registry store's text with the two library values; an empty argument leaves its value out.
inline std::string RegistryText(const std::string& hostPath, const std::string& devicePath) {
  std::string text = "# written by a device test\n[SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n";
  if (!hostPath.empty()) text += "AirTrafficHostDLL=" + hostPath + "\n";
  if (!devicePath.empty()) text += "iTunesMobileDeviceDLL=" + devicePath + "\n";
  return text;
}

// Binds the process-wide table to the simulated library once per process; true when bound. The
// registry file and the environment are only needed during the Init, so both are gone afterwards.
inline bool BindSimulatedLibrary() {
  CMobileExportFun& binding = CMobileExportFun::GetInstance();
  if (binding.IsLoaded()) return true;
  TempFolder folder;
  const std::string registry = folder / "registry.txt";
  if (!WriteFile(registry, RegistryText(SimulatedHostLibrary(), SimulatedDeviceLibrary()))) return false;
  ScopedEnv registryFile("HLX_REGISTRY_FILE", registry.c_str());
  ScopedEnv programFiles("HLX_PROGRAM_FILES", ProgramFilesRootOf(AppleSupportDir()).c_str());
  return binding.Init();
}

// Runs `body` in a new process that re-executes this test binary for this one test, so that no
// library is loaded there yet and the process-wide table is fresh; expects the process to exit with
// `expectedCode` and its standard error to match `stderrPattern` (a gtest regular expression).
// Nothing that `body` changes reaches this process.
inline void ExpectInFreshProcess(const std::function<int()>& body, int expectedCode, const char* stderrPattern = "") {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const int code = body();
        std::fflush(nullptr);
        std::_Exit(code);
      },
      ::testing::ExitedWithCode(expectedCode), stderrPattern);
}

}  // namespace hlx::test
