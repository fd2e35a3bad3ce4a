// Conversations of a message database (see hlx_sms_query.h).
#include "utility/module/sms/hlx_sms_query.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "utility/hlx_device.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_ipc_channel.h"
#include "utility/hlx_json.h"
#include "utility/hlx_lock_order.h"
#include "utility/hlx_log.h"
#include "utility/hlx_paths.h"
#include "utility/hlx_reply_code.h"
#include "utility/hlx_request_code.h"
#include "utility/hlx_sqlite.h"
#include "utility/hlx_text.h"
#include "utility/hlx_time.h"
#include "utility/hlx_zlib.h"

namespace hlx {
namespace {

struct SmsMessage {
  int64_t rowId = 0;
  std::string chatKey;
  std::string text;
  int64_t date = 0;
  std::string dateText;
  int64_t dateRead = 0;
  std::string dateReadText;
  int32_t isFromMe = 0;
  int32_t isRead = 0;
  int32_t isSent = 0;
  int32_t error = 0;
  int64_t handleId = 0;
  std::string handleText;
  std::string subject;
  std::string account;
  std::string accountGuid;
};

struct SmsHandle {
  int64_t rowId = 0;
  std::string chatKey;
  std::string service;
  std::string country;
  std::string handleText;
};

struct SmsChat {
  std::string key;
  int32_t isGroup = 0;
  int64_t date = 0;  // of its latest message, as stored
  std::string dateText;
  std::string snippet;               // a copy of the latest message's text: the message vector moves as it grows
  std::string displayPhones;         // handle texts, each followed by ','
  std::vector<SmsMessage> messages;  // ascending date
  std::vector<SmsHandle> handles;
};

using ChatMap = std::map<std::string, SmsChat>;

// The statements, exactly as the layouts are read (the double blanks are part of the text).
constexpr char kCurrentMessagesSql[] =
    "select c.rowid,m.rowid,m.text,m.date_read,m.date,m.is_read,m.is_from_me,m.is_sent,m.error,m.handle_id,h.id,"
    "m.subject,m.account,m.account_guid from message m left join chat_message_join cmj on  m.rowid = cmj.message_id "
    "left join  chat c on  cmj.chat_id = c.rowid left join handle h on m.handle_id = h.rowid order by m.date";
constexpr char kCurrentHandlesSql[] =
    "select c.rowid,h.rowid,h.id,h.country,h.service from handle h left join chat_handle_join chj on h.rowid = "
    "chj.handle_id left join chat c on chj.chat_id = c.rowid";
constexpr char kOldestMessagesSql[] =
    "select m.address,m.rowid,m.text,0,m.date,m.read,m.flags,0,0,0,m.subject,'','' from message m order by m.date";
constexpr int kOldestSentFlags = 3;

int32_t ColumnInt(sqlite3_stmt* statement, int column) {
  return static_cast<int32_t>(sqlite3_column_int64(statement, column));
}

std::string LocalText(int64_t appleEpochCount) {
  std::unique_ptr<char, FreeDeleter> text(AppleTimeToLocalText(static_cast<uint64_t>(appleEpochCount)));
  return text ? text.get() : "";
}

// A stored date (seconds or nanoseconds since 2001) as local time text; "" for 0.
std::string AppleDateText(int64_t date) { return date == 0 ? "" : LocalText(date); }

// The oldest layout stores seconds since 1970: read as seconds since 2001, its dates would lie 31
// years ahead. "" for 0 and for moments before 2001, which that layout never holds.
std::string UnixDateText(int64_t date) {
  return date < kAppleEpochUnixSeconds ? "" : LocalText(date - kAppleEpochUnixSeconds);
}

class SmsDatabaseReader {
 public:
  explicit SmsDatabaseReader(const HLXSqlite& db) : m_db(db), m_path(db.Path()) {}

  // kReplySuccess, kReplyStatementFailed (logged) or kReplyCancelled.
  int Read(ChatMap* chats) {
    bool present[6] = {};
    const char* const tables[6] = {"message", "handle", "chat", "chat_message_join", "chat_handle_join", "madrid_chat"};
    for (int i = 0; i < 6; ++i) {
      if (int found = TableExists(tables[i], &present[i]); found != kReplySuccess) return found;
    }
    if (!present[0]) return kReplySuccess;
    if (present[1] && present[2] && present[3] && present[4]) return ReadCurrent(chats);
    if (present[5]) return kReplySuccess;  // the layout with madrid_chat is not read
    return ReadOldest(chats);
  }

