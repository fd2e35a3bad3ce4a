// Synchronisation sessions (see hlx_sync_session.h).
#include "utility/hlx_sync_session.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "iOSAPI/MobileExportFun.h"
#include "os/hlx_os.h"
#include "utility/hlx_device_session.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lockdown.h"
#include "utility/hlx_log.h"

namespace hlx {
namespace {

constexpr char kServiceName[] = "com.apple.mobilesync";
// Messages nest a few levels (message, records, record, array); a deeper one is not rebuilt.
constexpr int kMaxMessageDepth = 64;

CMobileExportFun& Md() { return CMobileExportFun::GetInstance(); }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// The elements of a device message, or null when it is not a non-empty array.
const PlistVariant::Array* MessageElements(const PlistVariant& parsed) {
  const PlistVariant::Array* document = parsed.GetArray();
  if (document == nullptr || document->empty()) return nullptr;
  const PlistVariant::Array* message = (*document)[0].GetArray();
  return message != nullptr && !message->empty() ? message : nullptr;
}

// One left-to-right pass: at each place the longest `from` that starts there is replaced, and the
// text put in is never searched again (so "1" -> "10" and "10" -> "7" do not chain).
std::string ReplaceAll(const std::string& text, const std::map<std::string, std::string>& replacements) {
  std::string result;
  result.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const std::pair<const std::string, std::string>* best = nullptr;
    for (const auto& pair : replacements) {
      if (!pair.first.empty() && text.compare(at, pair.first.size(), pair.first) == 0 &&
          (best == nullptr || pair.first.size() > best->first.size())) {
        best = &pair;
      }
    }
    if (best != nullptr) {
      result += best->second;
      at += best->first.size();
    } else {
      result += text[at++];
    }
  }
  return result;
}

// Rebuilds a CoreFoundation list with the replacement applied to its strings. Every object made is
// kept in `made` until the list is serialised: a container made with null callbacks does not
// retain its values under every CoreFoundation. Values other than strings and containers are the
// original's (borrowed; the original outlives the copy).
CFTypeRef RebuildWithReplacement(CFTypeRef value, const std::map<std::string, std::string>& replacements,
                                 ReplaceScope scope, int depth, std::vector<CFPtr<CFTypeRef>>* made) {
  if (value == nullptr || depth > kMaxMessageDepth) return nullptr;
  CMobileExportFun& md = Md();
  const CFTypeID type = md.CFGetTypeID(value);
  auto keep = [made](CFTypeRef object) {
    if (object != nullptr) made->emplace_back(object);
    return object;
  };
  if (type == kHLXCFStringTypeID) {
    std::string text = CFStringToUtf8(value);
    if (scope == ReplaceScope::kAnywhere) {
      text = ReplaceAll(text, replacements);
    } else if (auto whole = replacements.find(text); whole != replacements.end()) {
      text = whole->second;
    }
    return keep(md.CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
  }
  if (type == kHLXCFArrayTypeID) {
    auto array = static_cast<CFArrayRef>(value);
    CFMutableArrayRef copy = md.CFArrayCreateMutable(nullptr, 0, nullptr);
    if (keep(copy) == nullptr) return nullptr;
    for (CFIndex i = 0; i < md.CFArrayGetCount(array); ++i) {
      CFTypeRef element =
          RebuildWithReplacement(md.CFArrayGetValueAtIndex(array, i), replacements, scope, depth + 1, made);
      if (element == nullptr) return nullptr;
      md.CFArrayAppendValue(copy, element);
    }
    return copy;
  }
  if (type == kHLXCFDictionaryTypeID) {
    auto dictionary = static_cast<CFDictionaryRef>(value);
    const CFIndex count = md.CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    md.CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    CFMutableDictionaryRef copy = md.CFDictionaryCreateMutable(nullptr, count, nullptr, nullptr);
    if (keep(copy) == nullptr) return nullptr;
    for (CFIndex i = 0; i < count; ++i) {
      CFTypeRef key = RebuildWithReplacement(keys[static_cast<size_t>(i)], replacements, scope, depth + 1, made);
      CFTypeRef element = RebuildWithReplacement(values[static_cast<size_t>(i)], replacements, scope, depth + 1, made);
      if (key == nullptr || element == nullptr) return nullptr;
      md.CFDictionaryAddValue(copy, key, element);
    }
    return copy;
  }
  return value;
}

}  // namespace

const SyncDataClass kSyncContacts = {"com.apple.Contacts", "Contacts-Device-Anchor", 106, "Contacts"};
const SyncDataClass kSyncNotes = {"com.apple.Notes", "Notes-Device-Anchor", 102, "Notes"};
const SyncDataClass kSyncCalendars = {"com.apple.Calendars", "Calendars-Device-Anchor", 110, "Calendars",
                                      "Preparing to get changes for device"};
const SyncDataClass kSyncBookmarks = {"com.apple.Bookmarks", "Bookmarks-Device-Anchor", 102, "Bookmarks"};

std::string ComputerAnchorText(std::time_t now) {
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  tzset();
  // `timezone` is the standard offset in seconds west of UTC; daylight saving is not applied.
  const long hoursEast = -timezone / 3600;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02ld00", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, hoursEast < 0 ? '-' : '+',
                hoursEast < 0 ? -hoursEast : hoursEast);
  return text;
}

