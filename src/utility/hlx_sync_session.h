// The synchronisation session on "com.apple.mobilesync" that the contacts, notes, calendars and
// bookmarks modules run for every request: greeting, version exchange, choice of the data class,
// reading, writing, finishing, on a freshly opened service. Nothing is kept between sessions.
//
// Messages are composed as XML property-list text (hlx_plist's SyncMessageXml escapes every text, so
// record ids and names never turn into markup) and converted to binary before they are sent; each operation
// builds the messages it will send before the session opens, so that a text that does not convert
// fails the request before anything reaches the device.
//
// A failure is reported as one, never read past:
//   - a device that refuses the class (SDMessageRefuseToSyncDataClassWithComputer) or cancels
//     (SDMessageCancelSession) ends the session with kReplySyncRefused;
//   - a connection that fails or closes before the awaited answer came ends the session with
//     kReplyNoConnection (so do DLMessageDisconnect and a frame that is no message), so that a
//     request never ends with 0 for work that did not happen;
//   - the ComputerAnchor offset of zones west of UTC is written with a minus sign ("-0500"), so
//     that the anchor names the right moment in every zone.
//
// Threads: a session belongs to the request (one worker) that opened it.
#pragma once

#include <rapidjson/fwd.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "mobiledevice.h"
#include "utility/hlx_device_link.h"
#include "utility/hlx_plist.h"
#include "utility/hlx_reply_code.h"

