// The frame that every feature module rests on. HLXFeatureModule::HandleRequest runs it once per
// request, so each module holds only its own work:
//   1. split the body (RequestPayload) and read the JSON text and its "uuid" by one rule: a text
//      that is not a JSON object, or a "uuid" that is present but is no valid UTF-8 string without
//      NUL, is 21 with an empty uuid (a bad uuid is never echoed); any other text of the request
//      holding a NUL, or nesting deeper than kMaxPeerJsonDepth, is 8;
//   2. find the device when the request needs one: 9 while the device library is not bound (no
//      device can exist then), 7 when none is known by that uuid;
//   3. for sub-command 1 (or every sub-command, for modules that say so) run the module's work
//      inside a catch-all: an exception becomes 2 with its final reply, never silence; other
//      sub-commands end with 0;
//   4. log one line (id, code, sub-command, UDID, result, its name, milliseconds) and send the one
//      final reply (unless the work answered the request itself: EndWithoutFinalReply).
// The data part is inflated only when the work asks for it (FeatureRequest::ReadData), against
// kMaxRequestDataBytes. Intermediate replies go through the reply sink (hlx_reply_sink.h).
//
// Threads: any number of workers run requests in one module at once; the frame keeps no state.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "utility/hlx_json.h"
#include "utility/hlx_module.h"

namespace hlx {

class HLXDevice;

// One request as the module's work sees it. Lives for the HandleRequest call.
class FeatureRequest {
 public:
  FeatureRequest(const IPCPacket1& packet, RequestPayload payload) : m_packet(packet), m_payload(std::move(payload)) {}

  const IPCPacket1& Packet() const { return m_packet; }
  uint32_t Command() const;
  int SubCommand() const { return m_payload.subCommand; }
  const rapidjson::Document& Json() const { return m_json; }
  // The request's "uuid": valid UTF-8 without NUL; "" when absent.
  const std::string& Uuid() const { return m_uuid; }
  // The device the request is about (null for requests that need none).
  const std::shared_ptr<HLXDevice>& Device() const { return m_device; }

  // The data part inflated (at most kMaxRequestDataBytes) and parsed as a JSON object that
  // IsCleanPeerJson accepts: kReplySuccess, else kReplyBadData.
  [[nodiscard]] int ReadData(rapidjson::Document* data) const;
  // The data part inflated (at most kMaxRequestDataBytes), as it is: kReplySuccess, else kReplyBadData.
  [[nodiscard]] int ReadDataText(std::string* text) const;

  // The data part exactly as it arrived (still compressed, or raw bytes for requests that send them so),
  // in the request packet's body.
  std::string_view RawData() const { return m_payload.data; }
  // For requests answered by their own replies (segmented transfers): the frame sends no final
  // reply for this request.
  void EndWithoutFinalReply() { m_finalReply = false; }

  // An intermediate reply (packet status 2) on the request's id with `command`: the device's UDID
  // (the request's uuid when it has no device), stage, info (raw JSON text, or null for none) and a
  // data part (zlib-compressed on the wire; null for none), and the record's code.
  int SendProgress(uint32_t command, int32_t stage, const std::string* info, const std::string* data,
                   int64_t code = 0) const;
  // As SendProgress, with a data part that already is its zlib stream (ZlibCompress), sent as it is.
  int SendCompressedProgress(uint32_t command, int32_t stage, const std::string* info, const std::string& compressed,
                             int64_t code = 0) const;
  // Any reply on the request's id: command, packet status, stage, code, type (0: the data part is
  // compressed on the wire; 1: raw) with the device's UDID as above; info and data may be null.
  int SendReplyRecord(uint32_t command, uint16_t status, int32_t stage, int64_t code, int32_t type,
                      const std::string* info, const void* data, size_t dataLength) const;
  // The final reply's "info" (raw JSON text); none unless the work sets one.
  void SetFinalInfo(std::string json) { m_finalInfo = std::move(json); }
  // Keeps `held` until the final reply is out: what a large listing leaves (its records, a device
  // session whose close makes the device free its own copy) takes long enough to release that the
  // peer should not wait for it.
  void HoldUntilAnswered(std::shared_ptr<void> held) { m_heldUntilAnswered.push_back(std::move(held)); }

 private:
  friend class HLXFeatureModule;

  int SendRecord(uint32_t command, uint16_t status, int32_t stage, int64_t code, int32_t type, const std::string* info,
                 const void* data, size_t dataLength, bool dataCompressed) const;

  const IPCPacket1& m_packet;
  const RequestPayload m_payload;
  RequestJsonDocument m_json;
  std::string m_uuid;
  std::shared_ptr<HLXDevice> m_device;
  bool m_finalReply = true;
  std::string m_finalInfo;
  std::vector<std::shared_ptr<void>> m_heldUntilAnswered;
};

class HLXFeatureModule : public HLXModule {
 public:
  int Notify(void*) override { return 0; }
  // Runs the frame above; always ends with exactly one final reply.
  int HandleRequest(const IPCPacket1& request) final;

 protected:
  // Whether the request must name a known device (7 otherwise).
  virtual bool NeedsDevice(const FeatureRequest& /*request*/) const { return true; }
  // The device of a request; by default the one whose UDID is the request's uuid.
  virtual std::shared_ptr<HLXDevice> FindDevice(const FeatureRequest& request) const;
  // Whether Run is called for every sub-command rather than for 1 only.
  virtual bool RunsEverySubCommand() const { return false; }
  // The module's own work; returns the final reply's code. May throw: the frame answers 2.
  virtual int Run(FeatureRequest& request) = 0;
};

}  // namespace hlx
