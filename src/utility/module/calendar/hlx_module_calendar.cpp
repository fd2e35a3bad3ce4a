// Requests 1500 to 1502 (see hlx_module_calendar.h).
#include "utility/module/calendar/hlx_module_calendar.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "utility/hlx_device.h"
#include "utility/hlx_json.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_sync_session.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

using ClassAnswer = HLXSyncSession::ClassAnswer;

constexpr char kCalendarEntity[] = "com.apple.calendars.Calendar";
constexpr char kEventEntity[] = "com.apple.calendars.Event";
constexpr char kRecurrenceEntity[] = "com.apple.calendars.Recurrence";
constexpr char kAlarmEntity[] = "com.apple.calendars.DisplayAlarm";
constexpr size_t kCalendarReplyBatch = 20;

// The written entities in the order of their messages (and of the reply); each after the first
// names records of the one it refers to: events their calendar, alarms and recurrences their events.
constexpr int kWrittenEntityCount = 4;
constexpr const char* kWrittenEntities[kWrittenEntityCount] = {kCalendarEntity, kEventEntity, kAlarmEntity,
                                                               kRecurrenceEntity};
constexpr int kReferredEntity[kWrittenEntityCount] = {-1, 0, 1, 1};

struct RecurrenceRecord {
  std::string frequency;
  int32_t interval = 0;
  std::string until;  // local time
  std::string untilSource;
  std::vector<std::string> owners;
};

struct AlarmRecord {
  std::string description;
  int32_t triggerDuration = 0;
  std::vector<std::string> owners;
};

struct EventRecord {
  std::string startDate;  // local time
  std::string startDateSource;
  std::string endDate;
  std::string endDateSource;
  std::string url;
  int32_t allDay = 0;
  std::string timeZone;
  std::string summary;
  std::string description;
  std::string location;
  std::vector<std::string> calendars;
  // Links made once every batch is in (ids of the context's maps).
  std::string recurrence;
  std::vector<std::string> alarms;
};

struct CalendarRecord {
  std::string title;
  std::array<int32_t, 4> colour{};
  int32_t readOnly = 0;
  std::vector<std::string> events;  // linked once every batch is in
};

// The records of every batch by id (byte order); a record sent twice is the later one, updated in
// place, so nothing links to a record that is gone. Also the id map of a write's answer.
struct CalendarSyncContext {
  bool listing = true;
  std::map<std::string, CalendarRecord> calendars;
  std::map<std::string, EventRecord> events;
  std::map<std::string, RecurrenceRecord> recurrences;
  std::map<std::string, AlarmRecord> alarms;
  std::map<std::string, std::string> remap;  // sent id -> device id
};

