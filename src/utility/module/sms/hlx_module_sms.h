// Request 201: the device's conversations. The "command" member of the request's "info" chooses
// where the message database comes from: 0 (or none) a partial backup, 1 the desktop backup tool,
// 2 the copy fetched by an earlier request (the device's MessagesDatabasePath); the conversations
// are then sent by QuerySmsDb (hlx_sms_query.h).
//
// Threads: any worker; each request keeps its worker for the whole fetch and query.
#pragma once

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleSms : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  int QueryWithPartialBackup(const FeatureRequest& request);
  int QueryWithBackupTool(const FeatureRequest& request);
};

}  // namespace hlx
