// The contacts module: requests 100 to 106 on the device's synchronisation service, class
// "com.apple.Contacts" (hlx_sync_session.h runs the sessions):
//   100  list the groups (packet command 101: count, then batches) and the contacts (command 100:
//        count, -1 when there are none and a data-sync account holds them, then batches)
//   101  nothing (code 0)
//   102  write a contact with its sub-records; one data reply maps the sent ids to the device's
//   103, 105  delete a contact (with its own sub-records) or a group
//   104  create or rename a group;  106  write a group with its members
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 8 a data part that is not the JSON the
// request needs (checked before any session opens), 13 no service, 24 the connection was lost, 35
// the device refused or cancelled, 28 (102) no id for the contact, 1 (104, 106) no id for the group.
//
// Threads: any worker; no state of its own, so requests run side by side, each on its own
// service connection.
#pragma once

#include <rapidjson/fwd.h>

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleContact : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  int ListContacts(FeatureRequest& request);
  int WriteContact(const FeatureRequest& request, const rapidjson::Value& data);
  int DeleteContactRecord(const FeatureRequest& request, const rapidjson::Value& data);
  int WriteGroup(const FeatureRequest& request, const rapidjson::Value& data, bool withMembers);
};

}  // namespace hlx
