// The host's handler table; see host_commands.h. Rows of the table whose handlers belong to features
// the host does not serve yet are absent: invoking those names does nothing, as for any unknown name.
#include "host_commands.h"

#include <cwchar>
#include <cstdlib>
#include <string>

#include <glog/logging.h>

#include "../sdk/command_names.h"
#include "command_bus.h"
#include "product_identity.h"

namespace trv {
namespace {

const HostCommandEntry kHostCommands[] = {
    {ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR, &OnGetPersonalProductDir},
};

}  // namespace

extern "C" void TRV_CALL OnGetPersonalProductDir(CommandMessage* message) {
    try {
        if (message != nullptr) {
            message->wideText = _wcsdup(PersonalProductFolder().c_str());
        }
    } catch (...) {
        LOG(ERROR) << "personal product folder handler failed";
    }
}

const HostCommandEntry* HostCommandTable(size_t& count) {
    count = sizeof(kHostCommands) / sizeof(kHostCommands[0]);
    return kHostCommands;
}

void RegisterHostCommands(CommandBus& bus) {
    size_t count = 0;
    const HostCommandEntry* table = HostCommandTable(count);
    for (size_t i = 0; i < count; ++i) {
        bus.RegisterHostHandler(table[i].name, table[i].handler);
    }
}

}  // namespace trv