namespace hlx {

class HLXDeviceService;
class PlistVariant;

// Session steps return ReplyCode values (hlx_reply_code.h): kReplySuccess, kReplyBadData (a message
// to send did not convert), kReplyNoSyncService (the service did not open; nothing was sent),
// kReplyNoConnection (the answer did not come) and kReplySyncRefused (the device refused the class
// or cancelled the session).

// One data class: its name, the device anchor name and version that the class announcement
// carries, and the word of the lockdown data-sync domain that tells whether an account holds it.
struct SyncDataClass {
  const char* name;
  const char* deviceAnchorName;
  int32_t version;
  const char* dataClassWord;
  const char* pingText = nullptr;  // the ping's argument in place of the class name, when set
};
extern const SyncDataClass kSyncContacts;
extern const SyncDataClass kSyncNotes;
extern const SyncDataClass kSyncCalendars;
extern const SyncDataClass kSyncBookmarks;

constexpr const char kSyncEmptyParameter[] = "___EmptyParameterString___";
constexpr const char kSyncRecordEntityKey[] = "com.apple.syncservices.RecordEntityName";

// The computer anchor: local time "%04u-%02u-%02u %02u:%02u:%02u" and the whole hours of the zone's
// standard offset east of UTC ("+0800"; "+0500" in a zone 5 h 30 min east; "-0500" in one 5 h
// west). Daylight saving is not applied to the offset.
std::string ComputerAnchorText(std::time_t now);

// The message of a name and the class alone: ["SDMessageGetAllRecordsFromDevice", class].
BinaryPlistPtr MakeClassMessage(const char* name, const SyncDataClass& dataClass);
// The deletion: ["SDMessageProcessChanges", class, {id: "___EmptyParameterString___"}]. The id is a
// key of a dictionary, escaped like any text: an id holding markup deletes nothing else.
BinaryPlistPtr MakeDeletionMessage(const SyncDataClass& dataClass, std::string_view recordId);
// The deletion of the record a delete request names by its "id" text; null when the request's
// `data` has no such text (or the id does not convert).
BinaryPlistPtr RequestedDeletion(const SyncDataClass& dataClass, const rapidjson::Value& data);

// A change of one record, composed in two calls around the record's own fields:
//   ["SDMessageProcessChanges", class, {recordId: {kSyncRecordEntityKey: entity, <fields>}}, marker,
//    {"SyncDeviceLinkEntityNamesKey": [entityNames...], "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey": true}]
// BeginRecordChange gives the message open at the record's dictionary, for the caller to add its
// fields; EndRecordChange closes it and converts it (null when a text does not convert). `marker`
// is the boolean element each class expects between the records and the options.
SyncMessageXml BeginRecordChange(const SyncDataClass& dataClass, std::string_view recordId, std::string_view entity);
BinaryPlistPtr EndRecordChange(SyncMessageXml& xml, bool marker, std::initializer_list<std::string_view> entityNames);

// The name of a device message (the first element of its array) and whether it refuses the
// class or cancels the session. `message` is what ParsePlistToVariant gives (an array holding the
// top-level value).
std::string SyncMessageName(const PlistVariant& message);
bool IsSyncRefusal(const std::string& name);
bool IsSyncDisconnect(const std::string& name);

// The generic answer handlers (ServiceMessageHandler contract of hlx_device_link.h).
//   WaitForMessage: reads messages until one holds the awaited name, at any position and without
//   regard to case, or refuses/cancels, or is not a non-empty array. `found` tells whether the name
//   came.
struct SyncWaitContext {
  std::string awaited;
  bool found = false;
  bool refused = false;
  bool disconnected = false;
  int received = 0;
};
void WaitForMessage(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result);
//   AcceptOneMessage: takes exactly one message; looks only at whether it refuses or cancels.
struct SyncAcceptContext {
  bool received = false;
  bool refused = false;
  bool disconnected = false;
};
void AcceptOneMessage(void* context, const uint8_t* bytes, int64_t length, bool* more, bool* result);

// What the device's answer to one exchange said of the session. The session keeps it for the exchange
// under way (Answer) and hands it to a module's reader with each message that carries records.
struct SyncAnswer {
  bool received = false;         // a message came
  bool refused = false;          // it refused the class or cancelled the session
  bool disconnected = false;     // the device said goodbye
  bool anotherBatch = false;     // a batch of records (SDMessageProcessChanges)
  bool readyForChanges = false;  // SDMessageDeviceReadyToReceiveChanges
  void Reset() { received = refused = disconnected = anotherBatch = readyForChanges = false; }
};

// One answer of the device that carries something to read, as the module that reads it gets it; every
// part lives only during the reader's call.
struct SyncMessage {
  const PlistVariant& parsed;           // the whole message, as ParsePlistToVariant gives it
  const PlistVariant::Array& elements;  // its elements: the name first, then what it carries
  const SyncAnswer& answer;             // what it says of the session
};
// A module's reader of the records, id maps or ids in the device's answers (contacts, notes, calendars,
// bookmarks). It must not throw.
using SyncMessageReader = std::function<void(const SyncMessage& message)>;

// Parses one device message and notes in `answer` what it says of the session; hands it to `reader`
// when it carries something to read (a non-empty array that neither refuses nor disconnects).
void ReadSyncMessage(const uint8_t* bytes, int64_t length, SyncAnswer& answer, const SyncMessageReader& reader);

// The count a listing reports of `found` records: -1 when it found none and an account on the device
// synchronises the class, else `found`.
int64_t SyncListCount(AMDeviceRef device, const SyncDataClass& dataClass, size_t found);

// A changes message that the desktop composed, parsed: an array whose name is
// "SDMessageProcessChanges" and whose third element is the dictionary of records, with no NUL in
// any text. Null otherwise.
CFPtr<CFPropertyListRef> ParseChangesMessage(const std::string& xml);

// Literal replacement of `from` by `to` in every string of a message (dictionary keys and string
// values at any depth; other values are kept as they are) and its binary serialisation; null when
// the list cannot be rebuilt. A record id is no pattern: "." matches a dot only.
BinaryPlistPtr ReplaceTextInMessage(CFPropertyListRef message, const std::string& from, const std::string& to);
// The same for several pairs at once. kAnywhere: in one pass, at each place the longest old text
// that starts there is replaced, and what was put in is not searched again. kWholeText: only a
// string that equals an old text is replaced (a reference to a record is a whole string, and a
// record id that merely contains another id stays as it is).
enum class ReplaceScope { kAnywhere, kWholeText };
BinaryPlistPtr ReplaceTextsInMessage(CFPropertyListRef message, const std::map<std::string, std::string>& replacements,
                                     ReplaceScope scope);

// Adds to `object` a member named `entityName` whose value is an object mapping every old id of
// `remap` (in byte order) to its device id.
void AddRemapMember(rapidjson::Value& object, rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator,
                    const std::map<std::string, std::string>& remap, const char* entityName);

// One session. The first failure sticks: later steps do nothing and return it.
class HLXSyncSession {
 public:
  enum class ClassAnswer { kWaitForComputer, kAcceptOne };

  explicit HLXSyncSession(const SyncDataClass& dataClass);
  ~HLXSyncSession();
  HLXSyncSession(const HLXSyncSession&) = delete;
  HLXSyncSession& operator=(const HLXSyncSession&) = delete;

