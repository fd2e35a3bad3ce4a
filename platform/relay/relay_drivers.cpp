// The driver set-up in service mode; see relay_drivers.h.
#include "relay_drivers.h"

#include <cstring>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"

namespace relay {
namespace {

constexpr std::int64_t kSuccess = 0;
constexpr std::int64_t kCancelled = 6;
constexpr std::int64_t kStoreEditionInstalled = 54;
// What RECV_STORE_ITUNES_IS_INSTALLED tells the host.
constexpr std::int64_t kInstallFailed = 1;
constexpr std::int64_t kStoreEditionFound = 2;
// A step that ended without the service's answer.
constexpr std::int64_t kNoAnswer = -1;
constexpr std::int64_t kPercent = 100;

// One line of the progress dialog each.
const wchar_t kLibraryStartedText[] = L"The driver is installed.";
const wchar_t kLibraryNotStartedText[] = L"The driver is installed. Please restart the computer.";

bool Is(const CommandMessage& message, const char* name) {
    return message.name != nullptr && std::strcmp(message.name, name) == 0;
}

// {"uuid":"", <member>: <raw JSON>}; the member is left out when `rawJson` is empty.
std::string RequestJson(const char* member, const std::string& rawJson) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("uuid");
    writer.String("");
    if (!rawJson.empty()) {
        writer.Key(member);
        writer.RawValue(rawJson.c_str(), rawJson.size(), rapidjson::kObjectType);
    }
    writer.EndObject();
    return json.GetString();
}

std::string UrlInfo(const char* url) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartObject();
    writer.Key("url");
    writer.String(url);
    writer.EndObject();
    return json.GetString();
}

std::string PathList(const std::vector<std::string>& paths) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartArray();
    for (const std::string& path : paths) {
        writer.String(path.c_str(), static_cast<rapidjson::SizeType>(path.size()));
    }
    writer.EndArray();
    return json.GetString();
}

// The whole run's percentage from one package's progress {"total","step","index","count"}.
std::int64_t DownloadPercent(const JsonObjectView& info) {
    std::int64_t total = 0, step = 0, index = 0, count = 0;
    (void)info.GetInteger("total", total);
    (void)info.GetInteger("step", step);
    (void)info.GetInteger("index", index);
    (void)info.GetInteger("count", count);
    if (count <= 0 || index <= 0 || index > count) {
        return 0;
    }
    const std::int64_t packagePercent = total > 0 && step >= 0 && step <= total ? step * kPercent / total : 0;
    return ((index - 1) * kPercent + packagePercent) / count;
}

}  // namespace

std::int64_t HelperResult(const Packet& packet, const ReplyFrame& frame) {
    JsonObjectView info;
    std::int64_t error = 0;
    if (frame.hasInfo && info.Parse(frame.infoJson) && info.GetInteger("error", error)) {
        return error;
    }
    if (frame.code != kSuccess) {
        return frame.code;
    }
    return packet.header.status == 1 ? kSuccess : kNoAnswer;
}

bool DriverService::Handle(CommandMessage& message) {
    if (Is(message, ZERITH_COMMAND_DO_CANCEL)) {
        if (m_step != Step::kDownload || message.status != static_cast<std::int64_t>(m_requestId)) {
            return false;  // another feature's cancel
        }
        rapidjson::StringBuffer json;
        rapidjson::Writer<rapidjson::StringBuffer> writer(json);
        writer.StartObject();
        writer.Key("uuid");
        writer.String("");
        writer.Key("code");
        writer.Uint64(m_requestId);
        writer.EndObject();
        (void)m_link.SendJsonRequest(kRequestCancel, json.GetString());
        return true;
    }
    if (!Is(message, ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER)) {
        return false;
    }
    if (m_step != Step::kIdle) {
        return true;  // one run at a time
    }
    m_packages.clear();
    Begin(Step::kDownload, kRequestDownloadDrivers,
          RequestJson("info", UrlInfo(message.text != nullptr ? message.text : "")));
    if (m_step == Step::kDownload) {
        Report(ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER, static_cast<std::int64_t>(m_requestId));
    } else {
        Report(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, kNoAnswer);
    }
    return true;
}

void DriverService::Begin(Step step, std::uint32_t code, const std::string& json) {
    m_requestId = m_link.SendJsonRequest(code, json);
    m_step = m_requestId != 0 ? step : Step::kIdle;
}