int64_t SyncListCount(AMDeviceRef device, const SyncDataClass& dataClass, size_t found) {
  if (found == 0 && HasDataSyncAccount(device, dataClass.dataClassWord)) return -1;
  return static_cast<int64_t>(found);
}

CFPtr<CFPropertyListRef> ParseChangesMessage(const std::string& xml) {
  CFPtr<CFPropertyListRef> list = CreatePlistFromXml(xml.data(), xml.size());
  // A NUL (a character reference, or a binary list's string) would be stored cut or as a store
  // that readers refuse.
  if (!list || HoldsNulText(list.get())) return nullptr;
  CMobileExportFun& md = CMobileExportFun::GetInstance();
  if (md.CFGetTypeID(list.get()) != kHLXCFArrayTypeID) return nullptr;
  auto array = static_cast<CFArrayRef>(list.get());
  if (md.CFArrayGetCount(array) < 3 ||
      CFStringToUtf8(md.CFArrayGetValueAtIndex(array, 0)) != "SDMessageProcessChanges" ||
      md.CFGetTypeID(md.CFArrayGetValueAtIndex(array, 2)) != kHLXCFDictionaryTypeID) {
    return nullptr;
  }
  return list;
}

BinaryPlistPtr MakeClassMessage(const char* name, const SyncDataClass& dataClass) {
  return SyncMessageXml(name).String(dataClass.name).Convert();
}

BinaryPlistPtr MakeDeletionMessage(const SyncDataClass& dataClass, std::string_view recordId) {
  return SyncMessageXml("SDMessageProcessChanges")
      .String(dataClass.name)
      .BeginDict()
      .Key(recordId)
      .String(kSyncEmptyParameter)
      .EndDict()
      .Convert();
}

BinaryPlistPtr RequestedDeletion(const SyncDataClass& dataClass, const rapidjson::Value& data) {
  const rapidjson::Value* id = FindStringMember(data, "id");
  return id != nullptr ? MakeDeletionMessage(dataClass, StringOf(*id)) : nullptr;
}

SyncMessageXml BeginRecordChange(const SyncDataClass& dataClass, std::string_view recordId, std::string_view entity) {
  SyncMessageXml xml("SDMessageProcessChanges");
  xml.String(dataClass.name).BeginDict().Key(recordId).BeginDict().Key(kSyncRecordEntityKey).String(entity);
  return xml;
}

BinaryPlistPtr EndRecordChange(SyncMessageXml& xml, bool marker, std::initializer_list<std::string_view> entityNames) {
  xml.EndDict().EndDict();
  if (marker) {
    xml.True();
  } else {
    xml.False();
  }
  xml.BeginDict().Key("SyncDeviceLinkEntityNamesKey").BeginArray();
  for (std::string_view name : entityNames) xml.String(name);
  return xml.EndArray().Key("SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey").True().EndDict().Convert();
}

std::string SyncMessageName(const PlistVariant& message) {
  const PlistVariant::Array* elements = MessageElements(message);
  const std::string* name = elements != nullptr ? (*elements)[0].GetString() : nullptr;
  return name != nullptr ? *name : std::string();
}

bool IsSyncRefusal(const std::string& name) {
  return EqualsIgnoringCase(name, "SDMessageRefuseToSyncDataClassWithComputer") ||
         EqualsIgnoringCase(name, "SDMessageCancelSession");
}

