// The relay module's contacts in service mode; see relay_contacts.h.
#include "relay_contacts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "command_names.h"
#include "contact_codes.h"
#include "item_batch.h"
#include "wide_pair.h"
#include "relay_contacts_codec.h"
#include "relay_contacts_files.h"
#include "vnl_utf8.h"

namespace relay {

using namespace sdk::contacts;

namespace {

// Request codes of the device service's contacts module.
constexpr std::uint32_t kListContacts = 100;
constexpr std::uint32_t kListGroups = 101;  // packet command of the group replies of a listing
constexpr std::uint32_t kWriteContact = 102;
constexpr std::uint32_t kDeleteContact = 103;
constexpr std::uint32_t kWriteGroup = 104;
constexpr std::uint32_t kDeleteGroup = 105;
constexpr std::uint32_t kWriteGroupMembers = 106;
constexpr std::int64_t kNoReply = -1;  // the request ended without a final reply

// The countries an address label offers: (key as the device stores it, display text).
// clang-format off
const wchar_t* const kCountries[][2] = {
    {L"ar", L"Argentina"},     {L"au", L"Australia"},      {L"at", L"Austria"},
    {L"be", L"Belgium"},       {L"br", L"Brazil"},         {L"ca", L"Canada"},
    {L"cl", L"Chile"},         {L"cn", L"China"},          {L"co", L"Colombia"},
    {L"cz", L"Czech Republic"}, {L"dk", L"Denmark"},       {L"eg", L"Egypt"},
    {L"fi", L"Finland"},       {L"fr", L"France"},         {L"de", L"Germany"},
    {L"gr", L"Greece"},        {L"hk", L"Hong Kong"},      {L"hu", L"Hungary"},
    {L"in", L"India"},         {L"id", L"Indonesia"},      {L"ie", L"Ireland"},
    {L"il", L"Israel"},        {L"it", L"Italy"},          {L"jp", L"Japan"},
    {L"kr", L"Korea"},         {L"lu", L"Luxembourg"},     {L"my", L"Malaysia"},
    {L"mx", L"Mexico"},        {L"nl", L"Netherlands"},    {L"nz", L"New Zealand"},
    {L"no", L"Norway"},        {L"pe", L"Peru"},           {L"ph", L"Philippines"},
    {L"pl", L"Poland"},        {L"pt", L"Portugal"},       {L"ro", L"Romania"},
    {L"ru", L"Russia"},        {L"sa", L"Saudi Arabia"},   {L"sg", L"Singapore"},
    {L"za", L"South Africa"},  {L"es", L"Spain"},          {L"se", L"Sweden"},
    {L"ch", L"Switzerland"},   {L"tw", L"Taiwan"},         {L"th", L"Thailand"},
    {L"tr", L"Turkey"},        {L"ua", L"Ukraine"},        {L"ae", L"United Arab Emirates"},
    {L"gb", L"United Kingdom"}, {L"us", L"United States"}, {L"vn", L"Vietnam"},
};
// clang-format on

using ContactPtr = std::shared_ptr<iOSContact>;
using GroupPtr = std::shared_ptr<iOSContactGroup>;

}  // namespace

// A device's contacts and groups as last listed and changed.
struct ContactsService::Book {
    std::vector<ContactPtr> contacts;
    std::vector<GroupPtr> groups;
    ListedFields otherFields;  // by record id, sent back with each write
    bool loaded = false;

