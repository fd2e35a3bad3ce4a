// "com.apple.mobile.installation_proxy": the device's app installer. Device-link framing (a 4-byte
// big-endian length, then a property list). The host sends command dictionaries; the device works
// through them in the order they arrive on the connection, each to its end, until the host closes:
//
//   {"Command": "Browse", "ClientOptions": {"ApplicationType": "User" | "System" | "Any",
//    "ReturnAttributes": [name, ...]}}
//       -> {"Status": "BrowsingApplications", "CurrentList": [app, ...], "CurrentIndex", "CurrentAmount",
//           "Total"} per batch of kBrowseBatch apps (in the image's order), then {"Status": "Complete"};
//          an app holds only the asked attributes (all of them without ReturnAttributes)
//   {"Command": "Install" | "Upgrade", "PackagePath": path under the media folder}
//       -> progress, then Complete: the package's Payload/<name>.app/Info.plist and its
//          iTunesMetadata.plist become the app's entry (a reinstall keeps the app's place)
//   {"Command": "Uninstall", "ApplicationIdentifier": id}  -> progress, then Complete
//   {"Command": "Archive", "ApplicationIdentifier": id}    -> progress, then Complete; the id is added
//          to the image's archives. Devices of version 9 or later no longer archive: an error.
//
// Progress is {"Status": step, "PercentComplete": n}; a failed command ends with
// {"Error": name, "ErrorDescription": text} and no "Status". Anything that is not a command
// dictionary gets an error, so a host always hears back.
//
// Threads: the connection's device thread.
#include <minizip/unzip.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "md/md_base.h"
#include "md/md_service.h"
#include "md/md_service_installation_apps.h"
#include "md/md_service_message.h"

namespace {

constexpr size_t kMaxCommandBytes = 1u << 20;
constexpr CFIndex kBrowseBatch = 8;
// The entries a device reads from a package are small property lists.
constexpr uint64_t kMaxPackageEntryBytes = 8u << 20;
constexpr char kMediaFolder[] = "fs";
constexpr char kAppsRoot[] = "/private/var/containers/Bundle/Application/";
// App attributes that an Info.plist gives and an app entry keeps.
constexpr const char* kInfoAttributes[] = {"CFBundleIdentifier", "CFBundleDisplayName", "CFBundleName",
                                           "CFBundleShortVersionString", "CFBundleVersion"};

struct Progress {
  int percent;
  const char* step;
};
// clang-format off
constexpr Progress kInstallSteps[] = {{5, "CreatingStagingDirectory"}, {15, "ExtractingPackage"},
                                      {40, "InspectingPackage"},       {60, "PreflightingApplication"},
                                      {80, "InstallingApplication"},   {90, "GeneratingApplicationMap"}};
constexpr Progress kUninstallSteps[] = {{50, "RemovingApplication"}, {90, "GeneratingApplicationMap"}};
constexpr Progress kArchiveSteps[] = {{20, "ArchivingApplication"}, {60, "ArchivingApplication"},
                                      {90, "RemovingApplication"}};
// clang-format on

class Installer {
 public:
  explicit Installer(MDServiceContext& context) : m_context(context) {}

  // False when the host is gone.
  bool Serve(const std::string& body) {
    MDCFPtr command = MDParseMessage(body);
    std::string name;
    if (!command || CFGetTypeID(command.get()) != kHLXCFDictionaryTypeID ||
        !MDDictionaryText(command.get(), "Command", &name)) {
      return SendError("APIInternalError", "not a command");
    }
    if (name == "Browse") return Browse(command.get());
    if (name == "Install" || name == "Upgrade") return Install(command.get());
    if (name == "Uninstall" || name == "Archive") return ChangeApp(command.get(), name == "Archive");
    return SendError("UnknownCommand", "unknown command");
  }

