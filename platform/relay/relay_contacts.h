#pragma once
// The relay module's contacts in service mode: the host's ZERITH_COMMAND_DO_CONTACT requests become the
// device service's contact requests (100 to 106) and its replies become the relay's answers (contact and
// group batches whose sequence rises with every load, counts, saved and removed records). Exports are
// written into the chosen folder at once (relay_contacts_files.h); an imported backup's contacts are
// saved to the device one by one as new contacts. The relay keeps
// each device's contacts and groups as last listed and changed, for the counts, for the labelled values a
// save removes and for the members a contact's groups gain or lose.
//
// Writes run one at a time in the order they were asked for (a later write may build on an earlier one's
// device ids); a listing runs at once. Sockets, compression and the host are reached through
// ContactsLink, so that this builds and is tested natively. UI thread only; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "contact_records.h"
#include "feature_payload.h"
#include "relay_paths.h"
#include "relay_wire.h"

namespace trv::relay {

// One answer to the host under ZERITH_COMMAND_DO_CONTACT; `extra` is the payload the code carries
// (contact_codes.h), which the host owns once the answer is delivered.
// The other features' answers (relay_lists.h) travel the same way under their own relay name.
struct ContactsAnswer {
    std::string device;  // UTF-8 UDID
    std::int64_t code = 0;
    void* extra = nullptr;
    std::int64_t value2 = 0;
    std::int64_t value3 = 0;
    const char* name = nullptr;  // the relay name the answer goes under; null: ZERITH_COMMAND_DO_CONTACT
    std::int64_t status = 0;
    std::int64_t value4 = 0;
    std::wstring wideText;  // lent to the host for the call as `wideText`; empty: none
    ReleasePayloadFunction release = nullptr;  // frees `extra` when undelivered; null: the contacts release
};

// Frees an answer's payload by its code, for an answer that could not be delivered.
void ReleaseContactsAnswer(ContactsAnswer& answer);

// A copy of `text` on the shared heap, as identifier and name payloads travel (the receiver frees it), and
// the release of such a payload for an answer that could not be delivered.
wchar_t* HeapCopy(const std::wstring& text);
void ReleaseHeapText(PayloadLeg leg, std::int64_t code, void* payload);

class ContactsLink {
public:
    virtual ~ContactsLink() = default;
    // Sends request `code` (sub-command 1, JSON {"uuid": device}) with `data` as its data part, which the
    // link compresses; no data part when `data` is empty. The request's id, or 0 when it was not sent.
    virtual std::uint64_t SendRequest(std::uint32_t code, const std::string& device, const std::string& data) = 0;
    // Sends request `code` (sub-command 1) with the whole JSON text `json` and no data part; as SendRequest.
    virtual std::uint64_t SendJsonRequest(std::uint32_t code, const std::string& json) = 0;
    // Hands an answer to the host.
    virtual void Answer(ContactsAnswer& answer) = 0;
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
bool WriteExport(ContactsLink& link, const std::wstring& folder, const std::wstring& fileName, const std::string& bytes);

struct JobAccess;

class ContactsService {
public:
    explicit ContactsService(ContactsLink& link);
    ~ContactsService();
    ContactsService(const ContactsService&) = delete;
    ContactsService& operator=(const ContactsService&) = delete;

    // A ZERITH_COMMAND_DO_CONTACT request of the host (device in `wideText`); takes over the payloads the
    // request hands over.
    void Handle(CommandMessage& message);

    // A reply packet from the service; `data` is its data part as text (already inflated). False when the
    // packet does not answer one of this service's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data);

    // The device left: its page is emptied (count 0, empty batches, loading finished), its queued writes
    // are dropped and its records forgotten.
    void OnDeviceGone(const std::string& device);
    // The service's connection is gone: every request in flight ends as failed, queued writes are dropped.
    void OnServiceGone();

    struct Job;
    struct Book;

private:
    friend struct JobAccess;
    void Post(const std::string& device, std::int64_t code, void* extra, std::int64_t value2 = 0,
              std::int64_t value3 = 0);
    Book& BookOf(const std::string& device);
    void Enqueue(std::unique_ptr<Job> job);
    // Composes and sends the job's request; a job that could not be sent ends as one without a reply.
    bool Dispatch(std::unique_ptr<Job> job);
    void StartNextWrite();
    void Finish(std::uint64_t id, std::int64_t code);
    void EmptyPage(const std::string& device);

    ContactsLink& m_link;
    std::map<std::string, std::unique_ptr<Book>> m_books;  // by device
    std::map<std::uint64_t, std::unique_ptr<Job>> m_inFlight;  // by request id
    std::deque<std::unique_ptr<Job>> m_writes;              // waiting; the running one is in m_inFlight
    bool m_writeRunning = false;
    std::int64_t m_sequence = 0;  // of the last load (or emptying) of any device
};

}  // namespace trv::relay