bool IsSyncDisconnect(const std::string& name) { return EqualsIgnoringCase(name, "DLMessageDisconnect"); }

void WaitForMessage(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* wait = static_cast<SyncWaitContext*>(context);
  *result = false;
  *more = false;
  ++wait->received;
  PlistVariant parsed;
  if (!ParsePlistToVariant(bytes, static_cast<size_t>(length), &parsed)) return;
  const PlistVariant::Array* elements = MessageElements(parsed);
  if (elements == nullptr) return;  // not a message: the wait ends without the name
  const std::string name = SyncMessageName(parsed);
  if (IsSyncRefusal(name)) {
    wait->refused = true;
    return;
  }
  if (IsSyncDisconnect(name)) {
    wait->disconnected = true;
    return;
  }
  for (const PlistVariant& element : *elements) {
    const std::string* text = element.GetString();
    if (text != nullptr && EqualsIgnoringCase(*text, wait->awaited)) {
      wait->found = true;
      return;
    }
  }
  *more = true;  // another message: dropped unread, the wait goes on
}

void AcceptOneMessage(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* accept = static_cast<SyncAcceptContext*>(context);
  *more = false;
  *result = false;
  accept->received = true;
  PlistVariant parsed;
  if (!ParsePlistToVariant(bytes, static_cast<size_t>(length), &parsed)) return;
  const std::string name = SyncMessageName(parsed);
  accept->refused = IsSyncRefusal(name);
  accept->disconnected = IsSyncDisconnect(name);
}

void ReadSyncMessage(const uint8_t* bytes, int64_t length, SyncAnswer& answer, const SyncMessageReader& reader) {
  answer.received = true;
  PlistVariant parsed;
  if (!ParsePlistToVariant(bytes, static_cast<size_t>(length), &parsed)) return;
  const PlistVariant::Array* elements = MessageElements(parsed);
  if (elements == nullptr) return;  // not a non-empty array: nothing to act on
  const std::string name = SyncMessageName(parsed);
  if (IsSyncRefusal(name)) {
    answer.refused = true;
    return;
  }
  if (IsSyncDisconnect(name)) {
    answer.disconnected = true;
    return;
  }
  // Only the message's name says that a batch came (a record's text may read the same).
  answer.anotherBatch = name == "SDMessageProcessChanges";
  answer.readyForChanges = name == "SDMessageDeviceReadyToReceiveChanges";
  reader(SyncMessage{parsed, *elements, answer});
}

BinaryPlistPtr ReplaceTextInMessage(CFPropertyListRef message, const std::string& from, const std::string& to) {
  return ReplaceTextsInMessage(message, {{from, to}}, ReplaceScope::kAnywhere);
}

BinaryPlistPtr ReplaceTextsInMessage(CFPropertyListRef message, const std::map<std::string, std::string>& replacements,
                                     ReplaceScope scope) {
  std::vector<CFPtr<CFTypeRef>> made;
  CFTypeRef rebuilt = RebuildWithReplacement(message, replacements, scope, 0, &made);
  if (rebuilt == nullptr) return nullptr;
  return SerializePlist(rebuilt, kCFPropertyListBinaryFormat_v1_0);
}

void AddRemapMember(rapidjson::Value& object, rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator,
                    const std::map<std::string, std::string>& remap, const char* entityName) {
  rapidjson::Value map(rapidjson::kObjectType);
  for (const auto& [oldId, deviceId] : remap) {
    map.AddMember(rapidjson::Value(oldId.c_str(), static_cast<rapidjson::SizeType>(oldId.size()), allocator),
                  rapidjson::Value(deviceId.c_str(), static_cast<rapidjson::SizeType>(deviceId.size()), allocator),
                  allocator);
  }
  object.AddMember(rapidjson::Value(entityName, allocator), map, allocator);
}

HLXSyncSession::HLXSyncSession(const SyncDataClass& dataClass) : m_class(dataClass) {}

HLXSyncSession::~HLXSyncSession() = default;

