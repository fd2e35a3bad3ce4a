// Requests 1200 and 1201 (see hlx_module_note.h).
#include "utility/module/note/hlx_module_note.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/hlx_os.h"
#include "utility/hlx_device.h"
#include "utility/hlx_json.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_sync_session.h"
#include "utility/hlx_time.h"

namespace hlx {
namespace {

using ClassAnswer = HLXSyncSession::ClassAnswer;

constexpr char kNoteEntity[] = "com.apple.notes.Note";
constexpr size_t kNoteReplyBatch = 20;

struct NoteRecord {
  std::string id;
  std::string guid;  // the desktop's id of a note this service added; "" for listed notes
  std::string subject;
  std::string author;
  std::string content;
  std::string dateCreated;  // local time
  std::string dateCreatedSource;
  std::string dateModified;
  std::string dateModifiedSource;
  std::string contentType;
  std::string entityName;
};

// What a notes request reads: the notes of a listing (a note sent twice is one note, the later one), or
// the device id of the added note.
struct NoteSyncContext {
  bool listing = true;
  std::vector<NoteRecord> notes;
  std::unordered_map<std::string, size_t> index;
  std::string sentId;
  std::string deviceId;
};

void CollectNote(NoteSyncContext* sync, const std::string& id, const CIOSDictionary& record) {
  if (record.Find(kSyncRecordEntityKey) == nullptr) return;
  NoteRecord note;
  note.id = id;
  for (const auto& [key, value] : record.entries()) {
    const std::string* text = value.GetString();
    if (text == nullptr) continue;
    if (key == "subject")
      note.subject = *text;
    else if (key == "author")
      note.author = *text;
    else if (key == "content")
      note.content = *text;
    else if (key == "contentType")
      note.contentType = *text;
    else if (key == kSyncRecordEntityKey)
      note.entityName = *text;
    else if (key == "dateCreated")
      note.dateCreatedSource = *text, note.dateCreated = UtcTextToLocalDateText(*text);
    else if (key == "dateModified")
      note.dateModifiedSource = *text, note.dateModified = UtcTextToLocalDateText(*text);
  }
  auto [it, added] = sync->index.emplace(id, sync->notes.size());
  if (added) {
    sync->notes.push_back(std::move(note));
  } else {
    sync->notes[it->second] = std::move(note);
  }
}

// Reads one answer: a listing's batch of notes, or the device id of the note sent.
void ReadNotes(NoteSyncContext* sync, const SyncMessage& message) {
  for (const PlistVariant& element : message.elements) {
    const CIOSDictionary* dictionary = element.GetDictionary();
    if (dictionary == nullptr) continue;
    if (!sync->listing) {
      const PlistVariant* value = dictionary->Find(sync->sentId);
      if (value != nullptr && value->GetString() != nullptr) sync->deviceId = *value->GetString();
      continue;
    }
    if (!message.answer.anotherBatch) return;
    // The records are the first dictionary of a batch; the options dictionary follows it.
    for (const auto& [id, value] : dictionary->entries()) {
      if (const CIOSDictionary* record = value.GetDictionary()) CollectNote(sync, id, *record);
    }
    return;
  }
}

SyncMessageReader ReaderOf(NoteSyncContext& sync) {
  return [&sync](const SyncMessage& message) { ReadNotes(&sync, message); };
}

// The JSON array of notes[first, first + count).
std::string SerializeNotes(const std::vector<NoteRecord>& notes, size_t first, size_t count) {
  JsonTextWriter json;
  json->StartArray();
  for (size_t i = first; i < std::min(notes.size(), first + count); ++i) {
    const NoteRecord& note = notes[i];
    json->StartObject();
    const std::pair<const char*, const std::string*> members[] = {
        {"id", &note.id},
        {"guid", &note.guid},
        {"subject", &note.subject},
        {"author", &note.author},
        {"content", &note.content},
        {"dateCreated", &note.dateCreated},
        {"dateCreatedSource", &note.dateCreatedSource},
        {"dateModified", &note.dateModified},
        {"dateModifiedSource", &note.dateModifiedSource},
        {"contentType", &note.contentType},
        {"com_apple_syncservices_RecordEntityName", &note.entityName}};
    for (const auto& [name, value] : members) {
      json.Key(name);
      json.String(*value);
    }
    json->EndObject();
  }
  json->EndArray();
  return json.Text();
}

// Now in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string UtcNowText() {
  const auto now = static_cast<std::time_t>(os::Os().currentTime());
  struct tm utc {};
  char text[32] = "";
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

int HLXModuleNote::Run(FeatureRequest& request) {
  if (request.Command() == kRequestListNotes) return ListNotes(request);
  rapidjson::Document data;
  if (request.ReadData(&data) != kReplySuccess) return kReplyBadData;
  return AddNote(request, data);
}

int HLXModuleNote::ListNotes(const FeatureRequest& request) {
  AMDeviceRef device = request.Device()->Device();
  HLXSyncSession session(kSyncNotes);
  NoteSyncContext context;
  if (session.ListAll(device, ReaderOf(context)) != kReplySuccess) return session.Result();

  const std::string info = CountInfo(SyncListCount(device, kSyncNotes, context.notes.size()));
  request.SendProgress(kRequestListNotes, 0, &info, nullptr);
  for (size_t first = 0; first < context.notes.size(); first += kNoteReplyBatch) {
    const std::string batch = SerializeNotes(context.notes, first, kNoteReplyBatch);
    request.SendProgress(kRequestListNotes, 1, &info, &batch);
  }
  return kReplySuccess;
}

int HLXModuleNote::AddNote(const FeatureRequest& request, const rapidjson::Value& data) {
  const rapidjson::Value* id = FindStringMember(data, "id");
  if (id == nullptr || StringOf(*id).empty()) return kReplyBadData;
  const rapidjson::Value* title = FindStringMember(data, "title");
  const rapidjson::Value* content = FindStringMember(data, "content");
  if ((title == nullptr && data.HasMember("title")) || (content == nullptr && data.HasMember("content"))) {
    return kReplyBadData;
  }
  NoteRecord note;
  note.guid = StringOf(*id);
  note.subject = title != nullptr ? StringOf(*title) : std::string();
  note.content = content != nullptr ? StringOf(*content) : std::string();
  note.entityName = kNoteEntity;
  note.contentType = "text/plain";
  note.dateCreatedSource = note.dateModifiedSource = UtcNowText();
  note.dateCreated = note.dateModified = UtcTextToLocalDateText(note.dateCreatedSource);

  // Built element by element, every text escaped: an id, title or content holding markup stays text.
  SyncMessageXml xml = BeginRecordChange(kSyncNotes, note.guid, kNoteEntity);
  xml.Key("contentType")
      .String(note.contentType)
      .Key("dateCreated")
      .Date(note.dateCreatedSource)
      .Key("dateModified")
      .Date(note.dateModifiedSource);
  if (title != nullptr) xml.Key("subject").String(note.subject);
  if (content != nullptr) xml.Key("content").String(note.content);
  BinaryPlistPtr message = EndRecordChange(xml, false, {kNoteEntity});
  if (!message) return kReplyBadData;

  HLXSyncSession session(kSyncNotes);
  if (session.Prepare() != kReplySuccess) return session.Result();
  if (session.OpenForWrites(request.Device()->Device(), ClassAnswer::kAcceptOne) != kReplySuccess) {
    return session.Result();
  }
  NoteSyncContext context;
  context.listing = false;
  context.sentId = note.guid;
  if (session.Collect(*message, ReaderOf(context)) != kReplySuccess) return session.Result();
  if (session.Finish(ClassAnswer::kAcceptOne) != kReplySuccess) return session.Result();
  if (context.deviceId.empty()) return kReplyNoteWithoutId;
  note.id = context.deviceId;
  const std::string reply = SerializeNotes({note}, 0, 1);
  request.SendProgress(kRequestAddNote, 0, nullptr, &reply);
  return kReplySuccess;
}

}  // namespace hlx