 private:
  // A statement; null (logged) when it does not prepare.
  StatementPtr Prepare(const char* sql) {
    StatementPtr statement;
    const int result = m_db.Prepare(sql, &statement);
    if (result != SQLITE_OK) {
      HLX_LOG(ERROR) << "OPEN STMT: " << m_path << " SQL: " << sql << " RES: " << result;
      return nullptr;
    }
    return statement;
  }

  int TableExists(const char* name, bool* exists) {
    StatementPtr statement = Prepare("SELECT sql FROM sqlite_master WHERE type='table' AND name=?1");
    if (!statement) return kReplyStatementFailed;
    sqlite3_bind_text(statement.get(), 1, name, -1, SQLITE_STATIC);
    const int result = m_db.Step(statement.get());
    if (result != SQLITE_ROW && result != SQLITE_DONE) return Failed("table list", result);
    *exists = result == SQLITE_ROW;
    return kReplySuccess;
  }

  // A step that ended in an error: the rows read so far are not the whole database.
  int Failed(const char* what, int result) {
    HLX_LOG(ERROR) << "READ DB: " << m_path << " " << what;
    return m_db.FailureCode(result);
  }

  static SmsChat& ChatOf(ChatMap* chats, const std::string& key) {
    SmsChat& chat = (*chats)[key];
    chat.key = key;
    return chat;
  }

  static void AddMessage(SmsChat* chat, SmsMessage message) {
    chat->date = message.date;
    chat->dateText = message.dateText;
    chat->snippet = message.text;
    chat->messages.push_back(std::move(message));
  }

  int ReadCurrent(ChatMap* chats) {
    StatementPtr messages = Prepare(kCurrentMessagesSql);
    StatementPtr handles = Prepare(kCurrentHandlesSql);
    if (!messages || !handles) return kReplyStatementFailed;
    sqlite3_stmt* row = messages.get();
    int result;
    while ((result = m_db.Step(row)) == SQLITE_ROW) {
      SmsMessage message;
      message.chatKey = std::to_string(sqlite3_column_int64(row, 0));  // no conversation: "0"
      message.rowId = sqlite3_column_int64(row, 1);
      message.text = ColumnText(row, 2);
      message.dateRead = sqlite3_column_int64(row, 3);
      message.dateReadText = AppleDateText(message.dateRead);
      message.date = sqlite3_column_int64(row, 4);
      message.dateText = AppleDateText(message.date);
      message.isRead = ColumnInt(row, 5);
      message.isFromMe = ColumnInt(row, 6);
      message.isSent = ColumnInt(row, 7);
      message.error = ColumnInt(row, 8);
      message.handleId = sqlite3_column_int64(row, 9);
      message.handleText = ColumnText(row, 10);
      message.subject = ColumnText(row, 11);
      message.account = ColumnText(row, 12);
      message.accountGuid = ColumnText(row, 13);
      SmsChat& chat = ChatOf(chats, message.chatKey);
      // A message without a handle is one of several people's conversation.
      if (chat.isGroup == 0 && message.handleId == 0) chat.isGroup = 1;
      AddMessage(&chat, std::move(message));
    }
    if (result != SQLITE_DONE) return Failed("messages", result);

    row = handles.get();
    while ((result = m_db.Step(row)) == SQLITE_ROW) {
      auto chat = chats->find(std::to_string(sqlite3_column_int64(row, 0)));
      if (chat == chats->end()) continue;
      SmsHandle handle;
      handle.rowId = sqlite3_column_int64(row, 1);
      handle.chatKey = chat->first;
      handle.handleText = ColumnText(row, 2);
      handle.country = ColumnText(row, 3);
      handle.service = ColumnText(row, 4);
      chat->second.displayPhones += handle.handleText + ",";
      chat->second.handles.push_back(std::move(handle));
    }
    return result == SQLITE_DONE ? kReplySuccess : Failed("handles", result);
  }

  // The conversation of an oldest-layout message: its address as text, so that addresses that are
  // no plain number (e-mail addresses, "+1 555 ...") stay apart; a plain number as its decimal
  // value; no address at all is "0".
  static std::string OldestChatKey(sqlite3_stmt* row) {
    if (sqlite3_column_type(row, 0) == SQLITE_NULL) return "0";
    std::string address = ColumnText(row, 0);
    const bool plainNumber = !address.empty() && address.size() <= 18 &&
                             std::all_of(address.begin(), address.end(), [](char c) { return c >= '0' && c <= '9'; });
    return plainNumber ? std::to_string(std::stoll(address)) : address;
  }