int HLXSyncSession::Prepare() {
  m_versionExchange = SyncMessageXml("DLMessageVersionExchange").String("DLVersionsOk").Integer(100).Convert();
  m_announce = SyncMessageXml("SDMessageSyncDataClassWithDevice")
                   .String(m_class.name)
                   .String(m_class.deviceAnchorName)
                   .String(ComputerAnchorText(static_cast<std::time_t>(os::Os().currentTime())))
                   .Integer(m_class.version)
                   .String(kSyncEmptyParameter)
                   .Convert();
  m_getAll = MakeClassMessage("SDMessageGetAllRecordsFromDevice", m_class);
  m_getChanges = MakeClassMessage("SDMessageGetChangesFromDevice", m_class);
  m_acknowledge = MakeClassMessage("SDMessageAcknowledgeChangesFromDevice", m_class);
  m_ping =
      SyncMessageXml("DLMessagePing").String(m_class.pingText != nullptr ? m_class.pingText : m_class.name).Convert();
  m_finish = MakeClassMessage("SDMessageFinishSessionOnDevice", m_class);
  if (!m_versionExchange || !m_announce || !m_getAll || !m_getChanges || !m_acknowledge || !m_ping || !m_finish) {
    return Fail(kReplyBadData);
  }
  return kReplySuccess;
}

int HLXSyncSession::Fail(int32_t result) {
  if (m_result == kReplySuccess && result != kReplySuccess) {
    m_result = result;
    HLX_LOG(WARNING) << "sync session " << m_class.name << ": " << result << " (" << ReplyCodeName(result) << ")";
  }
  return m_result;
}

int HLXSyncSession::AfterExchange(bool sent, bool answered, bool refused, bool disconnected) {
  if (!sent || disconnected) return Fail(kReplyNoConnection);
  if (refused) return Fail(kReplySyncRefused);
  if (!answered) return Fail(kReplyNoConnection);
  return kReplySuccess;
}

int HLXSyncSession::Open(AMDeviceRef device, ClassAnswer answer) {
  if (m_result != kReplySuccess) return m_result;
  if (!m_announce) return Fail(kReplyBadData);  // Prepare was not called or failed
  int32_t error = 0;
  m_service = OpenDeviceService(device, &error, kServiceName, nullptr, false);
  if (!m_service) {
    HLX_LOG(WARNING) << kServiceName << " not opened (device code " << error << ")";
    return Fail(kReplyNoSyncService);
  }
  // The greeting (the device's version exchange) is taken whole and not examined.
  SyncAcceptContext greeting;
  ReceiveServiceMessages(m_service->ServiceConnection(), AcceptOneMessage, &greeting);
  if (!greeting.received) return Fail(kReplyNoConnection);
  if (ExchangeWait(*m_versionExchange, "DLMessageDeviceReady") != kReplySuccess) return m_result;
  if (answer == ClassAnswer::kWaitForComputer) {
    return ExchangeWait(*m_announce, "SDMessageSyncDataClassWithComputer");
  }
  return ExchangeAcceptOne(*m_announce);
}

int HLXSyncSession::ExchangeWait(const BinaryPlist& message, const char* awaited) {
  if (m_result != kReplySuccess) return m_result;
  if (!m_service) return Fail(kReplyNoConnection);
  SyncWaitContext wait;
  wait.awaited = awaited;
  const bool sent = SendServiceMessage(m_service->ServiceConnection(), message);
  if (sent) ReceiveServiceMessages(m_service->ServiceConnection(), WaitForMessage, &wait);
  return AfterExchange(sent, wait.found, wait.refused, wait.disconnected);
}

int HLXSyncSession::ExchangeAcceptOne(const BinaryPlist& message) {
  if (m_result != kReplySuccess) return m_result;
  if (!m_service) return Fail(kReplyNoConnection);
  SyncAcceptContext accept;
  const bool sent = SendServiceMessage(m_service->ServiceConnection(), message);
  if (sent) ReceiveServiceMessages(m_service->ServiceConnection(), AcceptOneMessage, &accept);
  return AfterExchange(sent, accept.received, accept.refused, accept.disconnected);
}

int HLXSyncSession::Exchange(const BinaryPlist& message, ServiceMessageHandler handler, void* context) {
  if (m_result != kReplySuccess) return m_result;
  if (!m_service) return Fail(kReplyNoConnection);
  if (!SendServiceMessage(m_service->ServiceConnection(), message)) return Fail(kReplyNoConnection);
  ReceiveServiceMessages(m_service->ServiceConnection(), handler, context);
  return kReplySuccess;
}