    ContactPtr FindContact(const std::wstring& identifier) const {
        for (const ContactPtr& contact : contacts) {
            if (contact->identifier == identifier) return contact;
        }
        return nullptr;
    }
    GroupPtr FindGroup(const std::wstring& identifier) const {
        for (const GroupPtr& group : groups) {
            if (group->identifier == identifier) return group;
        }
        return nullptr;
    }
};

// One request to the service and what its replies mean.
struct ContactsService::Job {
    explicit Job(std::string forDevice, bool write = true) : device(std::move(forDevice)), isWrite(write) {}
    virtual ~Job() = default;
    virtual std::uint32_t Code() const = 0;
    // The request's data part, composed right before the request is sent, so that a write builds on the
    // records as the writes before it left them. False: the request has nothing left to do (it ends as
    // one that got no reply).
    virtual bool Compose(ContactsService&, std::string& data) {
        data.clear();
        return true;
    }
    // A reply before the last one.
    virtual void OnPart(ContactsService&, const Packet&, const ReplyFrame&, const std::string&) {}
    // The last reply's code, or kNoReply.
    virtual void OnFinal(ContactsService& service, std::int64_t code) = 0;

    std::string device;
    bool isWrite;
};

namespace {

using Service = ContactsService;

class ListJob final : public ContactsService::Job {
public:
    ListJob(std::string forDevice, std::int64_t sequence) : Job(std::move(forDevice), false), m_sequence(sequence) {}
    std::uint32_t Code() const override { return kListContacts; }

    void OnPart(Service& service, const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    void OnFinal(Service& service, std::int64_t code) override;

private:
    std::int64_t m_sequence;
    std::vector<ContactPtr> m_contacts;
    std::vector<GroupPtr> m_groups;
    ListedFields m_otherFields;
    bool m_sentBatch = false;
};

}  // namespace

// The service's private helpers that the jobs use.
struct JobAccess {
    static void Post(Service& service, const std::string& device, std::int64_t code, void* extra,
                     std::int64_t value2 = 0, std::int64_t value3 = 0);
    static Service::Book& BookOf(Service& service, const std::string& device);
    static void Enqueue(Service& service, std::unique_ptr<Service::Job> job);
};

namespace {

template <typename Item>
ItemBatch<Item>* CopiedBatch(std::int64_t sequence, const std::vector<std::shared_ptr<Item>>& items) {
    auto batch = std::make_unique<ItemBatch<Item>>();
    batch->sequence = sequence;
    for (const auto& item : items) batch->items.push_back(std::make_shared<Item>(*item));
    return batch.release();
}

void ListJob::OnPart(Service& service, const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    if (packet.header.command == kListGroups && frame.stage == 1) {
        (void)ReadGroupBatch(data, m_groups);
        return;
    }
    if (packet.header.command != kListContacts) return;
    if (frame.stage == 0) {
        // The count: negative while the device keeps its contacts with an online account.
        JsonObjectView info;
        std::int64_t count = 0;
        if (frame.hasInfo && info.Parse(frame.infoJson) && info.GetInteger("Count", count)) {
            JobAccess::Post(service, device, kRelayCloudState, nullptr, 0, count);
        }
        return;
    }
    std::vector<ContactPtr> batch;
    if (!ReadContactBatch(data, batch, &m_otherFields)) return;
    m_contacts.insert(m_contacts.end(), batch.begin(), batch.end());
    JobAccess::Post(service, device, kRelayContactsBatch, CopiedBatch(m_sequence, batch));
    m_sentBatch = true;
}

void ListJob::OnFinal(Service& service, std::int64_t code) {
    if (code == 0) {
        Service::Book& book = JobAccess::BookOf(service, device);
        book.contacts = std::move(m_contacts);
        book.groups = std::move(m_groups);
        book.otherFields = std::move(m_otherFields);
        book.loaded = true;
        if (!m_sentBatch) {
            // No contacts at all: an empty batch of this load still clears what the page showed.
            JobAccess::Post(service, device, kRelayContactsBatch, CopiedBatch<iOSContact>(m_sequence, {}));
        }
        JobAccess::Post(service, device, kRelayGroupsBatch, CopiedBatch(m_sequence, book.groups));
    }
    JobAccess::Post(service, device, kRelayContactsBatch, nullptr);  // loading finished
}

class RemoveContactJob final : public ContactsService::Job {
public:
    RemoveContactJob(std::string forDevice, std::wstring identifier)
        : Job(std::move(forDevice)), m_identifier(std::move(identifier)) {}
    std::uint32_t Code() const override { return kDeleteContact; }
    bool Compose(Service&, std::string& data) override {
        data = ComposeDeleteData(m_identifier);
        return true;
    }

