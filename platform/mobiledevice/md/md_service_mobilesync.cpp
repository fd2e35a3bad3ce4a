// "com.apple.mobilesync": the device side of the synchronisation service. Device-link framing (a
// 4-byte big-endian length, then a binary property list); every message is an array whose first
// element is its name. The computer's orders are fixed and it has no time-out of its own, so the
// device answers every message the computer waits on, if need be with SDMessageCancelSession:
//
//   on connect                          -> ["DLMessageVersionExchange", 100, 100]
//   DLMessageVersionExchange            -> ["DLMessageDeviceReady"]
//   SDMessageSyncDataClassWithDevice    -> ["SDMessageSyncDataClassWithComputer", class, anchor], or
//                                          ["SDMessageRefuseToSyncDataClassWithComputer", class, why]
//                                          (any announced version and anchor is accepted)
//   SDMessageGetAllRecordsFromDevice    -> the first batch ["SDMessageProcessChanges", class,
//                                          {id: record}, more, options]
//   SDMessageGetChangesFromDevice       -> the first of the class's "no changes" batches
//   SDMessageAcknowledgeChangesFromDevice -> the next batch, or ["SDMessageDeviceReadyToReceiveChanges"]
//   DLMessagePing                       -> nothing
//   SDMessageProcessChanges             -> staged; ["SDMessageRemapRecordIdentifiers", class,
//                                          {sent id: device id}]
//   SDMessageFinishSessionOnDevice      -> staged changes committed; ["SDMessageDeviceFinishedSession", class]
//   DLMessageDisconnect, end of stream  -> the connection ends; staged changes are dropped
//
// Lenient where the computer is: a ProcessChanges while a batch is unacknowledged is fine, and so is
// Finish in any state after the class was chosen. The data classes and their records are
// md_service_mobilesync_store's; the per-image switches (sync.json) can refuse a class, cancel at a
// message, drop an answer or remap nothing. Each connection keeps a transcript of every message in
// both directions, decoded, as JSON lines in <image>/transcripts/ for tests.
//
// Threads: the connection's device thread.
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "md/md_base.h"
#include "md/md_service.h"
#include "md/md_service_message.h"
#include "md/md_service_mobilesync_store.h"

namespace {

// Computer messages are single records or small change sets; the device-link peers cap frames at
// 10 MiB, and so does the device.
constexpr size_t kMaxComputerMessageBytes = 10u << 20;
constexpr int kMaxTranscriptDepth = 64;
constexpr int64_t kAppleEpochUnixSeconds = 978307200;

constexpr char kVersionExchange[] = "DLMessageVersionExchange";
constexpr char kDeviceReady[] = "DLMessageDeviceReady";
constexpr char kDisconnect[] = "DLMessageDisconnect";
constexpr char kPing[] = "DLMessagePing";
constexpr char kSyncWithDevice[] = "SDMessageSyncDataClassWithDevice";
constexpr char kSyncWithComputer[] = "SDMessageSyncDataClassWithComputer";
constexpr char kRefuseClass[] = "SDMessageRefuseToSyncDataClassWithComputer";
constexpr char kGetAll[] = "SDMessageGetAllRecordsFromDevice";
constexpr char kGetChanges[] = "SDMessageGetChangesFromDevice";
constexpr char kAcknowledge[] = "SDMessageAcknowledgeChangesFromDevice";
constexpr char kProcessChanges[] = "SDMessageProcessChanges";
constexpr char kReadyToReceive[] = "SDMessageDeviceReadyToReceiveChanges";
constexpr char kRemap[] = "SDMessageRemapRecordIdentifiers";
constexpr char kFinish[] = "SDMessageFinishSessionOnDevice";
constexpr char kFinished[] = "SDMessageDeviceFinishedSession";
constexpr char kCancel[] = "SDMessageCancelSession";

// Builds a message array element by element; each element is owned by the array's builder until the
// message is serialised (the array itself may not retain under every CoreFoundation).
class MessageBuilder {
 public:
  explicit MessageBuilder(const char* name) : m_array(CFArrayCreateMutable(nullptr, 0, nullptr)) { Text(name); }
  MessageBuilder& Text(const std::string& text) { return Add(MDCFStringCreate(text)); }
  MessageBuilder& Integer(int64_t value) { return Add(MDCFPtr(HLXCFNumberCreateInt64(value))); }
  MessageBuilder& Flag(bool value) { return Add(MDCFPtr(CFRetain(HLXCFBooleanGet(value)))); }
  MessageBuilder& Add(MDCFPtr value) {
    if (!value || !m_array) {
      m_failed = true;
      return *this;
    }
    CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void*>(m_array.get())), value.get());
    m_parts.push_back(std::move(value));
    return *this;
  }
  CFTypeRef Get() const { return m_failed ? nullptr : m_array.get(); }

 private:
  MDCFPtr m_array;
  std::vector<MDCFPtr> m_parts;
  bool m_failed = false;
};

