// Crash reports: dump, description, the packing helper, archive of the log folder, clean-up.
#include "utility/hlx_crash_report.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "os/hlx_crash_signal.h"
#include "os/hlx_os.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_startup_state.h"
#include "utility/hlx_zip_util.h"

namespace hlx {
namespace {

// How long the crashing process waits for its packing helper. Packing a day's log folder takes well
// under a second; the bound stays below the handler's own (30 seconds).
constexpr unsigned kPackerSeconds = 20;

// Everything the handler needs, made before it is installed: the handler allocates nothing.
struct CrashReportState {
  CrashReportPaths paths;
  std::string descriptionPath;
  std::string description;
  std::string programName;
  std::string packerOption;
  char* packerArguments[4] = {};
};

// Set once before the handler is installed; read only by the crashing thread.
CrashReportState* g_state = nullptr;

bool ContainsZip(const std::string& name) {
  for (size_t i = 0; i + 4 <= name.size(); ++i) {
    if (name[i] == '.' && std::tolower(static_cast<unsigned char>(name[i + 1])) == 'z' &&
        std::tolower(static_cast<unsigned char>(name[i + 2])) == 'i' &&
        std::tolower(static_cast<unsigned char>(name[i + 3])) == 'p') {
      return true;
    }
  }
  return false;
}

// In the signal handler: system calls only. Each step goes on when the one before failed: no dump
// still gives a description and an archive.
void ReportCrash(int signal, const void* address) {
  const CrashReportState& state = *g_state;
  const int dump = os::CreateCrashDump(state.paths.dumpPath.c_str());
  os::WriteCrashDump(dump, signal, address);
  (void)os::WriteCrashFile(state.descriptionPath.c_str(), state.description.data(), state.description.size());
  // The helper inherits the dump's descriptor and with it the dump's lock, until it ends.
  (void)os::RunCrashHelper(state.packerArguments, dump, kPackerSeconds);
  os::CloseCrashFile(dump);
}

// The handler leaves raw frame addresses: named here, in the packing process, where the loader's
// lock is free. Rewritten in place, so that the dump's lock (on its inode) stays where it is.
void NameDumpFrames(const std::string& dumpPath) {
  std::string text;
  {
    std::ifstream in(dumpPath, std::ios::binary);
    if (!in) return;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string named = os::NameCrashFrames(text);
  if (named == text) return;
  std::ofstream out(dumpPath, std::ios::binary | std::ios::trunc);
  out.write(named.data(), static_cast<std::streamsize>(named.size()));
}

}  // namespace

CrashReportPaths MakeCrashReportPaths(const std::string& logFolder, int64_t startupSeconds) {
  CrashReportPaths paths;
  paths.reportFolder = logFolder;
  if (paths.reportFolder.empty() || paths.reportFolder.back() != '/') paths.reportFolder += '/';
  std::tm local{};
  char stamp[32] = "00000000000000";
  if (os::Os().localTime(startupSeconds, &local)) std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);
  paths.dumpPath = paths.reportFolder + stamp + ".dmp";
  paths.archivePath = paths.dumpPath + ".zip";
  return paths;
}

void InstallCrashHandler() {
  if (g_state == nullptr) {
    auto* state = new CrashReportState;
    state->paths = MakeCrashReportPaths(GetStartupState().logFolder, os::Os().currentTime());
    state->descriptionPath = state->paths.reportFolder + "Crash.json";
    state->description = CrashDescriptionJson();
    state->programName = "Harlix";
    state->packerOption = kCrashPackerOption;
    state->packerArguments[0] = state->programName.data();
    state->packerArguments[1] = state->packerOption.data();
    state->packerArguments[2] = state->paths.dumpPath.data();
    state->packerArguments[3] = nullptr;
    g_state = state;
  }
  os::InstallFatalSignalHandler(ReportCrash);
}

std::string CrashDescriptionJson() {
  const StartupState& state = GetStartupState();
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  writer.StartObject();
  writer.Key("Product");
  writer.String(state.productName.c_str());
  writer.Key("Version");
  writer.String(state.productVersion.c_str());
  writer.Key("System");
  const std::string system = os::SystemVersionText();
  writer.String(system.c_str());
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool PackCrashReport(const std::string& dumpPath) {
  NameDumpFrames(dumpPath);
  const size_t slash = dumpPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string("./") : dumpPath.substr(0, slash + 1);
  const std::string archive = dumpPath + ".zip";
  // Not a name with ".zip" in it: a side file that a killed packing left is cleaned up, not kept.
  const std::string partial = dumpPath + ".packing";
  std::remove(partial.c_str());
  ZipFileList files;
  ZipUtil::ListFilesRecursive(folder, nullptr, &files);
  const bool packed =
      CreateZipFromFolder(files, partial, ";.zip;.exe;") && std::rename(partial.c_str(), archive.c_str()) == 0;
  if (!packed) std::remove(partial.c_str());
  CleanCrashFolder(folder);
  return packed;
}

void PackLeftCrashReports(const std::string& logFolder) {
  std::vector<std::string> unpacked;
  std::error_code error;
  for (std::filesystem::directory_iterator it(logFolder, error), end; !error && it != end; it.increment(error)) {
    const std::string path = it->path().string();
    std::error_code kindError;
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".dmp") != 0 || !it->is_regular_file(kindError)) continue;
    const int lock = os::LockIdleCrashDump(path);
    // A dump still locked is being packed, with the whole folder: nothing here may be touched.
    if (lock < 0) return;
    os::CloseCrashFile(lock);
    std::error_code existsError;
    if (!std::filesystem::exists(path + ".zip", existsError)) unpacked.push_back(path);
  }
  if (unpacked.empty()) return;
  // Dump names are start-up times: the greatest is the newest.
  const std::string newest = *std::max_element(unpacked.begin(), unpacked.end());
  const int lock = os::LockIdleCrashDump(newest);
  if (lock < 0) return;
  (void)PackCrashReport(newest);
  os::CloseCrashFile(lock);
}

void CleanCrashFolder(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    // By name, not by position: a listing promises no order.
    if (IsDotOrDotDot(name.c_str()) || ContainsZip(name)) continue;
    std::error_code kindError;
    if (it->is_directory(kindError)) continue;
    std::error_code removeError;
    std::filesystem::remove(it->path(), removeError);
  }
}

}  // namespace hlx