    void OnFinal(Service& service, std::int64_t code) override {
        if (code != 0) return;
        Service::Book& book = JobAccess::BookOf(service, device);
        auto& list = book.contacts;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [this](const ContactPtr& c) { return c->identifier == m_identifier; }),
                   list.end());
        book.otherFields.erase(m_identifier);
        for (const GroupPtr& group : book.groups) {
            auto& members = group->members;
            members.erase(std::remove(members.begin(), members.end(), m_identifier), members.end());
        }
        JobAccess::Post(service, device, kRelayContactRemoved, HeapCopy(m_identifier),
                        static_cast<std::int64_t>(list.size()));
    }

private:
    std::wstring m_identifier;
};

// Creates (104, or 106 when it starts with members), renames or refills (106) a group; or adds one
// contact to a group the relay holds, or takes it out (106), with the members the group has when the
// request is sent, so that the writes queued before it are not undone.
class WriteGroupJob final : public ContactsService::Job {
public:
    WriteGroupJob(std::string forDevice, std::unique_ptr<iOSContactGroup> group, bool isNew)
        : Job(std::move(forDevice)), m_group(std::move(group)), m_isNew(isNew) {}
    WriteGroupJob(std::string forDevice, std::wstring groupId, std::wstring contactId, bool add)
        : Job(std::move(forDevice)), m_isNew(false), m_membership{std::move(groupId), std::move(contactId), add} {}
    std::uint32_t Code() const override {
        return m_isNew && m_group->members.empty() ? kWriteGroup : kWriteGroupMembers;
    }
    bool Compose(Service& service, std::string& data) override {
        if (!m_group && !ApplyMembership(service)) return false;
        if (m_isNew) {
            m_key = !m_group->guidText.empty() ? m_group->guidText : NewTemporaryId();
        } else {
            m_key = vnl::Utf8FromWide(m_group->identifier);
        }
        data = ComposeGroupData(*m_group, m_key, Code() == kWriteGroupMembers);
        return true;
    }
    void OnPart(Service&, const Packet&, const ReplyFrame&, const std::string& data) override { m_reply = data; }

    void OnFinal(Service& service, std::int64_t code) override {
        const std::string deviceId = code == 0 && m_group ? ReadGroupReply(m_reply, m_key) : std::string();
        if (deviceId.empty()) return;  // the group stays as the page had it before
        m_group->identifier = vnl::WideFromUtf8(deviceId);
        Service::Book& book = JobAccess::BookOf(service, device);
        if (GroupPtr held = book.FindGroup(m_group->identifier)) {
            held->name = m_group->name;
            held->members = m_group->members;
        } else {
            book.groups.push_back(std::make_shared<iOSContactGroup>(*m_group));
        }
        JobAccess::Post(service, device, m_isNew ? kRelayGroupCreated : kRelayGroupChanged, m_group.release());
    }

private:
    struct Membership {
        std::wstring groupId;
        std::wstring contactId;
        bool add = false;
    };

    // The held group with the membership change made; false when there is no such group any more or the
    // change is made already.
    bool ApplyMembership(Service& service) {
        GroupPtr held = JobAccess::BookOf(service, device).FindGroup(m_membership.groupId);
        if (!held) return false;
        auto group = std::make_unique<iOSContactGroup>(*held);
        auto& members = group->members;
        const bool isMember = std::find(members.begin(), members.end(), m_membership.contactId) != members.end();
        if (m_membership.add == isMember) return false;
        if (m_membership.add) {
            members.push_back(m_membership.contactId);
        } else {
            members.erase(std::remove(members.begin(), members.end(), m_membership.contactId), members.end());
        }
        m_group = std::move(group);
        return true;
    }