void DriverService::Report(const char* name, std::int64_t status, std::int64_t done, std::int64_t total,
                           const std::wstring& text) {
    RelayAnswer answer;
    answer.name = name;
    answer.status = status;
    answer.done = done;
    answer.count = total;
    answer.userText = text;
    m_link.Answer(answer);
}

bool DriverService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& /*data*/) {
    if (m_step == Step::kIdle || packet.header.id != m_requestId) {
        return false;
    }
    switch (m_step) {
    case Step::kDownload: OnDownloadReply(packet, frame); break;
    case Step::kInstall: OnInstallReply(packet, frame); break;
    default:
        if (IsLastReply(packet.header)) {
            EndStep(m_step == Step::kStoreCheck ? HelperResult(packet, frame) : frame.code);
        }
        break;
    }
    return true;
}

void DriverService::OnDownloadReply(const Packet& packet, const ReplyFrame& frame) {
    if (!IsLastReply(packet.header)) {
        JsonObjectView info;
        if (frame.stage == 3) {
            // The verified packages, in order: a JSON array of local paths.
            rapidjson::Document paths;
            m_packages.clear();
            if (!paths.Parse(frame.infoJson.c_str()).HasParseError() && paths.IsArray()) {
                for (const auto& path : paths.GetArray()) {
                    if (path.IsString()) m_packages.emplace_back(path.GetString(), path.GetStringLength());
                }
            }
        } else if (frame.hasInfo && info.Parse(frame.infoJson)) {
            Report(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, kSuccess, DownloadPercent(info), kPercent);
        }
        return;
    }
    EndStep(packet.header.status == 1 ? frame.code : (frame.code != kSuccess ? frame.code : kNoAnswer));
}

void DriverService::OnInstallReply(const Packet& packet, const ReplyFrame& frame) {
    if (!IsLastReply(packet.header)) {
        JsonObjectView info;
        std::int64_t index = 0, count = 0;
        if (frame.hasInfo && info.Parse(frame.infoJson) && info.GetInteger("index", index) &&
            info.GetInteger("count", count)) {
            Report(ZERITH_COMMAND_RECV_INSTALL_DRIVER, kSuccess, index, count);
        }
        return;
    }
    EndStep(HelperResult(packet, frame));
}

// The running step has its result: the next step starts, or the run ends with its report.
void DriverService::EndStep(std::int64_t result) {
    const Step ended = m_step;
    m_step = Step::kIdle;
    m_requestId = 0;
    switch (ended) {
    case Step::kDownload:
        if (result == kCancelled) {
            return;
        }
        if (result != kSuccess) {
            Report(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, result);
            return;
        }
        Report(ZERITH_COMMAND_PRE_INSTALL_DRIVER, kSuccess);
        Begin(Step::kInstall, kRequestInstallDrivers, RequestJson("info", PathList(m_packages)));
        if (m_step == Step::kIdle) {
            Report(ZERITH_COMMAND_RECV_INSTALL_DRIVER, kNoAnswer);
        }
        return;
    case Step::kInstall:
        if (result == kSuccess) {
            // The service may pass the helper's last progress on after its result: the count is whole now.
            const auto installed = static_cast<std::int64_t>(m_packages.size());
            Report(ZERITH_COMMAND_RECV_INSTALL_DRIVER, kSuccess, installed, installed);
            Begin(Step::kStartLibrary, kRequestStartDeviceLibrary, RequestJson("info", ""));
            if (m_step == Step::kIdle) {
                Report(ZERITH_COMMAND_RECV_START_ITUNES_DLL, kNoAnswer, 0, 0, kLibraryNotStartedText);
            }
            return;
        }
        Report(ZERITH_COMMAND_RECV_INSTALL_DRIVER, result);
        Begin(Step::kStoreCheck, kRequestCheckStoreEdition, RequestJson("info", ""));
        if (m_step == Step::kIdle) {
            Report(ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, kInstallFailed);
        }
        return;
    case Step::kStoreCheck:
        Report(ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED,
               result == kStoreEditionInstalled ? kStoreEditionFound : kInstallFailed);
        return;
    case Step::kStartLibrary:
        Report(ZERITH_COMMAND_RECV_START_ITUNES_DLL, result, 0, 0,
               result == kSuccess ? kLibraryStartedText : kLibraryNotStartedText);
        return;
    case Step::kIdle: return;
    }
}

void DriverService::OnServiceGone() {
    if (m_step != Step::kIdle) {
        EndStep(kNoAnswer);
    }
}

}  // namespace relay
