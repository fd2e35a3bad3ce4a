// The request-code table: which module answers which codes, in the order the modules are made.
#include <cstdlib>
#include <initializer_list>

#include "utility/hlx_module.h"
#include "utility/module/app/hlx_module_app.h"
#include "utility/module/basicinfo/hlx_module_basicinfo.h"
#include "utility/module/bookmark/hlx_module_bookmark.h"
#include "utility/module/calendar/hlx_module_calendar.h"
#include "utility/module/connect/hlx_module_connect.h"
#include "utility/module/contact/hlx_module_contact.h"
#include "utility/module/control/hlx_module_control.h"
#include "utility/module/erase/hlx_module_erase.h"
#include "utility/module/file/hlx_module_file.h"
#include "utility/module/itunes/hlx_module_itunes.h"
#include "utility/module/media/hlx_module_media.h"
#include "utility/module/note/hlx_module_note.h"
#include "utility/module/photo/hlx_module_photo.h"
#include "utility/module/sms/hlx_module_sms.h"
#include "utility/module/test_probe/hlx_module_test_probe.h"

namespace hlx {
namespace {

void EnterModule(HLXModule* module, std::initializer_list<int32_t> codes) {
  for (int32_t code : codes) ModuleRegistry::GetInstance().Enter(code, module);
}

}  // namespace

bool RegisterModules() {
  // Module objects live until the process ends.
  EnterModule(new HLXModuleConnect(), {16, 17, 10, 18});
  EnterModule(new HLXModuleBasicInfo(), {300, 303, 15});
  EnterModule(new HLXModuleContact(), {100, 101, 102, 103, 104, 105, 106});
  EnterModule(new HLXModuleSms(), {201});
  EnterModule(new HLXModuleNote(), {1200, 1201});
  EnterModule(new HLXModuleBookmark(), {1400, 1401, 1402});
  EnterModule(new HLXModuleCalendar(), {1500, 1501, 1502});
  EnterModule(new HLXModulePhoto(), {400, 401, 402, 403, 404});
  EnterModule(new HLXModuleMedia(), {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                                     1011, 1012, 1013});
  EnterModule(new HLXModuleApp(), {501, 502, 504, 505, 506});
  EnterModule(new HLXModuleiTunes(), {1600, 1601, 1602, 1603, 1604, 1605, 1606, 1607});
  EnterModule(new HLXModuleFile(), {701, 702, 703});
  EnterModule(new HLXModuleControl(), {HLXModuleControl::kCodeCancel});
  EnterModule(new HLXModuleErase(), {1700, 1701});
  if (std::getenv("HLX_TEST_MODULES")) {
    EnterModule(new HLXModuleTestProbe(),
                {HLXModuleTestProbe::kCodeLongTask, HLXModuleTestProbe::kCodeDataReply});
  }
  return true;
}

}  // namespace hlx
