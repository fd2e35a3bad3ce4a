// The photo module. Until its feature lands it answers every request with a final "task error". Made
// without arguments, once, at start-up.
//
// Threads: any worker.
#pragma once

#include "utility/module/hlx_module_unbuilt.h"

namespace hlx {

class HLXModulePhoto : public HLXModuleUnbuilt {};

}  // namespace hlx