  int ReadOldest(ChatMap* chats) {
    StatementPtr messages = Prepare(kOldestMessagesSql);
    if (!messages) return kReplyStatementFailed;
    sqlite3_stmt* row = messages.get();
    int result;
    while ((result = m_db.Step(row)) == SQLITE_ROW) {
      SmsMessage message;
      message.chatKey = OldestChatKey(row);
      message.rowId = sqlite3_column_int64(row, 1);
      message.text = ColumnText(row, 2);
      message.date = sqlite3_column_int64(row, 4);
      message.dateText = UnixDateText(message.date);
      message.isRead = ColumnInt(row, 5);
      message.isFromMe = sqlite3_column_int64(row, 6) == kOldestSentFlags ? 1 : 0;
      message.subject = ColumnText(row, 10);
      SmsChat& chat = ChatOf(chats, message.chatKey);
      // The address names the conversation once, however many messages it holds.
      if (chat.messages.empty()) chat.displayPhones = message.chatKey + ",";
      AddMessage(&chat, std::move(message));
    }
    return result == SQLITE_DONE ? kReplySuccess : Failed("messages", result);
  }

  const HLXSqlite& m_db;
  const std::string& m_path;
};

void Member(JsonTextWriter& json, const char* name, int64_t value) {
  json.Key(name);
  json->Int64(value);
}
void Member(JsonTextWriter& json, const char* name, std::string_view value) {
  json.Key(name);
  json.String(value);
}

void WriteMessage(JsonTextWriter& json, const SmsMessage& message) {
  json->StartObject();
  Member(json, "id", message.rowId);
  Member(json, "chat_id", message.chatKey);
  Member(json, "text", message.text);
  Member(json, "date", message.date);
  Member(json, "date_str", message.dateText);
  Member(json, "date_read", message.dateRead);
  Member(json, "date_read_str", message.dateReadText);
  Member(json, "is_from_me", message.isFromMe);
  Member(json, "is_read", message.isRead);
  Member(json, "is_sent", message.isSent);
  Member(json, "error", message.error);
  Member(json, "handle_id", message.handleId);
  Member(json, "handle_id_phone", message.handleText);
  Member(json, "subject", message.subject);
  Member(json, "account_guid", message.accountGuid);
  Member(json, "account", message.account);
  json->EndObject();
}

std::string ChatJson(const SmsChat& chat) {
  const std::string_view phones(chat.displayPhones);
  JsonTextWriter json;
  json->StartObject();
  Member(json, "id", chat.key);
  Member(json, "snippet", chat.snippet);
  Member(json, "display_phone", phones.substr(0, phones.empty() ? 0 : phones.size() - 1));  // no final ','
  Member(json, "is_group", chat.isGroup);
  Member(json, "date", chat.date);
  Member(json, "date_str", chat.dateText);
  json.Key("handles");
  json->StartArray();
  for (const SmsHandle& handle : chat.handles) {
    json->StartObject();
    Member(json, "id", handle.rowId);
    Member(json, "chat_id", handle.chatKey);
    Member(json, "service", handle.service);
    Member(json, "country", handle.country);
    Member(json, "handle_id_phone", handle.handleText);
    json->EndObject();
  }
  json->EndArray();
  Member(json, "message_count", static_cast<int64_t>(chat.messages.size()));
  json->EndObject();
  return json.Text();
}

// One reply of the listing: a chat, or the batch [first, end) of its messages.
struct ListingReply {
  const SmsChat* chat;
  size_t first;
  size_t end;
  bool isChat;
};

std::string ReplyText(const ListingReply& reply) {
  if (reply.isChat) return ChatJson(*reply.chat);
  JsonTextWriter batch;
  batch->StartArray();
  for (size_t i = reply.first; i < reply.end; ++i) WriteMessage(batch, reply.chat->messages[i]);
  batch->EndArray();
  return batch.Text();
}

// Writes and compresses the listing's replies on helper threads, several at once, while the request's
// thread sends them in their order: writing and compressing the replies was half of a large listing's
// time on one thread. A reply that no helper could make (no memory, no thread) the sender makes itself.
class ReplyWriters {
 public:
  explicit ReplyWriters(const std::vector<ListingReply>& replies) : m_replies(replies), m_slots(replies.size()) {
    try {
      for (int i = 0; i < kThreads; ++i) m_threads.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
      // Fewer helpers, or none: Take then says that the sender makes each reply.
    }
  }
  ~ReplyWriters() {
    {
      MutexLock lock(m_mutex);
      m_next = m_replies.size();  // the helpers take nothing more
    }
    for (std::thread& thread : m_threads) thread.join();
  }
  ReplyWriters(const ReplyWriters&) = delete;
  ReplyWriters& operator=(const ReplyWriters&) = delete;