int HLXSyncSession::Send(const BinaryPlist& message) {
  if (m_result != kReplySuccess) return m_result;
  if (!m_service) return Fail(kReplyNoConnection);
  if (!SendServiceMessage(m_service->ServiceConnection(), message)) return Fail(kReplyNoConnection);
  return kReplySuccess;
}

namespace {

// The receive loop's handler for a module's reader: one message, read through ReadSyncMessage.
struct ReaderCall {
  SyncAnswer* answer;
  const SyncMessageReader* reader;
};

void TakeOneForReader(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result) {
  auto* call = static_cast<ReaderCall*>(context);
  *more = false;
  *result = false;
  ReadSyncMessage(bytes, length, *call->answer, *call->reader);
}

}  // namespace

int HLXSyncSession::ExchangeForReader(const BinaryPlist& message, const SyncMessageReader& reader) {
  m_answer.Reset();
  ReaderCall call{&m_answer, &reader};
  return Exchange(message, TakeOneForReader, &call);
}

int HLXSyncSession::AcknowledgeWait(const char* awaited) {
  return m_acknowledge ? ExchangeWait(*m_acknowledge, awaited) : Fail(kReplyBadData);
}

int HLXSyncSession::ReadChangesWait() {
  return m_getChanges ? ExchangeWait(*m_getChanges, "SDMessageProcessChanges") : Fail(kReplyBadData);
}

int HLXSyncSession::Ping() { return m_ping ? Send(*m_ping) : Fail(kReplyBadData); }

int HLXSyncSession::Finish(ClassAnswer answer) {
  if (!m_finish) return Fail(kReplyBadData);
  if (answer == ClassAnswer::kWaitForComputer) return ExchangeWait(*m_finish, "SDMessageDeviceFinishedSession");
  return ExchangeAcceptOne(*m_finish);
}

int HLXSyncSession::OpenForChanges(AMDeviceRef device) {
  if (Open(device, ClassAnswer::kWaitForComputer) != kReplySuccess) return m_result;
  if (ReadChangesWait() != kReplySuccess) return m_result;
  if (AcknowledgeWait("SDMessageProcessChanges") != kReplySuccess) return m_result;
  if (AcknowledgeWait("SDMessageDeviceReadyToReceiveChanges") != kReplySuccess) return m_result;
  return Ping();
}

int HLXSyncSession::ListAll(AMDeviceRef device, const SyncMessageReader& reader) {
  if (Prepare() != kReplySuccess || Open(device, ClassAnswer::kAcceptOne) != kReplySuccess ||
      ReadAllBatches(reader) != kReplySuccess) {
    return m_result;
  }
  (void)Finish(ClassAnswer::kAcceptOne);
  return kReplySuccess;
}

int HLXSyncSession::OpenForWrites(AMDeviceRef device, ClassAnswer answer) {
  if (Open(device, answer) != kReplySuccess) return m_result;
  if (ReadChangesWait() != kReplySuccess) return m_result;
  if (AcknowledgeWait("SDMessageDeviceReadyToReceiveChanges") != kReplySuccess) return m_result;
  return Ping();
}

int HLXSyncSession::WriteOne(AMDeviceRef device, ClassAnswer answer, const BinaryPlist& message,
                             const SyncMessageReader& reader) {
  if (Prepare() != kReplySuccess || OpenForWrites(device, answer) != kReplySuccess ||
      Collect(message, reader) != kReplySuccess) {
    return m_result;
  }
  return Finish(ClassAnswer::kWaitForComputer);
}

int HLXSyncSession::ReadAllBatches(const SyncMessageReader& reader) {
  if (!m_getAll || !m_acknowledge) return Fail(kReplyBadData);
  (void)ExchangeForReader(*m_getAll, reader);
  if (CheckAnswer() != kReplySuccess) return m_result;
  while (m_answer.anotherBatch) {
    (void)ExchangeForReader(*m_acknowledge, reader);
    if (CheckAnswer() != kReplySuccess) return m_result;
  }
  return m_result;
}

int HLXSyncSession::Collect(const BinaryPlist& message, const SyncMessageReader& reader) {
  (void)ExchangeForReader(message, reader);
  return CheckAnswer();
}

int HLXSyncSession::CheckAnswer() {
  if (m_result != kReplySuccess) return m_result;
  if (m_answer.refused) return Fail(kReplySyncRefused);
  if (!m_answer.received || m_answer.disconnected) return Fail(kReplyNoConnection);
  return kReplySuccess;
}

}  // namespace hlx
