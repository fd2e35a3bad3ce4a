// The apps of a device image (see md_service_installation_apps.h).
#include "md/md_service_installation_apps.h"

#include "md/md_base.h"
#include "md/md_service_message.h"

namespace {

constexpr char kAppsFile[] = "apps.plist";
constexpr char kIconsFolder[] = "icons";
// Icons are a few kilobytes; a bigger file is a broken image.
constexpr size_t kMaxIconBytes = 4u << 20;

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

CFArrayRef MDLoadApps(const std::string& imageFolder, MDCFPtr* catalog) {
  *catalog = MDLoadImagePlist(imageFolder, kAppsFile);
  CFTypeRef apps = MDDictionaryValue(catalog->get(), "Applications");
  if (apps == nullptr || CFGetTypeID(apps) != kHLXCFArrayTypeID) return nullptr;
  return static_cast<CFArrayRef>(apps);
}

CFTypeRef MDFindApp(CFArrayRef apps, const std::string& bundleId) {
  if (apps == nullptr) return nullptr;
  for (CFIndex i = 0; i < CFArrayGetCount(apps); ++i) {
    CFTypeRef app = CFArrayGetValueAtIndex(apps, i);
    std::string id;
    if (MDDictionaryText(app, "CFBundleIdentifier", &id) && id == bundleId) return app;
  }
  return nullptr;
}

bool MDReadAppIcon(const std::string& imageFolder, const std::string& bundleId, std::string* png) {
  MDCFPtr catalog;
  std::string iconFile;
  if (!MDDictionaryText(MDFindApp(MDLoadApps(imageFolder, &catalog), bundleId), kMDAppIconFileKey, &iconFile) ||
      !IsPlainFileName(iconFile)) {
    return false;
  }
  return MDReadFile(imageFolder + "/" + kIconsFolder + "/" + iconFile, kMaxIconBytes, png) == 0;
}

CFMutableArrayRef MDCatalogArray(CFMutableDictionaryRef catalog, const char* key) {
  return static_cast<CFMutableArrayRef>(const_cast<void*>(MDDictionaryValue(catalog, key)));
}

std::string MDChangeAppCatalog(const std::string& imageFolder, const MDAppCatalogChange& change) {
  MDImageLock lock(imageFolder);
  if (!lock.IsHeld()) return "the device image is gone";
  MDCFPtr stored = MDLoadImagePlist(imageFolder, kAppsFile);
  MDCFPtr catalog;
  if (stored && CFGetTypeID(stored.get()) == kHLXCFDictionaryTypeID) {
    catalog.reset(HLXCFDictionaryCreateMutableCopy(static_cast<CFDictionaryRef>(stored.get())));
  } else {
    catalog.reset(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  }
  if (!catalog) return "the app catalog cannot be read";
  for (const char* key : {"Applications", "Archives"}) {
    CFTypeRef array = MDDictionaryValue(catalog.get(), key);
    if (array != nullptr && CFGetTypeID(array) == kHLXCFArrayTypeID) continue;
    MDCFPtr empty(CFArrayCreateMutable(nullptr, 0, nullptr));
    if (!MDDictionarySet(catalog.get(), key, empty.get())) return "the app catalog cannot be made";
  }
  std::string error;
  if (!change(static_cast<CFMutableDictionaryRef>(const_cast<void*>(catalog.get())), &error)) return error;
  std::string bytes;
  if (!MDSerializeSortedBinary(catalog.get(), &bytes) || MDWriteFileAtomic(imageFolder + "/" + kAppsFile, bytes) != 0) {
    return "the app catalog cannot be written";
  }
  return "";
}
