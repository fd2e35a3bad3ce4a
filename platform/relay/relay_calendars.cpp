// The relay's calendars: the calendars with their events (1500) as the calendars table (relay_tables.h),
// one row per event under its calendar's title (a calendar without events has one row of its own), with
// its start and end in local time, location, repetition and first alarm; see relay_lists.h. The section
// list counts the calendars the service reports, not the rows.
#include <iterator>
#include <string>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

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
                   CellMember(event, "location"), Repeats(event), FirstAlarm(event)});
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
        if (batch.items.size() == before) AddRow(batch, {title, L"(no events)", L"", L"", L"", L"", L""});
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

}  // namespace relay
