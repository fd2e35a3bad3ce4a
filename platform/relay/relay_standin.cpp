// The relay module's stand-in: a module library that owns every ZERITH_ command name on the bus, as the
// relay module does, so that the host's deliveries to the relay find their owner. With TREVANE_HARLIX set
// it starts the device service and relays its devices and contacts (relay_service.h); otherwise it does
// not start the service, serves contacts from TREVANE_RELAY_FIXTURE when that names a fixture, and answers
// no other query (the host reads its zeroed fields as "no answer").
//
// For tests it can trace each delivery: when TREVANE_RELAY_TRACE names a file, one line per received
// command is appended ("NAME code=.. status=..", " key=.." with the wide text when there is one, and, for
// the records it knows, their fields: contacts with their phones, e-mails and addresses, groups with their
// members, identifier lists and counts, an export's folder). When
// TREVANE_RELAY_CRASH_ON names a command, receiving that command crashes the process on purpose, so that
// the host's crash report can be exercised. Calls arrive on the host's UI thread.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <vornel/VNLTakeText.h>

#include "command_message.h"
#include "command_names.h"
#include "contact_codes.h"
#include "contact_records.h"
#include "server_start.h"
#include "contacts_fixture.h"
#include "relay_service.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::string Utf8(const wchar_t* text) { return VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(text)); }
std::string Utf8(const std::wstring& text) { return Utf8(text.c_str()); }

std::unique_ptr<relay::ContactsFixture>* g_fixture = nullptr;

template <typename List, typename Describe>
std::string ListText(const List& list, Describe describe) {
    std::string text = std::to_string(list.size()) + "[";
    for (size_t i = 0; i < list.size(); ++i) text += (i > 0 ? "," : "") + describe(list[i]);
    return text + "]";
}

std::string DescribeContact(const iOSContact& c) {
    auto property = [](const std::shared_ptr<iOSContactProperty>& p) {
        return Utf8(p->labelKey) + ":" + Utf8(p->value);
    };
    auto address = [](const std::shared_ptr<iOSContactAddress>& a) {
        return Utf8(a->labelKey) + ":" + Utf8(a->street) + "|" + Utf8(a->city) + "|" + Utf8(a->state) + "|" +
               Utf8(a->postalCode) + "|" + Utf8(a->countryCode);
    };
    return " contact id=" + Utf8(c.identifier) + " kind=" + Utf8(c.recordKind) + " first=" + Utf8(c.firstName) +
           " last=" + Utf8(c.lastName) + " company=" + Utf8(c.company) + " phones=" + ListText(c.phones, property) +
           " emails=" + ListText(c.emails, property) + " addresses=" + ListText(c.addresses, address);
}

std::string DescribeContactRequest(const CommandMessage& message) {
    switch (message.code) {
    case sdk::contacts::kRelaySaveNew:
    case sdk::contacts::kRelaySaveEdited: return DescribeContact(*static_cast<const iOSContact*>(message.data));
    case sdk::contacts::kRelayCreateGroup:
    case sdk::contacts::kRelayChangeGroup: {
        const auto& group = *static_cast<const iOSContactGroup*>(message.data);
        return " group id=" + Utf8(group.identifier) + " name=" + Utf8(group.name) +
               " members=" + ListText(group.members, [](const std::wstring& id) { return Utf8(id); }) +
               " guid=" + group.guidText;
    }
    case sdk::contacts::kRelayRemove:
    case sdk::contacts::kRelayImportXml:
        return " ids=" + ListText(*static_cast<const std::vector<std::wstring>*>(message.data),
                                  [](const std::wstring& id) { return Utf8(id); });
    case sdk::contacts::kRelayExportVcards:
    case sdk::contacts::kRelayBackupXml:
    case sdk::contacts::kRelayExportCsv:
        return " records=" +
               ListText(*static_cast<const std::vector<iOSContact*>*>(message.data),
                        [](const iOSContact* c) { return c != nullptr ? Utf8(c->identifier) : "null"; }) +
               (message.extra != nullptr ? " folder=" + Utf8(static_cast<const wchar_t*>(message.extra)) : "");
    case sdk::contacts::kRelayRemoveGroup: return " id=" + Utf8(static_cast<const wchar_t*>(message.data));
    default: return "";
    }
}