    std::unique_ptr<iOSContactGroup> m_group;
    bool m_isNew;
    Membership m_membership;
    std::string m_key;
    std::string m_reply;
};

class RemoveGroupJob final : public ContactsService::Job {
public:
    RemoveGroupJob(std::string forDevice, std::wstring identifier)
        : Job(std::move(forDevice)), m_identifier(std::move(identifier)) {}
    std::uint32_t Code() const override { return kDeleteGroup; }
    bool Compose(Service&, std::string& data) override {
        data = ComposeDeleteData(m_identifier);
        return true;
    }

    void OnFinal(Service& service, std::int64_t code) override {
        if (code != 0) return;
        auto& groups = JobAccess::BookOf(service, device).groups;
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [this](const GroupPtr& g) { return g->identifier == m_identifier; }),
                     groups.end());
        JobAccess::Post(service, device, kRelayGroupRemoved, HeapCopy(m_identifier));
    }

private:
    std::wstring m_identifier;
};

class SaveContactJob final : public ContactsService::Job {
public:
    // `fromEditor`: the editor waits for the save and closes when it is answered; an imported contact
    // has no editor.
    SaveContactJob(std::string forDevice, std::unique_ptr<iOSContact> contact, bool fromEditor = true)
        : Job(std::move(forDevice)), m_contact(std::move(contact)), m_fromEditor(fromEditor) {}
    std::uint32_t Code() const override { return kWriteContact; }
    bool Compose(Service& service, std::string& data) override {
        const Service::Book& book = JobAccess::BookOf(service, device);
        ContactPtr held;
        if (!m_contact->identifier.empty()) held = book.FindContact(m_contact->identifier);
        m_write = ComposeContactWrite(*m_contact, held.get(), NewTemporaryId, SharedValuesOf(book.contacts),
                                      book.otherFields);
        data = m_write.dataJson;
        return true;
    }
    void OnPart(Service&, const Packet&, const ReplyFrame&, const std::string& data) override { m_reply = data; }

    void OnFinal(Service& service, std::int64_t code) override {
        // A save the device did not take gets no answer: the editor stays open for another try.
        if (code != 0 || !ApplyContactRemap(m_reply, m_write, *m_contact)) return;
        Service::Book& book = JobAccess::BookOf(service, device);
        ContactPtr saved(m_contact.release());
        bool replaced = false;
        for (ContactPtr& held : book.contacts) {
            if (held->identifier == saved->identifier) {
                held = saved;
                replaced = true;
            }
        }
        if (!replaced) book.contacts.push_back(saved);
        if (m_fromEditor) JobAccess::Post(service, device, kRelaySaved, nullptr);
        JobAccess::Post(service, device, kRelayContactAdded, new ContactPtr(std::make_shared<iOSContact>(*saved)), 0,
                        static_cast<std::int64_t>(book.contacts.size()));
        UpdateGroups(service, *saved);
    }

private:
    // The groups the editor added the contact to or took it out of are written with their new members.
    void UpdateGroups(Service& service, const iOSContact& saved) {
        for (const std::wstring& id : saved.groupsAdded) {
            JobAccess::Enqueue(service, std::make_unique<WriteGroupJob>(device, id, saved.identifier, true));
        }
        for (const std::wstring& id : saved.groupsRemoved) {
            JobAccess::Enqueue(service, std::make_unique<WriteGroupJob>(device, id, saved.identifier, false));
        }
    }

    std::unique_ptr<iOSContact> m_contact;
    bool m_fromEditor;
    ContactWrite m_write;
    std::string m_reply;
};

}  // namespace

void JobAccess::Post(Service& service, const std::string& device, std::int64_t code, void* extra, std::int64_t value2,
                     std::int64_t value3) {
    service.Post(device, code, extra, value2, value3);
}
Service::Book& JobAccess::BookOf(Service& service, const std::string& device) { return service.BookOf(device); }
void JobAccess::Enqueue(Service& service, std::unique_ptr<Service::Job> job) { service.Enqueue(std::move(job)); }

