// The reply frame that every module answers with: the flag in decimal, a NUL, the JSON record
// {"stage","code","uuid","type"[,"info"]}, a NUL, and an optional data part (zlib-compressed when the
// type is 0, raw otherwise), plus the mapping from a result code to the packet status.
//
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <string>

#include "utility/hlx_reply_code.h"

namespace hlx {

// Packet status values of replies and events.
enum class PacketStatus : uint16_t {
  kStatusReport = 1,  // also "done" for a final reply
  kDone = 1,
  kInProgress = 2,
  kCancelled = 5,
  kFailed = 6,
};

// One reply, built on the stack by its sender; every pointer is borrowed for the call.
struct ReplyRecord {
  int32_t flag = 1;
  int32_t stage = 0;
  int64_t code = 0;
  const char* uuid = nullptr;  // written as "" when null
  int32_t type = 0;            // 0: the data part is compressed with zlib before sending
  const char* info = nullptr;  // raw, already serialised JSON; null: no "info" member
  const uint8_t* data = nullptr;
  int64_t dataLength = 0;
  // Type 0 only: `data` already is the zlib stream (ZlibCompress) of the data part, sent as it is,
  // so that a sender may compress on threads of its own.
  bool dataCompressed = false;

  // The text part: flag, NUL, JSON record, NUL.
  std::string SerializeText() const;
  // The data part as sent: compressed when the type is 0. False when compression failed.
  [[nodiscard]] bool SerializeData(std::string* out) const;
  // The whole body, text then data part, as one string; empty when compression failed.
  static std::string Serialize(const ReplyRecord& record);
};

// The packet status of a final reply: 0 is done, 6 cancelled, anything else failed.
PacketStatus ReplyStatus(int64_t code);

}  // namespace hlx
