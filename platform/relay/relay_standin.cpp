// The relay module's stand-in: a module library that owns every ZERITH_ command name on the bus, as the
// relay module does, so that the host's deliveries to the relay find their owner. It does not start the
// device service yet and answers no query (the host reads its zeroed fields as "no answer").
//
// For tests it can trace each delivery: when TREVANE_RELAY_TRACE names a file, one line per received
// command is appended ("NAME code=.. status=..", " key=.." with the wide text when there is one, and, for
// the records it knows, their fields). When
// TREVANE_RELAY_CRASH_ON names a command, receiving that command crashes the process on purpose, so that
// the host's crash report can be exercised. Calls arrive on the host's UI thread.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <vornel/VNLTakeText.h>

#include "../../gui/sdk/command_message.h"
#include "../../gui/sdk/command_names.h"
#include "../../gui/sdk/server_start.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::string Utf8(const wchar_t* text) { return VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(text)); }

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
    for (const char* name : trv::kZerithCommandNames) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.name = name;
        message.owner = record->module;
        record->send(&message);
    }
}
