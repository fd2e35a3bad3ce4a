#pragma once
// The relay module's contacts in service mode: the host's ZERITH_COMMAND_DO_CONTACT requests become the
// device service's contact requests (100 to 106) and its replies become the relay's answers (contact and
// group batches whose sequence rises with every load, counts, saved and removed records). Exports are
// written into the chosen folder at once (relay_contacts_files.h); an imported backup's contacts are
// saved to the device one by one as new contacts. The relay keeps
// each device's contacts and groups as last listed and changed, for the counts, for the labelled values a
// save removes or shares with other contacts, for the members a contact's groups gain or lose, and with
// them the listed fields the page's records do not hold, which every save sends back.
//
// Writes run one at a time in the order they were asked for (a later write may build on an earlier one's
// device ids); a listing runs at once. Sockets, compression and the host are reached through
// RelayLink (relay_feature.h), so that this builds and is tested natively. UI thread only; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_message.h"
#include "contact_records.h"
#include "relay_feature.h"
#include "relay_wire.h"

namespace relay {

struct JobAccess;

class ContactsService final : public RelayFeature {
public:
    explicit ContactsService(RelayLink& link);
    ~ContactsService() override;
    ContactsService(const ContactsService&) = delete;
    ContactsService& operator=(const ContactsService&) = delete;

    // A ZERITH_COMMAND_DO_CONTACT request of the host (device in `wideText`); takes over the payloads the
    // request hands over. False for any other name.
    bool Handle(CommandMessage& message) override;

    // A reply packet from the service; `data` is its data part as text (already inflated). False when the
    // packet does not answer one of this service's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;

    // The device left: its page is emptied (count 0, empty batches, loading finished), its queued writes
    // are dropped and its records forgotten.
    void OnDeviceGone(const std::string& device) override;
    // The service's connection is gone: every request in flight ends as failed, queued writes are dropped.
    void OnServiceGone() override;

    struct Job;
    struct Book;

private:
    friend struct JobAccess;
    void Serve(CommandMessage& message);
    void Post(const std::string& device, std::int64_t code, void* extra, std::int64_t value2 = 0,
              std::int64_t value3 = 0);
    Book& BookOf(const std::string& device);
    void Enqueue(std::unique_ptr<Job> job);
    // Composes and sends the job's request; a job that could not be sent ends as one without a reply.
    bool Dispatch(std::unique_ptr<Job> job);
    void StartNextWrite();
    void Finish(std::uint64_t id, std::int64_t code);
    void EmptyPage(const std::string& device);

    RelayLink& m_link;
    std::map<std::string, std::unique_ptr<Book>> m_books;      // by device
    std::map<std::uint64_t, std::unique_ptr<Job>> m_inFlight;  // by request id
    std::deque<std::unique_ptr<Job>> m_writes;                 // waiting; the running one is in m_inFlight
    bool m_writeRunning = false;
    std::int64_t m_sequence = 0;  // of the last load (or emptying) of any device
};

}  // namespace relay
