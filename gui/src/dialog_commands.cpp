// Dialog commands; see dialog_commands.h.
#include "dialog_commands.h"

#include <string>

#include "host_platform.h"
#include "host_ui.h"

namespace trv {

extern "C" void TRV_CALL OnEditDeviceName(CommandMessage* message) {
    if (message == nullptr) {
        return;
    }
    LineQuestion question;
    question.label = L"Name:";
    std::wstring typed;
    if (!AskLine(question, typed)) {
        return;
    }
    const std::wstring name = TrimWhiteSpace(typed);
    if (name.empty()) {
        return;
    }
    wchar_t* copy = HeapWideCopy(name);
    if (copy == nullptr) {
        return;
    }
    message->status = 1;
    message->wideText = copy;
}

}  // namespace trv
