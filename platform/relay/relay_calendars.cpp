// The relay's calendars: the calendars with their events (1500) as the calendars table (relay_tables.h),
// one row per event under its calendar's title (a calendar without events has one row of its own), with
// its start and end in local time, location, repetition and first alarm, and after them the record the
// row shows (the event's identifier, or the calendar's), its key; see relay_lists.h. The section list
// counts the calendars the service reports, not the rows. The checked records are deleted one by one
// (1502); an export lists the calendars afresh (1500) and writes them all into the chosen folder, as
// iCalendar events (Calendars.ics) or as the XML backup (Calendars.xml); see relay_actions.h.
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_exports.h"
#include "relay_lists.h"
#include "relay_xml.h"
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

constexpr std::uint32_t kListCalendars = 1500;
constexpr std::uint32_t kDeleteRecord = 1502;

// "2016-03-01 09:30:00" (the service's local time) as "20160301T093000"; a date alone as "20160301".
std::string IcsTime(const std::wstring& local, bool dateOnly) {
    std::string out;
    for (wchar_t c : local.substr(0, dateOnly ? 10 : 19)) {
        if (c >= L'0' && c <= L'9') out += static_cast<char>(c);
        if (c == L' ' && !dateOnly) out += 'T';
    }
    return out;
}

// A text value of iCalendar: backslash, semicolon, comma and line breaks escaped.
std::string IcsText(const std::wstring& text) {
    std::string out;
    for (char c : vnl::Utf8FromWide(text.c_str())) {
        if (c == '\\' || c == ';' || c == ',') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

void AppendIcsEvent(std::string& out, const std::wstring& calendar, const rapidjson::Value& event) {
    const bool allDay = NumberMember(event, "all_day") != 0;
    const std::string date = allDay ? ";VALUE=DATE:" : ":";
    out += "BEGIN:VEVENT\r\nUID:" + IcsText(WideMember(event, "id")) + "\r\n";
    out += "SUMMARY:" + IcsText(WideMember(event, "summary")) + "\r\n";
    out += "CATEGORIES:" + IcsText(calendar) + "\r\n";
    out += "DTSTART" + date + IcsTime(WideMember(event, "start_date"), allDay) + "\r\n";
    out += "DTEND" + date + IcsTime(WideMember(event, "end_date"), allDay) + "\r\n";
    for (const char* member : {"location", "description"}) {
        const std::wstring text = WideMember(event, member);
        if (text.empty()) continue;
        std::string name = member;
        for (char& c : name) c = static_cast<char>(c - 'a' + 'A');
        out += name + ":" + IcsText(text) + "\r\n";
    }
    auto recurrence = event.FindMember("recurrence");
    if (recurrence != event.MemberEnd() && recurrence->value.IsObject()) {
        std::string frequency = vnl::Utf8FromWide(WideMember(recurrence->value, "frequency").c_str());
        for (char& c : frequency) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        out += "RRULE:FREQ=" + frequency;
        if (NumberMember(recurrence->value, "interval") > 1) {
            out += ";INTERVAL=" + std::to_string(NumberMember(recurrence->value, "interval"));
        }
        const std::wstring until = WideMember(recurrence->value, "until");
        if (!until.empty()) out += ";UNTIL=" + IcsTime(until, allDay);
        out += "\r\n";
    }
    if (const rapidjson::Value* alarms = ArrayMember(event, "display_alarms")) {
        for (const rapidjson::Value& alarm : alarms->GetArray()) {
            if (!alarm.IsObject()) continue;
            const std::int64_t seconds = NumberMember(alarm, "triggerduration");
            out += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:" + IcsText(WideMember(alarm, "description")) +
                   "\r\nTRIGGER:" + (seconds < 0 ? "-" : "") + "PT" + std::to_string(seconds < 0 ? -seconds : seconds) +
                   "S\r\nEND:VALARM\r\n";
        }
    }
    out += "END:VEVENT\r\n";
}

void AppendXmlElement(std::string& out, const char* indent, const char* name, const std::wstring& text) {
    out += std::string(indent) + "<" + name + ">";
    AppendXmlEscaped(out, text, false);
    out += std::string("</") + name + ">\n";
}

void AppendXmlEvent(std::string& out, const rapidjson::Value& event) {
    out += "    <event allDay=\"" + std::to_string(NumberMember(event, "all_day") != 0 ? 1 : 0) + "\">\n";
    for (const char* member : {"summary", "start_date", "end_date", "location", "description"}) {
        AppendXmlElement(out, "      ", member, WideMember(event, member));
    }
    auto recurrence = event.FindMember("recurrence");
    if (recurrence != event.MemberEnd() && recurrence->value.IsObject()) {
        out += "      <recurrence frequency=\"";
        AppendXmlEscaped(out, WideMember(recurrence->value, "frequency"), true);
        out += "\" interval=\"" + std::to_string(NumberMember(recurrence->value, "interval")) + "\" until=\"";
        AppendXmlEscaped(out, WideMember(recurrence->value, "until"), true);
        out += "\"/>\n";
    }
    if (const rapidjson::Value* alarms = ArrayMember(event, "display_alarms")) {
        for (const rapidjson::Value& alarm : alarms->GetArray()) {
            if (!alarm.IsObject()) continue;
            out += "      <alarm trigger=\"" + std::to_string(NumberMember(alarm, "triggerduration")) + "\">";
            AppendXmlEscaped(out, WideMember(alarm, "description"), false);
            out += "</alarm>\n";
        }
    }
    out += "    </event>\n";
}

}  // namespace

std::string ComposeCalendarsIcs(const std::vector<std::string>& parts) {
    std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Solvak//Trevane//EN\r\n";
    for (const std::string& part : parts) {
        (void)ForEachRecord(part, [&out](const rapidjson::Value& calendar) {
            if (const rapidjson::Value* events = ArrayMember(calendar, "events")) {
                for (const rapidjson::Value& event : events->GetArray()) {
                    if (event.IsObject()) AppendIcsEvent(out, WideMember(calendar, "title"), event);
                }
            }
        });
    }
    return out + "END:VCALENDAR\r\n";
}

std::string ComposeCalendarsXml(const std::vector<std::string>& parts) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<calendarsBackup version=\"1\">\n";
    for (const std::string& part : parts) {
        (void)ForEachRecord(part, [&out](const rapidjson::Value& calendar) {
            out += "  <calendar title=\"";
            AppendXmlEscaped(out, WideMember(calendar, "title"), true);
            out += "\" readOnly=\"" + std::to_string(NumberMember(calendar, "read_only") != 0 ? 1 : 0) + "\">\n";
            if (const rapidjson::Value* events = ArrayMember(calendar, "events")) {
                for (const rapidjson::Value& event : events->GetArray()) {
                    if (event.IsObject()) AppendXmlEvent(out, event);
                }
            }
            out += "  </calendar>\n";
        });
    }
    return out + "</calendarsBackup>\n";
}