// The low 32 bits of a property-list integer.
int32_t Int32Of(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

std::vector<std::string> TextsOf(const PlistVariant::Array& array) {
  std::vector<std::string> texts;
  for (const PlistVariant& element : array) {
    if (element.GetString() != nullptr) texts.push_back(*element.GetString());
  }
  return texts;
}

void CollectRecord(CalendarSyncContext* sync, const std::string& id, const CIOSDictionary& record) {
  const PlistVariant* entityValue = record.Find(kSyncRecordEntityKey);
  const std::string* entity = entityValue != nullptr ? entityValue->GetString() : nullptr;
  if (entity == nullptr) return;
  auto text = [&record](const char* key, std::string* out) {
    const PlistVariant* value = record.Find(key);
    if (value != nullptr && value->GetString() != nullptr) *out = *value->GetString();
  };
  auto integer = [&record](const char* key, int32_t* out) {
    const PlistVariant* value = record.Find(key);
    if (value != nullptr && value->GetInt64() != nullptr) *out = Int32Of(*value->GetInt64());
  };
  auto texts = [&record](const char* key, std::vector<std::string>* out) {
    const PlistVariant* value = record.Find(key);
    if (value != nullptr && value->GetArray() != nullptr) *out = TextsOf(*value->GetArray());
  };
  if (*entity == kCalendarEntity) {
    CalendarRecord calendar;
    text("title", &calendar.title);
    integer("read only", &calendar.readOnly);
    const PlistVariant* colour = record.Find("colorComponents");
    if (colour != nullptr && colour->GetArray() != nullptr) {
      const PlistVariant::Array& components = *colour->GetArray();
      for (size_t i = 0; i < std::min<size_t>(components.size(), 4); ++i) {
        if (components[i].GetInt64() != nullptr) calendar.colour[i] = Int32Of(*components[i].GetInt64());
      }
    }
    sync->calendars[id] = std::move(calendar);
  } else if (*entity == kEventEntity) {
    EventRecord event;
    text("start date", &event.startDateSource);
    event.startDate = UtcTextToLocalDateText(event.startDateSource);
    text("end date", &event.endDateSource);
    event.endDate = UtcTextToLocalDateText(event.endDateSource);
    text("url", &event.url);
    integer("all day", &event.allDay);
    text("start date.timezone", &event.timeZone);
    text("summary", &event.summary);
    text("description", &event.description);
    text("location", &event.location);
    texts("calendar", &event.calendars);
    sync->events[id] = std::move(event);
  } else if (*entity == kRecurrenceEntity) {
    RecurrenceRecord recurrence;
    text("frequency", &recurrence.frequency);
    integer("interval", &recurrence.interval);
    text("until", &recurrence.untilSource);
    recurrence.until = UtcTextToLocalDateText(recurrence.untilSource);
    texts("owner", &recurrence.owners);
    sync->recurrences[id] = std::move(recurrence);
  } else if (*entity == kAlarmEntity) {
    AlarmRecord alarm;
    text("description", &alarm.description);
    integer("triggerduration", &alarm.triggerDuration);
    texts("owner", &alarm.owners);
    sync->alarms[id] = std::move(alarm);
  }
}

// Reads one answer: a listing's records, or the device ids of the records sent.
void ReadCalendars(CalendarSyncContext* sync, const SyncMessage& message) {
  for (const PlistVariant& element : message.elements) {
    const CIOSDictionary* dictionary = element.GetDictionary();
    if (dictionary == nullptr) continue;
    for (const auto& [id, value] : dictionary->entries()) {
      if (sync->listing) {
        const CIOSDictionary* record = value.GetDictionary();
        if (message.answer.anotherBatch && record != nullptr) CollectRecord(sync, id, *record);
      } else if (value.GetString() != nullptr) {
        sync->remap[id] = *value.GetString();
      }
    }
  }
}

SyncMessageReader ReaderOf(CalendarSyncContext& sync) {
  return [&sync](const SyncMessage& message) { ReadCalendars(&sync, message); };
}

// Links events to every calendar they name (each once), and each recurrence and alarm to the first
// owner that is an event; a later recurrence of an event replaces an earlier one.
void LinkRecords(CalendarSyncContext* sync) {
  for (const auto& [eventId, event] : sync->events) {
    std::vector<std::string> seen;
    for (const std::string& calendarId : event.calendars) {
      auto calendar = sync->calendars.find(calendarId);
      if (calendar == sync->calendars.end() || std::find(seen.begin(), seen.end(), calendarId) != seen.end()) continue;
      seen.push_back(calendarId);
      calendar->second.events.push_back(eventId);
    }
  }
  auto ownerEvent = [sync](const std::vector<std::string>& owners) -> EventRecord* {
    for (const std::string& owner : owners) {
      auto event = sync->events.find(owner);
      if (event != sync->events.end()) return &event->second;
    }
    return nullptr;
  };
  for (const auto& [id, recurrence] : sync->recurrences) {
    if (EventRecord* event = ownerEvent(recurrence.owners)) event->recurrence = id;
  }
  for (const auto& [id, alarm] : sync->alarms) {
    if (EventRecord* event = ownerEvent(alarm.owners)) event->alarms.push_back(id);
  }
}

void WriteTexts(JsonTextWriter& json, std::initializer_list<std::pair<const char*, const std::string*>> members) {
  for (const auto& [name, value] : members) {
    json.Key(name);
    json.String(*value);
  }
}

void WriteEvent(JsonTextWriter& json, const CalendarSyncContext& sync, const std::string& id,
                const EventRecord& event) {
  const std::string eventEntity = kEventEntity;
  json->StartObject();
  WriteTexts(json, {{"id", &id},
                    {"start_date", &event.startDate},
                    {"start_date_source", &event.startDateSource},
                    {"end_date", &event.endDate},
                    {"end_date_source", &event.endDateSource},
                    {"url", &event.url}});
  json.Key("all_day");
  json->Int(event.allDay);
  WriteTexts(json, {{"start_date_timezone", &event.timeZone},
                    {"com_apple_syncservices_RecordEntityName", &eventEntity},
                    {"summary", &event.summary},
                    {"description", &event.description},
                    {"location", &event.location}});
  if (!event.recurrence.empty()) {
    const RecurrenceRecord& recurrence = sync.recurrences.at(event.recurrence);
    const std::string entity = kRecurrenceEntity;
    json.Key("recurrence");
    json->StartObject();
    WriteTexts(json, {{"id", &event.recurrence},
                      {"frequency", &recurrence.frequency},
                      {"until", &recurrence.until},
                      {"until_source", &recurrence.untilSource}});
    json.Key("interval");
    json->Int(recurrence.interval);
    WriteTexts(json, {{"com_apple_syncservices_RecordEntityName", &entity}});
    json->EndObject();
  }
  if (!event.alarms.empty()) {
    const std::string entity = kAlarmEntity;
    json.Key("display_alarms");
    json->StartArray();
    for (const std::string& alarmId : event.alarms) {
      const AlarmRecord& alarm = sync.alarms.at(alarmId);
      json->StartObject();
      WriteTexts(json, {{"id", &alarmId}, {"description", &alarm.description}});
      json.Key("triggerduration");
      json->Int(alarm.triggerDuration);
      WriteTexts(json, {{"com_apple_syncservices_RecordEntityName", &entity}});
      json->EndObject();
    }
    json->EndArray();
  }
  json->EndObject();
}

// The JSON array of up to `count` calendars from `it` on; leaves `it` after the last one written.
std::string SerializeCalendarBatch(const CalendarSyncContext& sync,
                                   std::map<std::string, CalendarRecord>::const_iterator* it, size_t count) {
  const std::string entity = kCalendarEntity;
  JsonTextWriter json;
  json->StartArray();
  for (size_t written = 0; written < count && *it != sync.calendars.end(); ++written, ++*it) {
    const auto& [id, calendar] = **it;
    json->StartObject();
    WriteTexts(json, {{"id", &id}, {"title", &calendar.title}, {"com_apple_syncservices_RecordEntityName", &entity}});
    json.Key("read_only");
    json->Int(calendar.readOnly);
    json.Key("colorComponents");
    json->StartArray();
    for (int32_t component : calendar.colour) json->Int(component);
    json->EndArray();
    json.Key("events");
    json->StartArray();
    for (const std::string& eventId : calendar.events) WriteEvent(json, sync, eventId, sync.events.at(eventId));
    json->EndArray();
    json->EndObject();
  }
  json->EndArray();
  return json.Text();
}

}  // namespace