 private:
  bool Send(CFTypeRef message) {
    std::string out;
    return message != nullptr && MDSerializeSortedBinary(message, &out) &&
           MDWriteFrame(m_context.stream, MDFrameOrder::kBigEndian, out);
  }
  bool SendStatus(const char* status, int percent = -1) {
    MDCFPtr reply(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    MDCFPtr text = MDCFStringCreate(status);
    if (!reply || !MDDictionarySet(reply.get(), "Status", text.get())) return false;
    if (percent >= 0) {
      MDCFPtr number(HLXCFNumberCreateInt64(percent));
      MDDictionarySet(reply.get(), "PercentComplete", number.get());
    }
    return Send(reply.get());
  }
  bool SendError(const char* error, const std::string& description) {
    MDCFPtr reply(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    MDCFPtr name = MDCFStringCreate(error);
    MDCFPtr text = MDCFStringCreate(description);
    if (!reply || !MDDictionarySet(reply.get(), "Error", name.get()) ||
        !MDDictionarySet(reply.get(), "ErrorDescription", text.get())) {
      return false;
    }
    return Send(reply.get());
  }
  template <size_t N>
  bool SendSteps(const Progress (&steps)[N]) {
    for (const Progress& step : steps) {
      if (!SendStatus(step.step, step.percent)) return false;
    }
    return true;
  }

  // ---- Browse ---------------------------------------------------------------------------------

  bool Browse(CFTypeRef command) {
    CFTypeRef options = MDDictionaryValue(command, "ClientOptions");
    std::string type = "Any";
    (void)MDDictionaryText(options, "ApplicationType", &type);
    CFTypeRef wanted = MDDictionaryValue(options, "ReturnAttributes");
    if (wanted != nullptr && CFGetTypeID(wanted) != kHLXCFArrayTypeID) wanted = nullptr;

    MDCFPtr catalog;
    CFArrayRef apps = MDLoadApps(m_context.imageFolder, &catalog);
    std::vector<MDCFPtr> listed;
    for (CFIndex i = 0; apps != nullptr && i < CFArrayGetCount(apps); ++i) {
      CFTypeRef app = CFArrayGetValueAtIndex(apps, i);
      std::string appType;
      if (!MDDictionaryText(app, "ApplicationType", &appType) || (type != "Any" && appType != type)) continue;
      MDCFPtr entry = Attributes(app, static_cast<CFArrayRef>(wanted));
      if (entry) listed.push_back(std::move(entry));
    }
    const auto total = static_cast<CFIndex>(listed.size());
    for (CFIndex first = 0; first < total; first += kBrowseBatch) {
      MDCFPtr reply(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
      MDCFPtr list(CFArrayCreateMutable(nullptr, 0, nullptr));
      if (!reply || !list) return false;
      const CFIndex end = first + kBrowseBatch < total ? first + kBrowseBatch : total;
      for (CFIndex i = first; i < end; ++i) {
        CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void*>(list.get())), listed[i].get());
      }
      MDCFPtr status = MDCFStringCreate("BrowsingApplications");
      MDCFPtr index(HLXCFNumberCreateInt64(first));
      MDCFPtr amount(HLXCFNumberCreateInt64(end - first));
      MDCFPtr all(HLXCFNumberCreateInt64(total));
      if (!MDDictionarySet(reply.get(), "Status", status.get()) ||
          !MDDictionarySet(reply.get(), "CurrentList", list.get()) ||
          !MDDictionarySet(reply.get(), "CurrentIndex", index.get()) ||
          !MDDictionarySet(reply.get(), "CurrentAmount", amount.get()) ||
          !MDDictionarySet(reply.get(), "Total", all.get()) || !Send(reply.get())) {
        return false;
      }
    }
    return SendStatus("Complete");
  }

  // The app's attributes that the host asked for (all but the image's own keys without a list).
  static MDCFPtr Attributes(CFTypeRef app, CFArrayRef wanted) {
    if (CFGetTypeID(app) != kHLXCFDictionaryTypeID) return nullptr;
    MDCFPtr entry(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    if (!entry) return nullptr;
    auto dictionary = static_cast<CFDictionaryRef>(app);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    for (CFIndex i = 0; i < count; ++i) {
      std::string key;
      if (!MDCFStringToUtf8(keys[i], &key) || key == kMDAppIconFileKey) continue;
      if (wanted != nullptr && !Contains(wanted, key)) continue;
      MDDictionarySet(entry.get(), key.c_str(), values[i]);
    }
    return entry;
  }
  static bool Contains(CFArrayRef names, const std::string& wanted) {
    for (CFIndex i = 0; i < CFArrayGetCount(names); ++i) {
      std::string name;
      if (MDCFStringToUtf8(CFArrayGetValueAtIndex(names, i), &name) && name == wanted) return true;
    }
    return false;
  }

  // ---- Install --------------------------------------------------------------------------------

  bool Install(CFTypeRef command) {
    std::string packagePath;
    if (!MDDictionaryText(command, "PackagePath", &packagePath)) return SendError("APIInternalError", "no PackagePath");
    if (!SendSteps(kInstallSteps)) return false;
    std::string error;
    MDCFPtr app = ReadPackage(packagePath, &error);
    if (!app) return SendError("PackageInspectionFailed", error);
    std::string bundleId;
    (void)MDDictionaryText(app.get(), "CFBundleIdentifier", &bundleId);
    error = MDChangeAppCatalog(m_context.imageFolder, [&](CFMutableDictionaryRef catalog, std::string*) {
      CFMutableArrayRef apps = MDCatalogArray(catalog, "Applications");
      CFTypeRef old = MDFindApp(apps, bundleId);
      for (CFIndex i = 0; i < CFArrayGetCount(apps); ++i) {
        if (CFArrayGetValueAtIndex(apps, i) == old) {
          HLXCFArraySetValueAtIndex(apps, i, app.get());
          return true;
        }
      }
      CFArrayAppendValue(apps, app.get());
      return true;
    });
    if (!error.empty()) return SendError("APIInternalError", error);
    return SendStatus("Complete");
  }

  // The app entry that a package installs, or null with *error set.
  MDCFPtr ReadPackage(const std::string& packagePath, std::string* error) const {
    if (packagePath.empty() || packagePath[0] == '/' || ("/" + packagePath + "/").find("/../") != std::string::npos) {
      *error = "the package path leaves the media folder";
      return nullptr;
    }
    const std::string path = m_context.imageFolder + "/" + kMediaFolder + "/" + packagePath;
    unzFile zip = unzOpen64(path.c_str());
    if (zip == nullptr) {
      *error = "the package is not a zip archive";
      return nullptr;
    }
    std::string info;
    std::string appFolder;
    std::string metadata;
    bool ok = true;
    for (int step = unzGoToFirstFile(zip); ok && step == UNZ_OK; step = unzGoToNextFile(zip)) {
      unz_file_info64 entry;
      if (unzGetCurrentFileInfo64(zip, &entry, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
      std::string name(entry.size_filename, '\0');
      if (unzGetCurrentFileInfo64(zip, &entry, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
          UNZ_OK) {
        break;
      }
      if (name == "iTunesMetadata.plist") {
        ok = ReadEntry(zip, entry, &metadata);
      } else if (info.empty() && IsAppInfoPlist(name, &appFolder)) {
        ok = ReadEntry(zip, entry, &info);
      }
    }
    unzClose(zip);
    MDCFPtr infoList = ok ? MDParseMessage(info) : nullptr;
    std::string bundleId;
    if (!infoList || !MDDictionaryText(infoList.get(), "CFBundleIdentifier", &bundleId) || bundleId.empty()) {
      *error = "the package has no readable Payload/<name>.app/Info.plist with a CFBundleIdentifier";
      return nullptr;
    }
    MDCFPtr app(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    MDCFPtr type = MDCFStringCreate("User");
    MDCFPtr folder = MDCFStringCreate(kAppsRoot + ContainerName(bundleId) + "/" + appFolder);
    MDCFPtr staticSize(HLXCFNumberCreateInt64(PackageSize(path)));
    MDCFPtr dynamicSize(HLXCFNumberCreateInt64(0));
    if (!app || !MDDictionarySet(app.get(), "ApplicationType", type.get()) ||
        !MDDictionarySet(app.get(), "Path", folder.get()) ||
        !MDDictionarySet(app.get(), "StaticDiskUsage", staticSize.get()) ||
        !MDDictionarySet(app.get(), "DynamicDiskUsage", dynamicSize.get())) {
      *error = "out of memory";
      return nullptr;
    }
    for (const char* key : kInfoAttributes) {
      CFTypeRef value = MDDictionaryValue(infoList.get(), key);
      if (value != nullptr && CFGetTypeID(value) == kHLXCFStringTypeID) MDDictionarySet(app.get(), key, value);
    }
    if (!metadata.empty()) {
      MDCFPtr data(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(metadata.data()),
                                static_cast<CFIndex>(metadata.size())));
      MDDictionarySet(app.get(), "iTunesMetadata", data.get());
    }
    return app;
  }

  // "Payload/<name>.app/Info.plist": the app's own Info.plist; *appFolder gets "<name>.app".
  static bool IsAppInfoPlist(const std::string& name, std::string* appFolder) {
    const std::string prefix = "Payload/";
    const std::string suffix = ".app/Info.plist";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return false;
    }
    *appFolder = name.substr(prefix.size(), name.size() - prefix.size() - std::string("/Info.plist").size());
    return appFolder->find('/') == std::string::npos;
  }

  static bool ReadEntry(unzFile zip, const unz_file_info64& entry, std::string* out) {
    if (entry.uncompressed_size > kMaxPackageEntryBytes || unzOpenCurrentFile(zip) != UNZ_OK) return false;
    out->resize(static_cast<size_t>(entry.uncompressed_size));
    const int read = out->empty() ? 0 : unzReadCurrentFile(zip, out->data(), static_cast<unsigned>(out->size()));
    const bool whole = read == static_cast<int>(out->size());
    return unzCloseCurrentFile(zip) == UNZ_OK && whole;
  }

  static int64_t PackageSize(const std::string& path) {
    MDFileIdentity identity;
    return MDGetFileIdentity(path, &identity) == 0 ? static_cast<int64_t>(identity.size) : 0;
  }

  // A container folder name that stays the same for a bundle id (reinstalls keep their folder).
  static std::string ContainerName(const std::string& bundleId) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bundleId) hash = (hash ^ c) * 1099511628211ull;
    char name[40];
    snprintf(name, sizeof name, "%08llX-0000-4000-8000-%012llX", static_cast<unsigned long long>(hash >> 32),
             static_cast<unsigned long long>(hash & 0xFFFFFFFFFFFFull));
    return name;
  }

  // ---- Uninstall and archive ------------------------------------------------------------------

  bool ChangeApp(CFTypeRef command, bool archive) {
    std::string bundleId;
    if (!MDDictionaryText(command, "ApplicationIdentifier", &bundleId)) {
      return SendError("APIInternalError", "no ApplicationIdentifier");
    }
    if (archive && MajorVersion() >= 9) return SendError("APIInternalError", "this device does not archive apps");
    MDCFPtr catalog;
    if (MDFindApp(MDLoadApps(m_context.imageFolder, &catalog), bundleId) == nullptr) {
      return SendError("APIInternalError", "no such application");
    }
    if (archive ? !SendSteps(kArchiveSteps) : !SendSteps(kUninstallSteps)) return false;
    const std::string error =
        MDChangeAppCatalog(m_context.imageFolder, [&](CFMutableDictionaryRef changed, std::string* why) {
          CFMutableArrayRef apps = MDCatalogArray(changed, "Applications");
          CFTypeRef app = MDFindApp(apps, bundleId);
          if (app == nullptr) {
            *why = "no such application";
            return false;
          }
          if (archive) {
            MDCFPtr id = MDCFStringCreate(bundleId);
            CFArrayAppendValue(MDCatalogArray(changed, "Archives"), id.get());
            return true;
          }
          for (CFIndex i = 0; i < CFArrayGetCount(apps); ++i) {
            if (CFArrayGetValueAtIndex(apps, i) == app) CFArrayRemoveValueAtIndex(apps, i);
          }
          return true;
        });
    if (!error.empty()) return SendError("APIInternalError", error);
    return SendStatus("Complete");
  }

  // The major number of the image's ProductVersion; 0 when unknown.
  int MajorVersion() const {
    MDCFPtr lockdown = MDLoadImagePlist(m_context.imageFolder, "lockdown.plist");
    std::string version;
    if (!MDDictionaryText(MDDictionaryValue(lockdown.get(), ""), "ProductVersion", &version)) return 0;
    return std::atoi(version.c_str());
  }

  MDServiceContext& m_context;
};

void ServeInstallation(MDServiceContext& context) {
  Installer installer(context);
  std::string body;
  while (MDReadFrame(context.stream, MDFrameOrder::kBigEndian, kMaxCommandBytes, &body)) {
    if (!installer.Serve(body)) return;
  }
}

}  // namespace

void MDRegisterInstallationService() { MDRegisterService("com.apple.mobile.installation_proxy", ServeInstallation); }
