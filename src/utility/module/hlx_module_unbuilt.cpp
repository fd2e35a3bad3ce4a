// Final "task error" reply of modules not built yet.
#include "utility/module/hlx_module_unbuilt.h"

namespace hlx {

int HLXModuleUnbuilt::Run(FeatureRequest& /*request*/) { return kReplyTaskError; }

}  // namespace hlx