namespace {

// Lists the calendars afresh and writes them into `folder`; the host hears of it as of a file export.
void ExportCalendars(ActionsService& service, const std::string& device, const std::wstring& folder, bool ics) {
    ActionStep step;
    step.device = device;
    step.serviceCode = kListCalendars;
    step.done = [&service, device, folder, ics](const StepResult& result) {
        bool written = false;
        if (result.code == 0) {
            written = ics ? WriteExport(service.Link(), folder, kCalendarsIcsFileName, ComposeCalendarsIcs(result.parts))
                          : WriteExport(service.Link(), folder, kCalendarsXmlFileName, ComposeCalendarsXml(result.parts));
        }
        AnswerFilesExported(service.Link(), device, folder, result.code, written ? 1 : 0);
    };
    service.Queue(std::move(step));
}

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
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_CALENDAR) != 0) return false;
    if (message.code == sdk::calendars::kRelayExport || message.code == sdk::calendars::kRelayBackupXml) {
        const auto* folder = static_cast<const wchar_t*>(message.extra);  // lent for the call
        if (folder != nullptr && message.wideText != nullptr) {
            ExportCalendars(service, vnl::Utf8FromWide(message.wideText), folder,
                            message.code == sdk::calendars::kRelayExport);
        }
        return true;
    }
    if (message.code != sdk::calendars::kRelayDelete) return false;
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
