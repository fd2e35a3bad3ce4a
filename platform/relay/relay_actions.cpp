// The notes and bookmarks actions in service mode; see relay_actions.h.
#include "relay_actions.h"

#include <utility>

#include "vnl_utf8.h"

namespace relay {

bool ActionsService::Handle(CommandMessage& message) {
    if (message.name == nullptr) return false;
    return HandleNoteAction(*this, message) || HandleBookmarkAction(*this, message);
}

void ActionsService::Queue(ActionStep step) {
    m_queue.push_back(std::move(step));
    if (m_running == 0) StartNext();
}

void ActionsService::StartNext() {
    while (m_running == 0 && !m_queue.empty()) {
        const ActionStep& step = m_queue.front();
        m_result = StepResult();
        m_running = step.device.empty() ? 0 : m_link.SendRequest(step.serviceCode, step.device, step.data);
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
    if (const std::optional<std::int64_t> count = ReportedCount(frame)) m_result.count = count;
    if (!data.empty()) m_result.parts.push_back(data);
    if (IsLastReply(packet.header)) {
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

void ActionsService::Relist(const char* name, std::int64_t code, const std::string& device) {
    std::wstring wide = vnl::WideFromUtf8(device);
    CommandMessage message{};
    message.name = name;
    message.code = code;
    message.wideText = &wide[0];
    (void)m_lists.Handle(message);
}

}  // namespace relay