MDCFPtr NewDictionary() { return MDCFPtr(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr)); }

void SetValue(const MDCFPtr& dictionary, const std::string& key, CFTypeRef value) {
  MDCFPtr keyString = MDCFStringCreate(key);
  if (keyString && value != nullptr) {
    HLXCFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(dictionary.get())), keyString.get(),
                            value);
  }
}

// ---- Transcript -------------------------------------------------------------------------------

void WriteJsonValue(rapidjson::Writer<rapidjson::StringBuffer>& writer, CFTypeRef value, int depth) {
  if (value == nullptr || depth > kMaxTranscriptDepth) {
    writer.Null();
    return;
  }
  const CFTypeID type = CFGetTypeID(value);
  std::string text;
  if (type == kHLXCFStringTypeID && MDCFStringToUtf8(value, &text)) {
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
  } else if (type == kHLXCFBooleanTypeID) {
    writer.Bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0);
  } else if (type == kHLXCFNumberTypeID) {
    auto number = static_cast<CFNumberRef>(value);
    if (HLXCFNumberIsFloatType(number)) {
      double real = 0;
      CFNumberGetValue(number, kCFNumberFloat64Type, &real);
      if (std::isfinite(real)) {
        writer.Double(real);
      } else {
        writer.Null();
      }
    } else {
      int64_t integer = 0;
      CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
      writer.Int64(integer);
    }
  } else if (type == kHLXCFDateTypeID) {
    // {"$date": "YYYY-MM-DDThh:mm:ssZ"}, the moment in UTC.
    const double seconds = std::floor(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value)));
    const time_t unix = static_cast<time_t>(seconds) + kAppleEpochUnixSeconds;
    struct tm utc {};
    char buffer[40] = "";
    if (gmtime_r(&unix, &utc) != nullptr) std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    writer.StartObject();
    writer.Key("$date");
    writer.String(buffer);
    writer.EndObject();
  } else if (type == kHLXCFDataTypeID) {
    // Data is logged by size only: transcripts tell what was said, the image holds the bytes.
    writer.StartObject();
    writer.Key("$data");
    writer.Int64(CFDataGetLength(static_cast<CFDataRef>(value)));
    writer.EndObject();
  } else if (type == kHLXCFArrayTypeID) {
    auto array = static_cast<CFArrayRef>(value);
    writer.StartArray();
    for (CFIndex i = 0; i < CFArrayGetCount(array); ++i)
      WriteJsonValue(writer, CFArrayGetValueAtIndex(array, i), depth + 1);
    writer.EndArray();
  } else if (type == kHLXCFDictionaryTypeID) {
    writer.StartObject();
    for (const auto& [key, item] : MDCFSortedEntries(static_cast<CFDictionaryRef>(value))) {
      writer.Key(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
      WriteJsonValue(writer, item, depth + 1);
    }
    writer.EndObject();
  } else {
    writer.Null();
  }
}

// One JSON line per message: {"from": "computer"|"device", "message": [...]}; a computer frame that
// is not a message is logged as {"from": "computer", "malformed": byte count}.
class Transcript {
 public:
  Transcript(const std::string& imageFolder, bool enabled) {
    if (!enabled) return;
    static std::atomic<uint64_t> sequence{0};
    const std::string folder = imageFolder + "/transcripts";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return;
    char name[96];
    std::snprintf(name, sizeof name, "/mobilesync-%d-%06llu.jsonl", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(++sequence));
    m_file = std::fopen((folder + name).c_str(), "ae");
  }
  ~Transcript() {
    if (m_file != nullptr) std::fclose(m_file);
  }
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  void Message(const char* from, CFTypeRef message) {
    if (m_file == nullptr) return;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("from");
    writer.String(from);
    writer.Key("message");
    WriteJsonValue(writer, message, 0);
    writer.EndObject();
    Line(buffer);
  }
  void Malformed(size_t byteCount) {
    if (m_file == nullptr) return;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("from");
    writer.String("computer");
    writer.Key("malformed");
    writer.Uint64(byteCount);
    writer.EndObject();
    Line(buffer);
  }

