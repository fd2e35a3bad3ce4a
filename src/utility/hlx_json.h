// JSON for the service: reading peer text without recursion (a deeply nested text must not exhaust
// a worker's stack), and writing values and records through RapidJSON's writer, so that every text
// is escaped and no reply is ever assembled by hand. No state; any thread.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace hlx {

// Parses text from the peer or a file into *document with an explicit stack (kParseIterativeFlag),
// so nesting depth costs heap, not the worker's stack; invalid UTF-8 is a parse error. False on
// any parse error.
[[nodiscard]] bool ParseJsonText(rapidjson::Document* document, const char* text, size_t length);
[[nodiscard]] inline bool ParseJsonText(rapidjson::Document* document, const std::string& text) {
  return ParseJsonText(document, text.data(), text.size());
}

// The pool and its first block of a RequestJsonDocument, built before the document that uses them.
struct RequestJsonPool {
  static constexpr size_t kInlineBytes = 1024;
  alignas(8) char inlineBlock[kInlineBytes];
  rapidjson::MemoryPoolAllocator<> pool{inlineBlock, kInlineBytes};
};

// A document for a request's JSON text, which is a few dozen bytes. A plain document takes a 64 KiB
// block from the heap for its first value and frees it again, which costs a request more than the
// parse itself; this one keeps its values in a block of its own and only goes to the heap for a text
// that outgrows it.
class RequestJsonDocument : private RequestJsonPool, public rapidjson::Document {
 public:
  RequestJsonDocument() : rapidjson::Document(&pool) {}
  RequestJsonDocument(const RequestJsonDocument&) = delete;
  RequestJsonDocument& operator=(const RequestJsonDocument&) = delete;
};

// How deep JSON from the peer may nest. Honest requests nest a few levels; a deeper value is refused
// before code that recurses over values (the writer, copies, comparisons) can meet it.
inline constexpr size_t kMaxPeerJsonDepth = 64;

// Whether a value from the peer is fit to use: no text (member names included) holds a NUL, which
// would cut it short on its way into C strings and property lists, and it nests at most
// kMaxPeerJsonDepth levels. Walks without recursion.
bool IsCleanPeerJson(const rapidjson::Value& value);

// The member `name` of an object when it is a string, else null.
const rapidjson::Value* FindStringMember(const rapidjson::Value& object, const char* name);
// A string value's text (it may hold any bytes the value holds).
inline std::string StringOf(const rapidjson::Value& value) {
  return std::string(value.GetString(), value.GetStringLength());
}

// The compact JSON text of a value (no blanks); "" for a value the writer refuses (NaN, infinity).
std::string JsonValueToString(const rapidjson::Value& value);

// {"Count":n}: the info text of a listing's count reply (and of the record replies that follow it).
std::string CountInfo(int64_t count);

// One JSON text written member by member (texts as valid UTF-8, see String):
//   JsonTextWriter json;
//   json->StartObject(); json.Key("Count"); json->Int64(n); json->EndObject();
//   reply.info = json.Text();
class JsonTextWriter {
 public:
  JsonTextWriter() : m_writer(m_buffer) {}
  rapidjson::Writer<rapidjson::StringBuffer>* operator->() { return &m_writer; }
  void Key(std::string_view key) { m_writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size())); }
  // A text from anywhere, device files included: bytes that are not UTF-8 go out as U+FFFD, so
  // that the reply stays valid JSON for every reader.
  void String(std::string_view text);
  std::string Text() const { return std::string(m_buffer.GetString(), m_buffer.GetSize()); }
  std::string_view View() const { return std::string_view(m_buffer.GetString(), m_buffer.GetSize()); }
  // Makes room for `bytes` more of text at once, for long texts whose size is known roughly: the
  // buffer otherwise grows by halves, copying the text each time.
  void Reserve(size_t bytes) { m_buffer.Reserve(bytes); }

 private:
  rapidjson::StringBuffer m_buffer;
  rapidjson::Writer<rapidjson::StringBuffer> m_writer;
};

}  // namespace hlx