int HLXModuleCalendar::Run(FeatureRequest& request) {
  if (request.Command() == kRequestListCalendars) return ListCalendars(request);
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  if (request.Command() == kRequestWriteCalendar) return WriteCalendar(request, data);
  return DeleteCalendarRecord(request, data);
}

int HLXModuleCalendar::ListCalendars(const FeatureRequest& request) {
  AMDeviceRef device = request.Device()->Device();
  HLXSyncSession session(kSyncCalendars);
  CalendarSyncContext context;
  if (session.ListAll(device, ReaderOf(context)) != kReplySuccess) return session.Result();

  LinkRecords(&context);
  const std::string info = CountInfo(SyncListCount(device, kSyncCalendars, context.calendars.size()));
  request.SendProgress(kRequestListCalendars, 0, &info, nullptr);
  auto it = context.calendars.cbegin();
  while (it != context.calendars.cend()) {
    const std::string batch = SerializeCalendarBatch(context, &it, kCalendarReplyBatch);
    request.SendProgress(kRequestListCalendars, 1, &info, &batch);
  }
  return kReplySuccess;
}

int HLXModuleCalendar::WriteCalendar(const FeatureRequest& request, const rapidjson::Value& data) {
  // Every message is parsed before the session opens: a request with a text that does not parse
  // sends nothing and fails, rather than writing a calendar without its events.
  CFPtr<CFPropertyListRef> messages[kWrittenEntityCount];
  for (int i = 0; i < kWrittenEntityCount; ++i) {
    auto member = data.FindMember(kWrittenEntities[i]);
    if (member == data.MemberEnd()) {
      if (i == 0) return kReplyBadData;
      continue;
    }
    if (!member->value.IsString()) return kReplyBadData;
    messages[i] = ParseChangesMessage(StringOf(member->value));
    if (!messages[i] || !ReplaceTextsInMessage(messages[i].get(), {}, ReplaceScope::kWholeText)) return kReplyBadData;
  }

  HLXSyncSession session(kSyncCalendars);
  if (session.Prepare() != kReplySuccess) return session.Result();
  if (session.OpenForWrites(request.Device()->Device(), ClassAnswer::kWaitForComputer) != kReplySuccess) {
    return session.Result();
  }
  std::map<std::string, std::string> remaps[kWrittenEntityCount];
  for (int i = 0; i < kWrittenEntityCount; ++i) {
    if (!messages[i]) continue;
    // The ids the desktop chose for the records referred to go out as the device's ids: literal
    // whole texts (an id is no pattern, and an id that merely contains another stays as it is).
    BinaryPlistPtr message = ReplaceTextsInMessage(
        messages[i].get(), kReferredEntity[i] < 0 ? std::map<std::string, std::string>() : remaps[kReferredEntity[i]],
        ReplaceScope::kWholeText);
    if (!message) return session.Fail(kReplyBadData);  // unfinished: nothing is kept
    CalendarSyncContext context;
    context.listing = false;
    if (session.Collect(*message, ReaderOf(context)) != kReplySuccess) return session.Result();
    remaps[i] = std::move(context.remap);
    // No id for the calendar: the session is left unfinished, so the device drops what it staged.
    if (i == 0 && remaps[0].empty()) return kReplyCalendarWithoutId;
  }
  if (session.Finish(ClassAnswer::kWaitForComputer) != kReplySuccess) return session.Result();

  rapidjson::Document reply(rapidjson::kObjectType);
  for (int i = 0; i < kWrittenEntityCount; ++i) {
    if (i == 0 || !remaps[i].empty()) AddRemapMember(reply, reply.GetAllocator(), remaps[i], kWrittenEntities[i]);
  }
  const std::string text = JsonValueToString(reply);
  request.SendProgress(kRequestWriteCalendar, 0, nullptr, &text);
  return kReplySuccess;
}

int HLXModuleCalendar::DeleteCalendarRecord(const FeatureRequest& request, const rapidjson::Value& data) {
  BinaryPlistPtr deletion = RequestedDeletion(kSyncCalendars, data);
  if (!deletion) return kReplyBadData;
  HLXSyncSession session(kSyncCalendars);
  CalendarSyncContext context;
  context.listing = false;
  return session.WriteOne(request.Device()->Device(), ClassAnswer::kWaitForComputer, *deletion, ReaderOf(context));
}

}  // namespace hlx
