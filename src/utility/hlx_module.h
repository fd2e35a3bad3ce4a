// The base of every feature module, the registry from request code to module, and the request body
// layout (sub-command, NUL, JSON text, NUL, optional zlib data).
//
// Threads: modules are made on the main thread at start-up, before the peer connection opens; any
// number of requests then run in one module at once, each on its own worker thread. The registry is
// filled before the first packet can arrive and only read afterwards, so it needs no lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

#include "utility/hlx_reply_code.h"
#include "utility/hlx_request_code.h"

struct IPCPacket1;

namespace hlx {

// A request body split into its parts, always within the body's bounds. The data part is not copied:
// it is a view of the body's bytes (an upload segment's bytes go from the packet to the device as they
// arrived), valid while the body lives unchanged.
struct RequestPayload {
  int subCommand = 0;     // the decimal digits before the first NUL (atoi)
  std::string json;       // from the first NUL to the next one; empty when the body has no JSON part
  std::string_view data;  // the raw (still compressed) bytes after the second NUL, in the body

  static RequestPayload Parse(const std::string& body);
  static RequestPayload Parse(std::string&& body) = delete;  // the view would outlive its bytes

  // Reads the JSON text into *json and its "uuid" into *uuid by the one rule of every request:
  // kReplyBadRequest (with *uuid empty) for a text that is not a JSON object or a "uuid" that is
  // present but is not a string, not valid UTF-8 or holds a NUL; kReplyBadData for any other text
  // of the request that holds a NUL or nesting beyond kMaxPeerJsonDepth; else kReplySuccess (*uuid
  // "" when absent). The text is parsed without recursion, so no nesting depth can exhaust the
  // worker's stack.
  [[nodiscard]] int ReadJson(rapidjson::Document* json, std::string* uuid) const;

  // The "uuid" of a request body as ReadJson reads it, without copying the data part; "" when the
  // JSON text is unusable or has none.
  static std::string UuidOf(const std::string& body);
};

// The final reply of a request through the reply sink: its id and command, the packet status that
// ReplyStatus gives for the code, and the record {stage 0, code, uuid, type 0, info}. 0, or -1
// without a desktop peer.
int SendFinalReply(const IPCPacket1& request, const char* uuid, int32_t code, const char* info);

class HLXModule {
 public:
  // kind 0: Notify, kind 1: HandleRequest of the base class.
  using NotifyCallback = void (*)(void* argument, void* userData, int kind);

  HLXModule() = default;
  virtual ~HLXModule() = default;
  HLXModule(const HLXModule&) = delete;
  HLXModule& operator=(const HLXModule&) = delete;

  virtual int Notify(void* argument);
  // Every registered module overrides this; its result is ignored.
  virtual int HandleRequest(const IPCPacket1& request);
  virtual int Reserved() { return 0; }
  // A packet that came back from the elevated helper instance.
  virtual int HandleHelperRequest(const IPCPacket1& /*request*/) { return 0; }
  // SendFinalReply; a module may send its final replies another way.
  virtual int SendReply(const IPCPacket1& request, const char* uuid, int32_t code, const char* info);

 protected:
  NotifyCallback m_notify = nullptr;
  void* m_notifyUserData = nullptr;
  std::mutex m_mutex;  // for the derived module's own shared state
};

class ModuleRegistry {
 public:
  static ModuleRegistry& GetInstance();

  // The module for a request code, or null.
  HLXModule* Find(int32_t code) const;
  void Enter(int32_t code, HLXModule* module);

 private:
  std::map<int32_t, HLXModule*> m_modules;  // written only by RegisterModules, before any request
};

// Makes every module once and enters it under all its codes. Returns true.
bool RegisterModules();

}  // namespace hlx