  // The compressed data part of reply `index`, once a helper made it (the helpers take the replies
  // in order, so each one comes); false when there are no helpers or this reply's helper failed.
  bool Take(size_t index, std::string* compressed) {
    if (m_threads.empty()) return false;
    MutexLock lock(m_mutex);
    Slot& slot = m_slots[index];
    while (!slot.ready) m_made.Wait(m_mutex);
    compressed->swap(slot.compressed);
    return slot.made;
  }

 private:
  static constexpr int kThreads = 4;
  struct Slot {
    bool ready = false;
    bool made = false;
    std::string compressed;
  };

  void Run() {
    for (;;) {
      size_t index;
      {
        MutexLock lock(m_mutex);
        if (m_next >= m_replies.size()) return;
        index = m_next++;
      }
      std::string compressed;
      bool made = false;
      try {
        const std::string text = ReplyText(m_replies[index]);
        made = ZlibCompress(compressed, text.data(), text.size());
      } catch (const std::exception&) {
        made = false;
      }
      {
        MutexLock lock(m_mutex);
        m_slots[index].ready = true;
        m_slots[index].made = made;
        m_slots[index].compressed.swap(compressed);
      }
      m_made.NotifyAll();
    }
  }

  const std::vector<ListingReply>& m_replies;
  Mutex m_mutex;
  CondVar m_made;
  size_t m_next HLX_GUARDED_BY(m_mutex) = 0;  // the next reply a helper takes
  std::vector<Slot> m_slots HLX_GUARDED_BY(m_mutex);
  std::vector<std::thread> m_threads;
};

// A copy of the database (with its companions, when they are still there) in the process's
// temporary folder as sms-<UDID>.db, for the desktop; "" when it could not be made.
std::string CopyForDesktop(const std::string& path, const std::string& udid) {
  std::string safeUdid = udid;
  for (char& c : safeUdid) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    if (!plain) c = '_';
  }
  const std::string copy = GetProcessTempFolder(true) + "sms-" + safeUdid + ".db";
  std::error_code error;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(copy + suffix, error);
    if (std::filesystem::exists(path + suffix, error)) {
      std::filesystem::copy_file(path + suffix, copy + suffix, error);
      if (error) {
        HLX_LOG(WARNING) << "messages database copy failed: " << error.message();
        return "";
      }
    }
  }
  return copy;
}

}  // namespace

int QuerySmsDb(const FeatureRequest& request, const std::string& path) {
  HLX_LOG(INFO) << "QuerySmsDb";
  if (path.empty()) {
    HLX_LOG(ERROR) << "OPEN DB: no messages database fetched";
    return kReplyDatabaseNotOpened;
  }
  ChatMap chatsByKey;
  {
    HLXSqlite db;
    CancelTest cancelled;
    if (request.Device())
      cancelled = CancelTestOf(request.Device()->TaskMap(), static_cast<int64_t>(request.Packet().id));
    if (int opened = db.Open(path, cancelled)) return opened;
    const int read = SmsDatabaseReader(db).Read(&chatsByKey);
    if (read != kReplySuccess) return read;
  }
  if (chatsByKey.empty()) return kReplySuccess;

  std::vector<SmsChat*> chats;
  chats.reserve(chatsByKey.size());
  for (auto& entry : chatsByKey) chats.push_back(&entry.second);
  std::stable_sort(chats.begin(), chats.end(), [](const SmsChat* a, const SmsChat* b) { return a->date > b->date; });

  const uint32_t command = request.Command();
  JsonTextWriter pathJson;
  pathJson.String(CopyForDesktop(path, request.Device() ? request.Device()->Udid() : request.Uuid()));
  const std::string pathInfo = pathJson.Text();
  request.SendProgress(command, -1, &pathInfo, nullptr);
  const std::string countInfo = CountInfo(static_cast<int64_t>(chats.size()));
  request.SendProgress(command, 0, &countInfo, nullptr);
  std::vector<ListingReply> replies;
  for (const SmsChat* chat : chats) {
    replies.push_back({chat, 0, 0, true});
    for (size_t first = 0; first < chat->messages.size(); first += kMessagesPerReply) {
      replies.push_back({chat, first, std::min(chat->messages.size(), first + kMessagesPerReply), false});
    }
  }
  ReplyWriters writers(replies);
  for (size_t index = 0; index < replies.size(); ++index) {
    const int64_t code = replies[index].isChat ? 0 : 1;  // a batch of messages carries code 1
    std::string compressed;
    if (writers.Take(index, &compressed)) {
      request.SendCompressedProgress(command, 1, &countInfo, compressed, code);
    } else {
      const std::string text = ReplyText(replies[index]);
      request.SendProgress(command, 1, &countInfo, &text, code);
    }
  }
  return kReplySuccess;
}

}  // namespace hlx
