// The notes and bookmarks actions in service mode; see relay_actions.h.
#include "relay_actions.h"

#include <cwctype>
#include <utility>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "vnl_utf8.h"

namespace relay {

bool ActionsService::Handle(CommandMessage& message) {
    if (message.name == nullptr) return false;
    return HandleNoteAction(*this, message) || HandleBookmarkAction(*this, message) ||
           HandleAppAction(*this, message) || HandleBookAction(*this, message) ||
           HandleCalendarAction(*this, message) || HandleMessageAction(*this, message) ||
           HandlePhotoAction(*this, message);
}

void ActionsService::Queue(ActionStep step) {
    m_queue.push_back(std::move(step));
    if (m_running == 0) StartNext();
}

void ActionsService::StartNext() {
    while (m_running == 0 && !m_queue.empty()) {
        const ActionStep& step = m_queue.front();
        m_result = StepResult();
        m_running = step.device.empty() ? 0
                    : step.info.empty()  ? m_link.SendRequest(step.serviceCode, step.device, step.data)
                                         : m_link.SendInfoRequest(step.serviceCode, step.device, step.info);
        if (m_running == 0) Finish(StepResult());  // not sent: the step ends at once
    }
}

void ActionsService::Finish(StepResult result) {
    ActionStep step = std::move(m_queue.front());
    m_queue.pop_front();
    m_running = 0;
    if (step.done) step.done(result);  // may queue further steps
}

bool ActionsService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    if (m_running == 0 || packet.header.id != m_running) return false;
    const std::uint16_t status = packet.header.status;
    if (m_queue.front().itemReplies && frame.hasInfo && (status == kItemDone || status == kItemFailed)) {
        m_result.items.emplace_back(frame.infoJson, status == kItemDone);
        return true;
    }
    if (const std::optional<std::int64_t> count = ReportedCount(frame)) m_result.count = count;
    if (!data.empty()) {
        m_result.parts.push_back(data);
        m_result.infos.push_back(frame.hasInfo ? frame.infoJson : std::string());
    }
    if (!IsLastReply(packet.header)) {
        if (frame.code == 0) ++m_result.doneReplies;
    } else {
        m_result.code = frame.code;
        Finish(std::move(m_result));
        StartNext();
    }
    return true;
}

void ActionsService::OnServiceGone() {
    // Every step ends as not sent, the running one first, and nothing is sent on their behalf meanwhile.
    std::deque<ActionStep> gone;
    gone.swap(m_queue);
    m_running = 0;
    for (ActionStep& step : gone) {
        if (step.done) step.done(StepResult());
    }
}

void ActionsService::Answer(const char* name, const std::string& device, std::int64_t code, void* payload,
                            std::int64_t countLeft, ReleasePayloadFunction release) {
    RelayAnswer answer;
    answer.name = name;
    answer.device = device;
    answer.code = code;
    answer.payload = payload;
    answer.resultOrCount = countLeft;
    answer.release = release;
    m_link.Answer(answer);
}

std::shared_ptr<TextItem> PictureRow(const std::wstring& key, const std::string& bytes) {
    auto row = std::make_shared<TextItem>();
    std::wstring picture(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i) picture[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    row->fields = {key, std::move(picture)};
    return row;
}

void* OutcomeBatch(const std::wstring& text) {
    auto batch = std::make_unique<ItemBatch<TextItem>>();
    auto row = std::make_shared<TextItem>();
    row->fields.push_back(text);
    batch->items.push_back(row);
    return batch.release();
}

std::wstring OutcomeText(const ActionOutcome& outcome, const wchar_t* doneWord, const wchar_t* verb) {
    std::wstring text;
    for (size_t i = 0; i < outcome.done.size(); ++i) {
        text += (i == 0 ? std::wstring(doneWord) + L" " : std::wstring(L", ")) + outcome.done[i];
    }
    if (!text.empty()) text += L".";
    for (const auto& failure : outcome.failed) {
        text += (text.empty() ? L"" : L" ") + std::wstring(L"Could not ") + verb + L" " + failure.first + L": " +
                failure.second + L".";
    }
    if (text.empty()) {
        std::wstring word = doneWord;
        if (!word.empty()) word[0] = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(word[0])));
        text = L"Nothing was " + word + L".";
    }
    return text;
}

std::wstring FailureText(std::int64_t code) {
    switch (code) {
    case kStepNotSent: return L"the device service could not be reached";
    case 7: return L"the device is no longer connected";
    case 8: return L"the request was not understood";
    case 12: return L"the device's file service did not open";
    case 14: return L"the device's installation service did not open";
    case 24: return L"the connection to the device was lost";
    case 48: return L"the device is locked with a passcode";
    default: return L"the device service answered " + std::to_wstring(code);
    }
}

std::string JsonTextArray(const std::vector<std::wstring>& texts) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartArray();
    for (const std::wstring& text : texts) {
        const std::string utf8 = vnl::Utf8FromWide(text.c_str());
        writer.String(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()));
    }
    writer.EndArray();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JsonTextObject(const char* key, const std::wstring& text) {
    const std::string utf8 = vnl::Utf8FromWide(text.c_str());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key(key);
    writer.String(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::wstring JsonStringText(const std::string& json) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsString()) return vnl::WideFromUtf8(json);
    return vnl::WideFromUtf8(std::string(document.GetString(), document.GetStringLength()));
}

void ActionsService::KeepNames(const std::string& device, const std::vector<WideStringPair>& rows) {
    std::map<std::wstring, std::wstring>& names = m_names[device];
    names.clear();
    for (const WideStringPair& row : rows) names[row.first] = row.second;
}

std::wstring ActionsService::NameOf(const std::string& device, const std::wstring& key) const {
    auto byDevice = m_names.find(device);
    if (byDevice == m_names.end()) return key;
    auto name = byDevice->second.find(key);
    return name == byDevice->second.end() || name->second.empty() ? key : name->second;
}

std::uint64_t ActionsService::BeginRun(const std::string& device, const std::string& kind) {
    return m_runs[{device, kind}] = ++m_lastRun;
}

bool ActionsService::IsLatestRun(const std::string& device, const std::string& kind, std::uint64_t number) const {
    auto run = m_runs.find({device, kind});
    return run != m_runs.end() && run->second == number;
}

void ActionsService::Relist(const char* name, std::int64_t code, const std::string& device) {
    std::wstring wide = vnl::WideFromUtf8(device);
    CommandMessage message{};
    message.name = name;
    message.code = code;
    message.wideText = &wide[0];
    (void)m_lists.Handle(message);
}

}  // namespace relay
