#pragma once
// What every feature of the relay's service mode shares: the answer a feature hands to the host
// (RelayAnswer), the link through which it reaches the device service, the host and the desktop's files
// (RelayLink), and the shape the link consults it by (RelayFeature) in the one order of a RelayFeatureList.
// Contacts, the listings, the notes and bookmarks actions, renames, exports, drivers and backups are
// features (relay_contacts.h, relay_lists.h, relay_actions.h, relay_rename.h, relay_exports.h,
// relay_drivers.h, relay_backups.h).
//
// UI thread only; no sockets or windows here, so that the features build and are tested natively.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "command_message.h"
#include "feature_payload.h"
#include "relay_paths.h"
#include "relay_wire.h"

namespace relay {

// One answer of a feature to the host, delivered as a command named `name` whose fields carry these (the
// message field each travels in is named first). Which of them an answer fills is its code's, as the
// feature's codes header says (contact_codes.h, note_codes.h, feature_codes.h, backup_records.h ...).
struct RelayAnswer {
    const char* name = nullptr;  // the relay name the answer goes under; null: ZERITH_COMMAND_DO_CONTACT
    std::int64_t code = 0;       // `code`: what the answer is, among its feature's answer codes
    std::string device;          // `text`: the UTF-8 UDID of the device it is about; empty: none
    // `status`: a listing's kind (the request's, or its route's), a backup list answer's kind (a backup, its
    // size, the end, a run's report), a driver step's report (the download's request id as it starts, 0
    // while a step runs, else how it ended).
    std::int64_t status = 0;
    // `extra`: the records or text the code carries; the host's once delivered.
    void* payload = nullptr;
    // Frees `payload` when the answer cannot be delivered; null when the answer carries none.
    ReleasePayloadFunction release = nullptr;
    // `value2`: the service's result code where a listing, a backup list or an export ends; the count left
    // after a change where one ends (a contact removed, notes saved or imported, bookmarks deleted).
    std::int64_t resultOrCount = 0;
    // `value3`: a count: the records listed (negative while an online account keeps them), the contacts
    // after one was added, the files an export copied whole; the whole of a driver step.
    std::int64_t count = 0;
    // `value4`: how much of a driver step's whole (`count`) is done; which of two listings that share their
    // answer codes an answer is (ListRoute::kind).
    std::int64_t done = 0;
    // `wideText`: a text for the user (a driver step's outcome in words, the folder an export wrote to), lent
    // for the call; empty: none.
    std::wstring userText;
};

// Frees an answer's payload, for an answer that could not be delivered.
void ReleaseRelayAnswer(RelayAnswer& answer);

// A copy of `text` on the shared heap, as identifier and name payloads travel (the receiver frees it), and
// the release of such a payload for an answer that could not be delivered.
wchar_t* HeapCopy(const std::wstring& text);
void ReleaseHeapText(PayloadLeg leg, std::int64_t code, void* payload);

// The device service, the host and the desktop's files as the features reach them.
class RelayLink {
public:
    virtual ~RelayLink() = default;
    // Sends request `code` (sub-command 1, JSON {"uuid": device}) with `data` as its data part, which the
    // link compresses; no data part when `data` is empty. The request's id, or 0 when it was not sent.
    virtual std::uint64_t SendRequest(std::uint32_t code, const std::string& device, const std::string& data) = 0;
    // Sends request `code` (sub-command 1) with the whole JSON text `json` and no data part; as SendRequest.
    virtual std::uint64_t SendJsonRequest(std::uint32_t code, const std::string& json) = 0;
    // Sends request `code` for `device` whose JSON text carries `info` (a JSON object's text) as its "info"
    // member, and no data part; as SendRequest.
    std::uint64_t SendInfoRequest(std::uint32_t code, const std::string& device, const std::string& info);
    // Hands an answer to the host; its payload is the link's from here (`payload` is cleared).
    virtual void Answer(RelayAnswer& answer) = 0;
    // Writes `bytes` as the new file `name` in the desktop folder `folder`; false when a file of that name
    // is there already or the file could not be written whole (nothing is left behind then).
    virtual bool WriteNewFile(const std::wstring& folder, const std::wstring& name, const std::string& bytes) = 0;
    // Reads the whole desktop file `path` of at most `limitBytes`; false when it cannot.
    virtual bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) = 0;
    // The device service's name for the desktop path `path`; empty when the service cannot reach it.
    virtual std::wstring ServicePathOf(const std::wstring& path) { return ToServicePath(path); }
};

// Writes an export: `bytes` as the first of "<stem>.<extension>", "<stem> (2).<extension>" ... in the
// desktop folder `folder` that `link` could write them under, so that an export never replaces a file
// the user has. False when none could be written.
bool WriteExport(RelayLink& link, const std::wstring& folder, const std::wstring& fileName, const std::string& bytes);

// One feature as the link consults it.
class RelayFeature {
public:
    virtual ~RelayFeature() = default;
    // A host delivery; false when it is not this feature's. Takes over the payloads the request hands over.
    virtual bool Handle(CommandMessage& message) = 0;
    // A reply packet of the service; `data` is its data part as text (already inflated). False when it
    // answers none of this feature's requests.
    virtual bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) = 0;
    // The device left. Only a feature that keeps what a device's page shows acts on it.
    virtual void OnDeviceGone(const std::string& /*device*/) {}
    // The service's connection is gone: what is in flight ends as failed.
    virtual void OnServiceGone() = 0;
};

// The features in the order the link consults them: a command or a reply goes to each in turn until one
// takes it; a device's or the service's loss reaches every one, once, in the same order.
class RelayFeatureList {
public:
    explicit RelayFeatureList(std::vector<RelayFeature*> order) : m_order(std::move(order)) {}

    bool Handle(CommandMessage& message);
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);
    void OnDeviceGone(const std::string& device);
    void OnServiceGone();

private:
    std::vector<RelayFeature*> m_order;
};

}  // namespace relay