std::string Describe(const CommandMessage& message) {
    std::string line = message.name != nullptr ? message.name : "(null)";
    line += " code=" + std::to_string(message.code) + " status=" + std::to_string(message.status);
    if (message.wideText != nullptr) {
        line += " key=" + Utf8(message.wideText);
    }
    if (message.name == nullptr || message.data == nullptr) {
        return line;
    }
    if (std::strcmp(message.name, ZERITH_COMMAND_MOVE_WINDOW) == 0) {
        const auto* pair = static_cast<const int32_t*>(message.data);
        line += " dx=" + std::to_string(pair[0]) + " dy=" + std::to_string(pair[1]);
    } else if (std::strcmp(message.name, ZERITH_COMMAND_DO_CONTACT) == 0) {
        line += DescribeContactRequest(message);
    } else if (std::strcmp(message.name, ZERITH_COMMAND_DO_FILE) == 0 && message.extra != nullptr) {
        line +=
            " count=" + std::to_string(message.count) + " folder=" + Utf8(static_cast<const wchar_t*>(message.extra));
    } else if ((std::strcmp(message.name, ZERITH_COMMAND_DO_NOTE) == 0 ||
                std::strcmp(message.name, ZERITH_COMMAND_DO_BOOKMARK) == 0) &&
               message.extra != nullptr) {
        line += " folder=" + Utf8(static_cast<const wchar_t*>(message.extra));  // an export's folder
    } else if (std::strcmp(message.name, ZERITH_COMMAND_START_SERVER) == 0) {
        const auto* record = static_cast<const ServerStartRecord*>(message.data);
        line += " product=" + Utf8(record->productName) + " brand=" + Utf8(record->brandWord) +
                " version=" + Utf8(record->version);
    }
    return line;
}

void Trace(const CommandMessage* message) {
    const std::wstring path = Environment(L"TREVANE_RELAY_TRACE");
    if (path.empty()) {
        return;
    }
    FILE* raw = _wfopen(path.c_str(), L"ab");
    if (raw == nullptr) {
        return;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    const std::string line = (message != nullptr ? Describe(*message) : std::string("(null message)")) + "\n";
    fwrite(line.data(), 1, line.size(), file.get());
}

void CrashIfAsked(const CommandMessage* message) {
    const std::wstring crashOn = Environment(L"TREVANE_RELAY_CRASH_ON");
    if (crashOn.empty() || message == nullptr || message->name == nullptr) {
        return;
    }
    if (Utf8(crashOn.c_str()) == message->name) {
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
}

void __cdecl ReceiveCommand(CommandMessage* message) {
    try {
        Trace(message);
        CrashIfAsked(message);
        if (relay::IsServiceModeRequested()) {
            (void)relay::HandleServiceCommand(message);
        } else if (message != nullptr && message->name != nullptr && g_fixture != nullptr && *g_fixture &&
                   std::strcmp(message->name, ZERITH_COMMAND_DO_CONTACT) == 0) {
            (*g_fixture)->Handle(*message);
        }
    } catch (...) {
        // Nothing may cross back into the host.
    }
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl RegisterModule(ModuleRecord* record) {
    if (record == nullptr || record->send == nullptr) {
        return;
    }
    record->receive = &ReceiveCommand;
    const std::wstring fixture = Environment(L"TREVANE_RELAY_FIXTURE");
    if (!fixture.empty()) {
        g_fixture = new std::unique_ptr<relay::ContactsFixture>(relay::ContactsFixture::Load(fixture, record));
    }
    relay::SetServiceHost(record);
    for (const char* name : sdk::kZerithCommandNames) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.name = name;
        message.owner = record->module;
        record->send(&message);
    }
}
