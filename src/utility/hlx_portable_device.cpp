// Portable devices over the simulated devices' camera folders (see hlx_portable_device.h).
#include "utility/hlx_portable_device.h"

#include <tinyxml.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace hlx {
namespace {

namespace fs = std::filesystem;

// A lockdown file is a few kilobytes; a larger one is not read.
constexpr uintmax_t kMaxLockdownFileBytes = 4 * 1024 * 1024;

// The value that follows <key>name</key> among a dictionary element's children, or null.
const TiXmlElement* DictionaryValue(const TiXmlElement* dict, const std::string& name) {
  for (const TiXmlElement* key = dict ? dict->FirstChildElement("key") : nullptr; key != nullptr;
       key = key->NextSiblingElement("key")) {
    const char* text = key->GetText();
    if (name == (text != nullptr ? text : "")) return key->NextSiblingElement();
  }
  return nullptr;
}

// The lockdown values without a domain (the dictionary under the empty key) of an XML lockdown
// file: DeviceName and SerialNumber. The service's property-list reader drops pairs with an empty
// key, so the file is read here directly. A file that is not such XML gives empty texts.
void ReadLockdownNames(const fs::path& file, PortableDeviceInfo* device) {
  std::error_code error;
  const uintmax_t size = fs::file_size(file, error);
  if (error || size > kMaxLockdownFileBytes) return;
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TiXmlDocument document;
  document.Parse(bytes.c_str());
  if (document.Error()) return;
  const TiXmlElement* plist = document.FirstChildElement("plist");
  const TiXmlElement* values = DictionaryValue(plist ? plist->FirstChildElement("dict") : nullptr, "");
  if (values == nullptr || values->ValueStr() != "dict") return;
  for (auto [key, out] : {std::pair{"DeviceName", &device->friendlyName}, {"SerialNumber", &device->serialNumber}}) {
    const TiXmlElement* value = DictionaryValue(values, key);
    if (value != nullptr && value->ValueStr() == "string" && value->GetText() != nullptr) *out = value->GetText();
  }
}

// Every image folder under $HLX_DEVICE_ROOT (names starting with '.' are parked or staged images,
// not attached ones) that has a state.json and readable lockdown values; objects are the entries
// of its fs/DCIM, ids their full paths.
class CameraFolderBackend : public PortableDeviceBackend {
 public:
  std::vector<PortableDeviceInfo> ListDevices() override {
    std::vector<PortableDeviceInfo> devices;
    const char* root = std::getenv("HLX_DEVICE_ROOT");
    if (root == nullptr || *root == '\0') return devices;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
      const std::string name = entry.path().filename().string();
      if (name.empty() || name[0] == '.' || !entry.is_directory(error)) continue;
      if (!fs::is_regular_file(entry.path() / "state.json", error)) continue;
      PortableDeviceInfo device;
      device.id = (entry.path() / "fs" / "DCIM").string();
      ReadLockdownNames(entry.path() / "lockdown.plist", &device);
      devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(),
              [](const PortableDeviceInfo& a, const PortableDeviceInfo& b) { return a.id < b.id; });
    return devices;
  }

  std::vector<PortableObject> ListChildren(const PortableDeviceInfo& device, const PortableObject* folder) override {
    std::vector<PortableObject> children;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder ? folder->id : device.id, error)) {
      const std::string name = entry.path().filename().string();
      // Hidden entries (the thumbnail cache) are the phone's own and no camera object; links are
      // not followed out of the camera folder.
      if (name.empty() || name[0] == '.' || entry.is_symlink(error)) continue;
      if (entry.is_directory(error)) {
        children.push_back({entry.path().string(), name, true});
      } else if (entry.is_regular_file(error)) {
        children.push_back({entry.path().string(), name, false});
      }
    }
    std::sort(children.begin(), children.end(),
              [](const PortableObject& a, const PortableObject& b) { return a.originalFileName < b.originalFileName; });
    return children;
  }

  bool DeleteObject(const PortableDeviceInfo& /*device*/, const PortableObject& object) override {
    std::error_code error;
    if (object.isFolder || !fs::is_regular_file(fs::symlink_status(object.id, error))) return false;
    return fs::remove(object.id, error) && !error;
  }
};

std::unique_ptr<PortableDeviceBackend>& BackendSlot() {
  static std::unique_ptr<PortableDeviceBackend> backend;  // NOLINT: set by tests only
  return backend;
}

// Depth first from `folder` (null: the device's root objects); true once an object was deleted.
bool DeleteFirstMatch(PortableDeviceBackend& backend, const PortableDeviceInfo& device, const PortableObject* folder,
                      const std::string& fileName, int depth) {
  if (depth > kMaxPortableTreeDepth) return false;
  for (const PortableObject& object : backend.ListChildren(device, folder)) {
    if (!object.isFolder && object.originalFileName == fileName && backend.DeleteObject(device, object)) return true;
    if (object.isFolder && DeleteFirstMatch(backend, device, &object, fileName, depth + 1)) return true;
  }
  return false;
}

}  // namespace

PortableDeviceBackend& GetPortableDeviceBackend() {
  static CameraFolderBackend cameraFolders;
  return BackendSlot() ? *BackendSlot() : cameraFolders;
}

void SetPortableDeviceBackend(std::unique_ptr<PortableDeviceBackend> backend) { BackendSlot() = std::move(backend); }

int FindPortableDevice(const std::string& name) {
  if (name.empty()) return 0;
  for (const PortableDeviceInfo& device : GetPortableDeviceBackend().ListDevices()) {
    if (device.friendlyName == name) return 1;
  }
  return 0;
}

int DeletePortableDeviceFile(const std::string& fileName) {
  // An empty name would match the first file of the first device: it names no file.
  if (fileName.empty()) return 0;
  PortableDeviceBackend& backend = GetPortableDeviceBackend();
  for (const PortableDeviceInfo& device : backend.ListDevices()) {
    if (DeleteFirstMatch(backend, device, nullptr, fileName, 0)) return 1;
  }
  return 0;
}

}  // namespace hlx
