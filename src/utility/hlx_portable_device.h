// Portable devices: the camera-class view of attached phones that stands beside the device library.
// Two operations use it: FindPortableDevice (is a device of that name attached?) and
// DeletePortableDeviceFile (remove one file object by its original file name). Both go through
// PortableDeviceBackend, so the walk and the matching rules live here once, whatever lists the
// devices. The default back-end lists the simulated devices: every device image under the folder
// named by $HLX_DEVICE_ROOT (the same root the device library reads), named by the DeviceName of its
// XML lockdown values, with its camera folder fs/DCIM as the object tree.
//
// Threads: any worker. No state is shared between calls; the back-end is swapped only by tests,
// before any request runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hlx {

// One object of a device's tree: a folder (its children are listed on demand) or a file.
struct PortableObject {
  std::string id;                // the back-end's handle of the object
  std::string originalFileName;  // the file or folder name as the device keeps it (UTF-8)
  bool isFolder = false;
};

struct PortableDeviceInfo {
  std::string id;            // the back-end's handle of the device
  std::string friendlyName;  // the name the user gave the device
  std::string serialNumber;
};

class PortableDeviceBackend {
 public:
  virtual ~PortableDeviceBackend() = default;
  // The attached devices, in a stable order.
  virtual std::vector<PortableDeviceInfo> ListDevices() = 0;
  // The root objects of a device (its children of "DEVICE"), or the children of a folder object,
  // in the order the device lists them; empty when there are none or the listing fails.
  virtual std::vector<PortableObject> ListChildren(const PortableDeviceInfo& device, const PortableObject* folder) = 0;
  // Deletes one file object; true when it is gone.
  virtual bool DeleteObject(const PortableDeviceInfo& device, const PortableObject& object) = 0;
};

// The back-end in use: the simulated devices' camera folders unless a test set another.
PortableDeviceBackend& GetPortableDeviceBackend();
// For tests: the back-end to use from now on (null restores the default). Not thread-safe.
void SetPortableDeviceBackend(std::unique_ptr<PortableDeviceBackend> backend);

// 1 when an attached portable device's friendly name is exactly `name`, else 0. An empty name
// matches nothing. Reads only.
int FindPortableDevice(const std::string& name);

// Deletes the first file object, depth first over the devices in order, whose original file name is
// exactly `fileName` (byte-wise, case-sensitive: "IMG_1" never removes "IMG_10.JPG"); 1 when one
// was deleted, else 0. An empty name deletes nothing. Folders are never deleted.
int DeletePortableDeviceFile(const std::string& fileName);

// How deep the walk goes: a camera's tree is a few levels; deeper means a broken or looping device.
constexpr int kMaxPortableTreeDepth = 32;

}  // namespace hlx