ContactsService::ContactsService(RelayLink& link) : m_link(link) {}
ContactsService::~ContactsService() = default;

void ContactsService::Post(const std::string& device, std::int64_t code, void* extra, std::int64_t value2,
                           std::int64_t value3) {
    RelayAnswer answer;
    answer.device = device;
    answer.code = code;
    answer.payload = extra;
    answer.release = &ReleasePayload;
    answer.resultOrCount = value2;
    answer.count = value3;
    m_link.Answer(answer);
}

ContactsService::Book& ContactsService::BookOf(const std::string& device) {
    std::unique_ptr<Book>& book = m_books[device];
    if (!book) book = std::make_unique<Book>();
    return *book;
}

void ContactsService::Enqueue(std::unique_ptr<Job> job) {
    m_writes.push_back(std::move(job));
    StartNextWrite();
}

bool ContactsService::Dispatch(std::unique_ptr<Job> job) {
    std::string data;
    const std::uint64_t id = job->Compose(*this, data) ? m_link.SendRequest(job->Code(), job->device, data) : 0;
    if (id == 0) {
        job->OnFinal(*this, kNoReply);
        return false;
    }
    m_inFlight[id] = std::move(job);
    return true;
}

void ContactsService::StartNextWrite() {
    while (!m_writeRunning && !m_writes.empty()) {
        std::unique_ptr<Job> job = std::move(m_writes.front());
        m_writes.pop_front();
        m_writeRunning = Dispatch(std::move(job));
    }
}

void ContactsService::Finish(std::uint64_t id, std::int64_t code) {
    auto it = m_inFlight.find(id);
    if (it == m_inFlight.end()) return;
    std::unique_ptr<Job> job = std::move(it->second);
    m_inFlight.erase(it);
    job->OnFinal(*this, code);
    if (job->isWrite) {
        m_writeRunning = false;
        StartNextWrite();
    }
}

bool ContactsService::Handle(CommandMessage& message) {
    if (message.name == nullptr || std::strcmp(message.name, ZERITH_COMMAND_DO_CONTACT) != 0) return false;
    Serve(message);
    return true;
}

