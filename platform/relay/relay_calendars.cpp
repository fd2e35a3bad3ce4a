// The relay's calendars: the calendars with their events (1500) as the calendars table (relay_tables.h),
// one row per event under its calendar's title (a calendar without events has one row of its own), with
// its start and end in local time, location, repetition and first alarm, and after them the record the
// row shows (the event's identifier, or the calendar's), its key; see relay_lists.h. The section list
// counts the calendars the service reports, not the rows. The checked records are deleted one by one
// (1502); see relay_actions.h.
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_lists.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

std::wstring Repeats(const rapidjson::Value& event) {
    auto recurrence = event.FindMember("recurrence");
    if (recurrence == event.MemberEnd() || !recurrence->value.IsObject()) return std::wstring();
    const rapidjson::Value& rule = recurrence->value;
    return RepeatText(WideMember(rule, "frequency"), NumberMember(rule, "interval"), WideMember(rule, "until"));
}

std::wstring FirstAlarm(const rapidjson::Value& event) {
    const rapidjson::Value* alarms = ArrayMember(event, "display_alarms");
    if (alarms == nullptr || alarms->Empty() || !HasNumber((*alarms)[0], "triggerduration")) return std::wstring();
    const std::wstring first = AlarmText(NumberMember((*alarms)[0], "triggerduration"));
    return alarms->Size() == 1 ? first : first + L" (+" + std::to_wstring(alarms->Size() - 1) + L")";
}

void AddEvent(const std::wstring& calendar, const rapidjson::Value& event, ItemBatch<TextItem>& batch) {
    const bool allDay = NumberMember(event, "all_day") != 0;
    std::wstring summary = CellMember(event, "summary");
    if (summary.empty()) summary = L"(no title)";
    std::wstring starts = DateText(CellMember(event, "start_date"), allDay);
    if (allDay) starts += L" (all day)";
    AddRow(batch, {calendar, summary, starts, DateText(CellMember(event, "end_date"), allDay),
                   CellMember(event, "location"), Repeats(event), FirstAlarm(event), WideMember(event, "id")});
}

void AddCalendars(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsArray()) return;
    for (const rapidjson::Value& calendar : document.GetArray()) {
        if (!calendar.IsObject()) continue;
        std::wstring title = CellMember(calendar, "title");
        if (title.empty()) title = L"(untitled)";
        if (NumberMember(calendar, "read_only") != 0) title += L" (read-only)";
        const std::size_t before = batch.items.size();
        if (const rapidjson::Value* events = ArrayMember(calendar, "events")) {
            for (const rapidjson::Value& event : events->GetArray()) {
                if (event.IsObject()) AddEvent(title, event, batch);
            }
        }
        if (batch.items.size() == before) {
            AddRow(batch, {title, L"(no events)", L"", L"", L"", L"", L"", WideMember(calendar, "id")});
        }
    }
}

const BatchReader kCalendarRows = {&ReadTable<&AddCalendars>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_CALENDAR, 65, 1500, ZERITH_COMMAND_DO_CALENDAR, 65, 64, kRequestStatus, &kCalendarRows,
     kAnySection, false, "", true},
};
const std::int64_t kQueries[] = {63};

}  // namespace

const ListFeature kCalendarsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

namespace {

constexpr std::uint32_t kDeleteRecord = 1502;

// The records are known to the device by identifiers only: the outcome counts them.
std::wstring DeletionText(const ActionOutcome& outcome) {
    const size_t done = outcome.done.size();
    const size_t asked = done + outcome.failed.size();
    const std::wstring records = asked == 1 ? L" record" : L" records";
    if (outcome.failed.empty()) return L"Deleted " + std::to_wstring(done) + records + L".";
    const std::wstring why = outcome.failed.front().second;
    if (done == 0) return L"Could not delete the" + records + L": " + why + L".";
    return L"Deleted " + std::to_wstring(done) + L" of " + std::to_wstring(asked) + records +
           L". Could not delete the others: " + why + L".";
}

}  // namespace

bool HandleCalendarAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_CALENDAR) != 0 || message.code != sdk::calendars::kRelayDelete) {
        return false;
    }
    std::unique_ptr<std::vector<std::wstring>> records(static_cast<std::vector<std::wstring>*>(message.data));
    message.data = nullptr;
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    if (!records || records->empty() || device.empty()) return true;
    struct Run {
        ActionOutcome outcome;
        size_t left = 0;
    };
    auto run = std::make_shared<Run>();
    run->left = records->size();
    for (const std::wstring& record : *records) {
        ActionStep step;
        step.device = device;
        step.serviceCode = kDeleteRecord;
        step.data = JsonTextObject("id", record);
        step.done = [&service, device, run, record](const StepResult& result) {
            if (result.code == 0) {
                run->outcome.done.push_back(record);
            } else {
                run->outcome.failed.emplace_back(record, FailureText(result.code));
            }
            if (--run->left != 0) return;
            const std::int64_t count = service.Lists().Counted(device, sdk::calendars::kRelayCloudState).value_or(0);
            service.Answer(ZERITH_COMMAND_DO_CALENDAR, device, sdk::calendars::kRelayRemoved,
                           OutcomeBatch(DeletionText(run->outcome)), count, &ReleaseTextBatch);
            service.Relist(ZERITH_COMMAND_DO_CALENDAR, sdk::calendars::kRelayLoad, device);
        };
        service.Queue(std::move(step));
    }
    return true;
}

}  // namespace relay
