// The app module: requests 501 to 506 on the device's "com.apple.mobile.installation_proxy" and
// "com.apple.springboardservices" services:
//   501  list the user apps: {"Count":N}, then batches of at most 10 apps (JSON objects keyed by
//        bundle id, in the device's order) with their attributes, store metadata and disk usage
//   502  the icon of each bundle id of the data array, as raw PNG bytes with {"bundle_id":id}
//   504  install each .ipa of the data array (paths on this computer): its metadata, its icon, the
//        upload to "general_storage" (removed again when the device does not install it), the
//        device's progress and the outcome
//   505  uninstall, 506  archive each bundle id of the data array, with the device's progress
// The data part of 502 to 506 is a JSON array of strings. An item whose id is ".", or holds "/", "\",
// ".." or a control character is skipped without a reply (for 504 the id becomes a device path).
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 8 also for a data part that is not an
// array of strings (checked before any service opens); 12 (504) no AFC service; 14 the installation
// or springboard service did not open; 24 (501) the device's listing broke off before its end (no
// list is sent: a part of it would pass for the whole). Per-item outcomes travel in the progress
// replies: the last reply of an item has packet status 7 when the device completed it, 6 otherwise
// (also when the connection broke before the device's answer).
//
// Other modules read the user apps and their icons through AppSource (utility/hlx_app_source.h).
//
// Threads: any worker; no state of its own: each request opens its own service connection.
#pragma once

#include <string>
#include <vector>

#include "utility/hlx_app_source.h"
#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleApp : public HLXFeatureModule, public AppSource {
 public:
  bool BrowseUserApps(HLXDevice& device, std::vector<CFPtr<CFDictionaryRef>>* replies) override;
  CFPtr<CFDictionaryRef> CopyAppIconReply(HLXDevice& device, const std::string& bundleId) override;

 protected:
  int Run(FeatureRequest& request) override;

 private:
  int ListApps(const FeatureRequest& request);
  int SendAppIcons(const FeatureRequest& request, const std::vector<std::string>& bundleIds);
  int InstallPackages(const FeatureRequest& request, const std::vector<std::string>& packagePaths);
  // Uninstall (505) or archive (506) each bundle id.
  int ChangeApps(const FeatureRequest& request, const std::vector<std::string>& bundleIds, bool archive);
};

}  // namespace hlx