 private:
  // Each line is flushed at once: a test reads the transcript while the connection may still run.
  void Line(const rapidjson::StringBuffer& buffer) {
    std::fwrite(buffer.GetString(), 1, buffer.GetSize(), m_file);
    std::fputc('\n', m_file);
    std::fflush(m_file);
  }

  std::FILE* m_file = nullptr;
};

// ---- The connection -----------------------------------------------------------------------------

class MobileSyncConnection {
  // A listing batch built and serialised ahead of the computer's acknowledgement.
  struct PreparedBatch {
    size_t first = 0;
    size_t end = 0;
    std::unique_ptr<MessageBuilder> message;
    std::string bytes;
  };

 public:
  MobileSyncConnection(MDServiceContext& context, MDSyncSettings settings)
      : m_context(context),
        m_settings(std::move(settings)),
        m_transcript(context.imageFolder, m_settings.transcripts) {}

  void Run() {
    if (!Send(MessageBuilder(kVersionExchange).Integer(100).Integer(100).Get())) return;
    std::string body;
    while (MDReadFrame(m_context.stream, MDFrameOrder::kBigEndian, kMaxComputerMessageBytes, &body)) {
      MDCFPtr message = MDParseMessage(body);
      std::string name;
      if (!message || CFGetTypeID(message.get()) != kHLXCFArrayTypeID ||
          CFArrayGetCount(static_cast<CFArrayRef>(message.get())) < 1 ||
          !MDCFStringToUtf8(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(message.get()), 0), &name)) {
        // Not a device-link message: a broken computer. Hanging up is all a device can do.
        m_transcript.Malformed(body.size());
        MDLog("mobilesync %s: malformed message of %zu bytes", m_context.udid.c_str(), body.size());
        return;
      }
      m_transcript.Message("computer", message.get());
      if (!Handle(name, static_cast<CFArrayRef>(message.get()))) return;
    }
  }

 private:
  std::string Argument(CFArrayRef message, CFIndex index) const {
    std::string text;
    if (index >= CFArrayGetCount(message) || !MDCFStringToUtf8(CFArrayGetValueAtIndex(message, index), &text)) {
      return std::string();
    }
    return text;
  }

  bool Send(CFTypeRef message) {
    std::string bytes;
    return Serialise(message, &bytes) && SendSerialised(message, bytes);
  }

  bool Serialise(CFTypeRef message, std::string* bytes) {
    if (message == nullptr || !MDSerializeSortedBinary(message, bytes)) {
      MDLog("mobilesync %s: a message did not serialise", m_context.udid.c_str());
      return false;
    }
    return true;
  }

  bool SendSerialised(CFTypeRef message, const std::string& bytes) {
    m_transcript.Message("device", message);
    return MDWriteFrame(m_context.stream, MDFrameOrder::kBigEndian, bytes);
  }

  bool Cancel(const char* why) {
    return Send(MessageBuilder(kCancel).Text(m_class != nullptr ? m_class->className : "").Text(why).Get());
  }

  bool Handle(const std::string& name, CFArrayRef message) {
    // The image's switches act before the message does: a dropped or cancelled message changes
    // nothing on the device.
    if (!m_dropped && !m_settings.dropAnswerTo.empty() && name == m_settings.dropAnswerTo) {
      m_dropped = true;
      if (m_settings.dropSilently) return true;
      m_context.stream->HangUp();
      return false;
    }
    if (!m_settings.cancelOn.empty() && name == m_settings.cancelOn) {
      const std::string className = m_class != nullptr ? m_class->className : "";
      EndSession();
      return Send(MessageBuilder(kCancel).Text(className).Text("cancelled by the device").Get());
    }
    if (name == kVersionExchange) return Send(MessageBuilder(kDeviceReady).Get());
    if (name == kDisconnect) return false;
    if (name == kPing) return true;
    if (name == kSyncWithDevice) return ChooseClass(Argument(message, 1));
    if (name == kFinish) return Finish();
    if (m_class == nullptr) return Cancel("no data class was chosen");
    if (name == kGetAll) return StartListing();
    if (name == kGetChanges) return StartChanges();
    if (name == kAcknowledge) return Acknowledge();
    if (name == kProcessChanges) return ProcessChanges(message);
    return Cancel("unexpected message");
  }

  // The session is over (finished or cancelled): staged changes are gone, a class must be chosen anew.
  void EndSession() {
    m_class = nullptr;
    m_staging.reset();
    m_listingOpen = false;
    m_listing.clear();
    m_prepared.reset();
    m_batches.clear();
  }

  bool ChooseClass(const std::string& className) {
    EndSession();
    const MDSyncClassRules* rules = MDFindSyncClass(className);
    MDSyncSnapshot snapshot;
    const char* refusal = nullptr;
    if (rules == nullptr) {
      refusal = "the device does not synchronise this class";
    } else if (m_settings.refuseClasses.count(className) != 0) {
      refusal = "refused by the device";
    } else if (MDLoadSyncSnapshot(m_context.imageFolder, *rules, &snapshot) != 0) {
      MDLog("mobilesync %s: the store of %s is unreadable", m_context.udid.c_str(), className.c_str());
      refusal = "the device's store is unreadable";
    }
    if (refusal != nullptr) return Send(MessageBuilder(kRefuseClass).Text(className).Text(refusal).Get());
    m_class = rules;
    m_snapshot = snapshot;
    m_staging = std::make_unique<MDSyncStaging>(m_context.imageFolder, *rules, std::move(snapshot));
    m_batches.clear();
    m_listing.clear();
    m_listNext = 0;
    const std::string anchor = className + "-Device-Anchor-" + std::to_string(m_snapshot.nextRecordId);
    return Send(MessageBuilder(kSyncWithComputer).Text(className).Text(anchor).Get());
  }

  MDCFPtr BatchOptions(bool allSent) const {
    MDCFPtr options = NewDictionary();
    MDCFPtr entities(CFArrayCreateMutable(nullptr, 0, nullptr));
    if (!options || !entities) return nullptr;
    std::vector<MDCFPtr> names;
    for (const MDSyncEntityRule& rule : m_class->entities) {
      names.push_back(MDCFStringCreate(rule.name));
      if (names.back())
        CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void*>(entities.get())), names.back().get());
    }
    SetValue(options, "SyncDeviceLinkEntityNamesKey", entities.get());
    SetValue(options, "SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", HLXCFBooleanGet(allSent));
    return options;
  }

  // The listing batch that starts at `first`, built and serialised. False when it does not serialise.
  bool PrepareListingBatch(size_t first, PreparedBatch* batch) {
    MDCFPtr records = NewDictionary();
    if (!records) return false;
    const size_t end = std::min(m_listing.size(), first + m_settings.batchRecords);
    for (size_t i = first; i < end; ++i) SetValue(records, m_listing[i].first, m_listing[i].second);
    batch->first = first;
    batch->end = end;
    batch->message = std::make_unique<MessageBuilder>(kProcessChanges);
    batch->message->Text(m_class->className)
        .Add(std::move(records))
        .Flag(end < m_listing.size())
        .Add(BatchOptions(true));
    return Serialise(batch->message->Get(), &batch->bytes);
  }

  // The listing batch that starts at m_listNext. The next one is prepared as soon as this one is out,
  // while the computer reads it, so that the acknowledgement is answered without building anything.
  bool SendListingBatch() {
    PreparedBatch batch;
    if (m_prepared != nullptr && m_prepared->first == m_listNext) {
      batch = std::move(*m_prepared);
    } else if (!PrepareListingBatch(m_listNext, &batch)) {
      return false;
    }
    m_prepared.reset();
    m_listNext = batch.end;
    if (!SendSerialised(batch.message->Get(), batch.bytes)) return false;
    if (m_listNext < m_listing.size()) {
      auto next = std::make_unique<PreparedBatch>();
      // One that does not serialise is built again, and refused, when the computer asks for it.
      if (PrepareListingBatch(m_listNext, next.get())) m_prepared = std::move(next);
    }
    return true;
  }

  bool StartListing() {
    m_batches.clear();
    m_prepared.reset();
    m_listing = MDListSyncRecords(m_snapshot, *m_class, m_settings);
    m_listNext = 0;
    m_listingOpen = true;
    // An empty store still answers with one (empty) batch: the computer reads one message.
    const bool sent = SendListingBatch();
    if (m_listNext >= m_listing.size()) m_listingOpen = false;
    return sent;
  }

  bool StartChanges() {
    m_listingOpen = false;
    m_batches.clear();
    const int count = m_class->changeBatchesBeforeWrites;
    for (int i = 0; i < count; ++i) m_batches.push_back(i + 1 < count);
    return SendChangeBatch();
  }

  bool SendChangeBatch() {
    const bool more = m_batches.front();
    m_batches.pop_front();
    return Send(MessageBuilder(kProcessChanges)
                    .Text(m_class->className)
                    .Add(NewDictionary())
                    .Flag(more)
                    .Add(BatchOptions(false))
                    .Get());
  }

  bool Acknowledge() {
    if (m_listingOpen) {
      const bool sent = SendListingBatch();
      if (m_listNext >= m_listing.size()) m_listingOpen = false;
      return sent;
    }
    if (!m_batches.empty()) return SendChangeBatch();
    return Send(MessageBuilder(kReadyToReceive).Text(m_class->className).Get());
  }

  bool ProcessChanges(CFArrayRef message) {
    CFTypeRef changes = CFArrayGetCount(message) > 2 ? CFArrayGetValueAtIndex(message, 2) : nullptr;
    if (changes == nullptr || CFGetTypeID(changes) != kHLXCFDictionaryTypeID) {
      return Cancel("a change set must be a dictionary");
    }
    std::vector<std::pair<std::string, std::string>> remap;
    const int error = m_staging->Stage(static_cast<CFDictionaryRef>(changes), &remap);
    if (error != 0) {
      MDLog("mobilesync %s: staging failed (errno %d)", m_context.udid.c_str(), error);
      return Cancel("the device could not take the changes");
    }
    MDCFPtr map = NewDictionary();
    if (!map) return false;
    if (!m_settings.remapNothing) {
      for (const auto& [sent, device] : remap) {
        MDCFPtr deviceId = MDCFStringCreate(device);
        SetValue(map, sent, deviceId.get());
      }
    }
    return Send(MessageBuilder(kRemap).Text(m_class->className).Add(std::move(map)).Get());
  }

  bool Finish() {
    if (m_class == nullptr) return Cancel("no data class was chosen");
    const std::string className = m_class->className;
    const int error = m_staging->Commit();
    EndSession();
    if (error != 0) {
      MDLog("mobilesync %s: commit failed (errno %d)", m_context.udid.c_str(), error);
      return Send(MessageBuilder(kCancel).Text(className).Text("the device could not save the changes").Get());
    }
    return Send(MessageBuilder(kFinished).Text(className).Get());
  }

  MDSyncStoreUse m_storeUse;  // first, so that it goes last: the parsed stores go with the last connection
  MDServiceContext& m_context;
  const MDSyncSettings m_settings;
  Transcript m_transcript;
  bool m_dropped = false;

  const MDSyncClassRules* m_class = nullptr;  // chosen by SDMessageSyncDataClassWithDevice
  MDSyncSnapshot m_snapshot;
  std::unique_ptr<MDSyncStaging> m_staging;
  std::vector<std::pair<std::string, CFTypeRef>> m_listing;  // borrowed from m_snapshot
  size_t m_listNext = 0;
  std::unique_ptr<PreparedBatch> m_prepared;  // the listing batch after the one last sent, when built
  bool m_listingOpen = false;
  std::deque<bool> m_batches;  // "no changes" batches still to send: their "more" flags
};

void ServeMobileSync(MDServiceContext& context) {
  MDSyncSettings settings;
  if (MDLoadSyncSettings(context.imageFolder, &settings) != 0) {
    // A broken sync.json is a broken image: the device hangs up at once.
    MDLog("mobilesync %s: sync.json is malformed", context.udid.c_str());
    return;
  }
  MobileSyncConnection(context, std::move(settings)).Run();
}

}  // namespace

void MDRegisterMobileSyncService() { MDRegisterService("com.apple.mobilesync", ServeMobileSync); }
