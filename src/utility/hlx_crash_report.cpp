// Crash reports: dump, description, archive of the log folder, clean-up.
#include "utility/hlx_crash_report.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "os/hlx_crash_signal.h"
#include "os/hlx_os.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_service.h"
#include "utility/hlx_startup_state.h"
#include "utility/hlx_zip_util.h"

namespace hlx {
namespace {

// Set once before the handler is installed; read only by the crashing thread.
CrashReportPaths* g_paths = nullptr;

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

void ReportCrash(int signal, const void* address) {
  const CrashReportPaths& paths = *g_paths;
  // Each step goes on when the one before failed: no dump still gives a description and an archive.
  (void)os::WriteCrashDump(paths.dumpPath.c_str(), signal, address);
  (void)WriteCrashReport(paths.reportFolder);
  ZipFileList files;
  ZipUtil::ListFilesRecursive(paths.reportFolder, nullptr, &files);
  (void)CreateZipFromFolder(files, paths.archivePath, ";.zip;.exe;");
  CleanCrashFolder(paths.reportFolder);
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
  if (g_paths == nullptr) {
    g_paths = new CrashReportPaths(MakeCrashReportPaths(GetStartupState().logFolder, os::Os().currentTime()));
  }
  os::InstallFatalSignalHandler(ReportCrash);
}

std::string WriteCrashReport(const std::string& reportFolder) {
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
  std::string path = reportFolder + "Crash.json";
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(buffer.GetString(), 1, buffer.GetSize(), file);
    std::fclose(file);
  } else {
    path.clear();
  }
  StopLogging();
  return path;
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