void ContactsService::Serve(CommandMessage& message) {
    if ((static_cast<std::uint64_t>(message.code) >> 32) != 0) return;  // not ours: its payload is unknown
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    switch (message.code) {
    case kRelayQueryLoaded: {
        auto book = m_books.find(device);
        message.status = book != m_books.end() && book->second->loaded ? 1 : 0;
        return;
    }
    case kRelayLoad: {
        if (device.empty()) return;
        (void)Dispatch(std::make_unique<ListJob>(device, ++m_sequence));  // a listing does not wait for writes
        return;
    }
    case kRelayRemove: {
        std::unique_ptr<std::vector<std::wstring>> identifiers(static_cast<std::vector<std::wstring>*>(message.data));
        if (!identifiers || device.empty()) return;
        for (const std::wstring& identifier : *identifiers) {
            Enqueue(std::make_unique<RemoveContactJob>(device, identifier));
        }
        return;
    }
    case kRelayExportVcards:
    case kRelayBackupXml:
    case kRelayExportCsv: {
        // The records stay the page's: they are written out before the call returns.
        std::unique_ptr<std::vector<iOSContact*>> records(static_cast<std::vector<iOSContact*>*>(message.data));
        const auto* folder = static_cast<const wchar_t*>(message.extra);
        if (!records || folder == nullptr) return;
        std::vector<const iOSContact*> contacts;
        for (const iOSContact* contact : *records) {
            if (contact != nullptr) contacts.push_back(contact);
        }
        bool written = false;
        if (message.code == kRelayExportVcards) {
            written = WriteExport(m_link, folder, kVcardsFileName, ComposeVcards(contacts));
        } else if (message.code == kRelayExportCsv) {
            written = WriteExport(m_link, folder, kCsvFileName, ComposeCsv(contacts));
        } else {
            written = WriteExport(m_link, folder, kXmlBackupFileName, ComposeXmlBackup(contacts));
        }
        message.status = written ? kExportWritten : kExportNotWritten;
        return;
    }
    case kRelayImportXml: {
        std::unique_ptr<std::vector<std::wstring>> paths(static_cast<std::vector<std::wstring>*>(message.data));
        if (!paths || device.empty()) return;
        for (const std::wstring& path : *paths) {
            std::string bytes;
            std::vector<std::shared_ptr<iOSContact>> imported;
            std::string error;
            if (!m_link.ReadWholeFile(path, kMaxBackupBytes, bytes) || !ReadXmlBackup(bytes, imported, error)) continue;
            for (const auto& contact : imported) {
                Enqueue(std::make_unique<SaveContactJob>(device, std::make_unique<iOSContact>(*contact), false));
            }
        }
        return;
    }
    case kRelayCountries:
        if (auto* list = static_cast<std::vector<WideStringPair>*>(message.data)) {
            for (const auto& country : kCountries) list->emplace_back(country[0], country[1]);
        }
        return;
    case kRelaySaveNew:
    case kRelaySaveEdited: {
        std::unique_ptr<iOSContact> contact(static_cast<iOSContact*>(message.data));
        if (!contact || device.empty()) return;
        if (message.code == kRelaySaveNew) contact->identifier.clear();
        Enqueue(std::make_unique<SaveContactJob>(device, std::move(contact)));
        return;
    }
    case kRelayRemoveGroup: {
        std::unique_ptr<wchar_t, decltype(&std::free)> identifier(static_cast<wchar_t*>(message.data), &std::free);
        if (!identifier || device.empty()) return;
        Enqueue(std::make_unique<RemoveGroupJob>(device, identifier.get()));
        return;
    }
    case kRelayCreateGroup:
    case kRelayChangeGroup: {
        std::unique_ptr<iOSContactGroup> group(static_cast<iOSContactGroup*>(message.data));
        if (!group || device.empty()) return;
        if (message.code == kRelayChangeGroup && group->identifier.empty()) return;  // nothing to change
        Enqueue(std::make_unique<WriteGroupJob>(device, std::move(group), message.code == kRelayCreateGroup));
        return;
    }
    default: return;
    }
}

bool ContactsService::OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) {
    auto it = m_inFlight.find(packet.header.id);
    if (it == m_inFlight.end()) return false;
    if (IsLastReply(packet.header)) {
        Finish(packet.header.id, frame.code);
    } else {
        it->second->OnPart(*this, packet, frame, data);
    }
    return true;
}

void ContactsService::EmptyPage(const std::string& device) {
    const std::int64_t sequence = ++m_sequence;
    Post(device, kRelayCloudState, nullptr, 0, 0);
    Post(device, kRelayContactsBatch, CopiedBatch<iOSContact>(sequence, {}));
    Post(device, kRelayGroupsBatch, CopiedBatch<iOSContactGroup>(sequence, {}));
    Post(device, kRelayContactsBatch, nullptr);
}

void ContactsService::OnDeviceGone(const std::string& device) {
    m_writes.erase(std::remove_if(m_writes.begin(), m_writes.end(),
                                  [&device](const std::unique_ptr<Job>& job) { return job->device == device; }),
                   m_writes.end());
    m_books.erase(device);
    EmptyPage(device);
}

void ContactsService::OnServiceGone() {
    m_writes.clear();
    std::map<std::uint64_t, std::unique_ptr<Job>> inFlight;
    inFlight.swap(m_inFlight);
    m_writeRunning = false;
    for (auto& entry : inFlight) entry.second->OnFinal(*this, kNoReply);
    m_writes.clear();  // writes that the failures above queued have nowhere to go either
}

}  // namespace relay