  // Builds the session's own messages (version exchange, class announcement with the anchor of
  // now, the readers, ping, finish). kReplySuccess or kReplyBadData; call before Open.
  [[nodiscard]] int Prepare();

  // Opens the service, reads the greeting, exchanges versions, announces the class and takes the
  // answer. kReplySuccess, kReplyNoSyncService (nothing sent), kReplyNoConnection or kReplySyncRefused.
  [[nodiscard]] int Open(AMDeviceRef device, ClassAnswer answer);

  // Sends a message and waits for the awaited name (WaitForMessage).
  [[nodiscard]] int ExchangeWait(const BinaryPlist& message, const char* awaited);
  // Sends a message and takes one answer (AcceptOneMessage).
  [[nodiscard]] int ExchangeAcceptOne(const BinaryPlist& message);
  // Sends a message and hands the answers to the caller's handler. The handler decides what it
  // needs; the caller then reports through Fail when the answer was not what it needed.
  [[nodiscard]] int Exchange(const BinaryPlist& message, ServiceMessageHandler handler, void* context);
  // Sends a message that gets no answer.
  [[nodiscard]] int Send(const BinaryPlist& message);

  // The prepared messages of the readers and writers (kReplyBadData when Prepare did not run).
  [[nodiscard]] int AcknowledgeWait(const char* awaited);
  [[nodiscard]] int ReadChangesWait();
  [[nodiscard]] int Ping();
  // Finishing: the answer awaited by name, or one answer taken as it comes.
  [[nodiscard]] int Finish(ClassAnswer answer);

  // Opens the session for deletes and writes (after Prepare): the class awaited by name, the change
  // query with its two acknowledgements, the ping.
  [[nodiscard]] int OpenForChanges(AMDeviceRef device);
  // Reads every record of the class: get-all, then an acknowledgement for as long as the device's
  // answer is another batch (SDMessageProcessChanges); the reader reads each batch. A listing cut
  // off midway fails the session, so it never passes for a complete one.
  [[nodiscard]] int ReadAllBatches(const SyncMessageReader& reader);
  // A whole listing: Prepare, Open (one answer taken), ReadAllBatches, Finish (one answer taken; a
  // finish that goes wrong loses nothing of records that are all in).
  [[nodiscard]] int ListAll(AMDeviceRef device, const SyncMessageReader& reader);
  // Opens the session for the writes of a class whose change query is one batch (notes, bookmarks,
  // calendars): the class answer as given, the change query, one acknowledgement awaiting
  // SDMessageDeviceReadyToReceiveChanges, the ping.
  [[nodiscard]] int OpenForWrites(AMDeviceRef device, ClassAnswer answer);
  // A session that writes one message (a deletion, or changes the desktop sent whole): Prepare,
  // OpenForWrites with `answer`, Collect of the message, then Finish awaiting the device's end by
  // name. kReplySuccess or the sticky failure.
  [[nodiscard]] int WriteOne(AMDeviceRef device, ClassAnswer answer, const BinaryPlist& message,
                             const SyncMessageReader& reader);
  // Sends a message and hands its answer to a module's reader; then CheckAnswer.
  [[nodiscard]] int Collect(const BinaryPlist& message, const SyncMessageReader& reader);
  // The session result of the last answer: a refusal, or no answer (or a goodbye), fails it.
  [[nodiscard]] int CheckAnswer();
  // What the last answer said of the session.
  const SyncAnswer& Answer() const { return m_answer; }

  // Records a failure that a caller's handler saw (first one sticks); returns the sticky result.
  int Fail(int32_t result);
  int Result() const { return m_result; }
  const SyncDataClass& DataClass() const { return m_class; }

 private:
  int AfterExchange(bool sent, bool answered, bool refused, bool disconnected);
  // Sends a message and hands its one answer to the reader, noting in m_answer what it said.
  int ExchangeForReader(const BinaryPlist& message, const SyncMessageReader& reader);

  const SyncDataClass& m_class;
  std::shared_ptr<HLXDeviceService> m_service;
  int32_t m_result = kReplySuccess;
  SyncAnswer m_answer;
  BinaryPlistPtr m_versionExchange;
  BinaryPlistPtr m_announce;
  BinaryPlistPtr m_getAll;
  BinaryPlistPtr m_getChanges;
  BinaryPlistPtr m_acknowledge;
  BinaryPlistPtr m_ping;
  BinaryPlistPtr m_finish;
};

}  // namespace hlx
