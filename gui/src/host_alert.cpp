// Host notices; see host_alert.h.
#include "host_alert.h"

#include "UiAlertDialog.h"
#include "command_bus.h"

namespace trv {

INT_PTR ShowHostAlert(const AlertRequest& request) {
    CommandBus& bus = CommandBus::Instance();
    UiAlertDialog alert(bus.GetImage("common\\close-normal.png"), bus.GetImage("common\\close-pressed.png"),
                        bus.GetImage("common\\alert.png"), false, request.centre, L"", request.button);
    alert.SetContent(request.text, nullptr, request.owner, request.width, request.height);
    return alert.Run();
}

}  // namespace trv
