// The relay's exports of device files; see relay_exports.h.
#include "relay_exports.h"

#include <cstring>
#include <memory>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "relay_paths.h"
#include "vnl_utf8.h"
#include "wide_pair.h"

namespace relay {
namespace {

constexpr std::uint32_t kRequestExportFiles = 701;
constexpr std::int64_t kTaskError = 2;

void WriteText(rapidjson::Writer<rapidjson::StringBuffer>& writer, const std::wstring& text) {
    const std::string utf8 = vnl::Utf8FromWide(text.c_str());
    writer.String(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()));
}

}  // namespace

std::string ExportItemsJson(const std::vector<WideStringPair>& pairs, const std::wstring& folder) {
    rapidjson::StringBuffer json;
    rapidjson::Writer<rapidjson::StringBuffer> writer(json);
    writer.StartArray();
    for (const WideStringPair& pair : pairs) {
        writer.StartArray();
        WriteText(writer, pair.first);
        WriteText(writer, pair.second);
        WriteText(writer, folder);
        writer.EndArray();
    }
    writer.EndArray();
    return std::string(json.GetString(), json.GetSize());
}

bool ExportService::Handle(CommandMessage& message) {
    if (message.name == nullptr || std::strcmp(message.name, ZERITH_COMMAND_DO_FILE) != 0 ||
        message.code != kExportFilesCode) {
        return false;
    }
    // The pairs are the relay's from here; nothing else refers to them after this call.
    std::unique_ptr<std::vector<WideStringPair>> pairs(static_cast<std::vector<WideStringPair>*>(message.data));
    message.data = nullptr;
    Export job;
    job.device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    if (message.extra != nullptr) job.folder = static_cast<const wchar_t*>(message.extra);
    const std::wstring folder =
        message.extra != nullptr ? m_link.ServicePathOf(static_cast<const wchar_t*>(message.extra)) : std::wstring();
    if (!pairs || pairs->empty()) {
        Finish(job, 0);  // nothing checked: nothing to copy
        return true;
    }
    // No device, or a folder the service cannot reach: nothing can be copied.
    const std::uint64_t id = job.device.empty() || folder.empty()
                                 ? 0
                                 : m_link.SendRequest(kRequestExportFiles, job.device, ExportItemsJson(*pairs, folder));
    if (id == 0) {
        Finish(job, kTaskError);
    } else {
        m_inFlight[id] = job;
    }
    return true;
}

bool ExportService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& /*data*/) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) return false;
    if (!IsLastReply(packet.header)) {
        if (frame.code == 0) ++it->second.arrived;  // one file reported
        return true;
    }
    const Export done = it->second;
    m_inFlight.erase(it);
    Finish(done, frame.code);
    return true;
}

void ExportService::OnServiceGone() {
    std::map<std::uint64_t, Export> gone;
    gone.swap(m_inFlight);
    for (const auto& entry : gone) Finish(entry.second, kTaskError);
}

void AnswerFilesExported(RelayLink& link, const std::string& device, const std::wstring& folder,
                         std::int64_t serviceCode, std::int64_t arrived) {
    RelayAnswer answer;
    answer.device = device;
    answer.code = kExportFilesCode;
    answer.resultOrCount = serviceCode;
    answer.count = arrived;
    answer.userText = folder;
    answer.name = ZERITH_COMMAND_DO_FILE;
    link.Answer(answer);
}

void ExportService::Finish(const Export& job, std::int64_t serviceCode) {
    AnswerFilesExported(m_link, job.device, job.folder, serviceCode, job.arrived);
}

}  // namespace relay
