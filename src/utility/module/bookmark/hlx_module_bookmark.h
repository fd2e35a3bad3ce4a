// The bookmark module. Until its feature lands it answers every request with a final "task error".
//
// Threads: any worker.
#pragma once

#include "utility/module/hlx_module_unbuilt.h"

namespace hlx {

class HLXModuleBookmark : public HLXModuleUnbuilt {};

}  // namespace hlx
