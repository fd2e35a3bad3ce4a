// The relay stand-in's contacts fixture; see contacts_fixture.h.
#include "contacts_fixture.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <vornel/VNLTakeText.h>

#include "command_names.h"
#include "contact_codes.h"
#include "contact_records.h"
#include "item_batch.h"
#include "wide_pair.h"
#include "relay_feature.h"

namespace relay {
namespace {

using namespace sdk::contacts;

constexpr UINT kDeliver = WM_APP + 17;
constexpr size_t kMaxFixtureBytes = 64 * 1024 * 1024;  // a fixture is made by a script; anything larger is a mistake

std::wstring Wide(const rapidjson::Value& value) {
    return value.IsString() ? VNLTakeText(VNLUtilityString::ConvertUtf8ToUnicode(value.GetString())) : std::wstring();
}

std::wstring Field(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return std::wstring();
    auto it = object.FindMember(name);
    return it == object.MemberEnd() ? std::wstring() : Wide(it->value);
}

const rapidjson::Value* Array(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return nullptr;
    auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsArray() ? &it->value : nullptr;
}

std::wstring At(const rapidjson::Value& array, rapidjson::SizeType index) {
    return array.IsArray() && index < array.Size() ? Wide(array[index]) : std::wstring();
}

// [label key, label text, value] entries of one kind.
void ReadProperties(const rapidjson::Value& contact, const char* name, const wchar_t* kind,
                    std::vector<std::shared_ptr<iOSContactProperty>>& list) {
    const rapidjson::Value* entries = Array(contact, name);
    if (entries == nullptr) return;
    for (const auto& entry : entries->GetArray()) {
        auto property = std::make_shared<iOSContactProperty>();
        property->kind = kind;
        property->labelKey = At(entry, 0);
        property->labelText = At(entry, 1);
        property->value = At(entry, 2);
        list.push_back(property);
    }
}

std::shared_ptr<iOSContact> ReadContact(const rapidjson::Value& object) {
    auto c = std::make_shared<iOSContact>();
    c->identifier = Field(object, "id");
    c->firstName = Field(object, "first");
    c->middleName = Field(object, "middle");
    c->lastName = Field(object, "last");
    c->prefix = Field(object, "prefix");
    c->suffix = Field(object, "suffix");
    c->nickname = Field(object, "nickname");
    c->company = Field(object, "company");
    c->department = Field(object, "department");
    c->jobTitle = Field(object, "jobTitle");
    c->birthday = Field(object, "birthday");
    c->note = Field(object, "note");
    c->recordKind = L"person";
    ReadProperties(object, "phones", CONTACT_KIND_PHONE, c->phones);
    ReadProperties(object, "emails", CONTACT_KIND_EMAIL, c->emails);
    ReadProperties(object, "urls", CONTACT_KIND_URL, c->urls);
    ReadProperties(object, "dates", CONTACT_KIND_DATE, c->dates);
    ReadProperties(object, "related", CONTACT_KIND_RELATED_NAME, c->relatedNames);
    if (const rapidjson::Value* entries = Array(object, "im")) {
        for (const auto& entry : entries->GetArray()) {
            auto im = std::make_shared<iOSContactIM>();
            im->kind = CONTACT_KIND_IM;
            im->labelKey = L"other";
            im->service = At(entry, 0);
            im->labelText = At(entry, 1);
            im->userName = At(entry, 2);
            c->instantMessaging.push_back(im);
        }
    }
    if (const rapidjson::Value* entries = Array(object, "addresses")) {
        for (const auto& entry : entries->GetArray()) {
            auto address = std::make_shared<iOSContactAddress>();
            address->kind = CONTACT_KIND_ADDRESS;
            address->labelKey = At(entry, 0);
            address->labelText = At(entry, 1);
            address->street = At(entry, 2);
            address->city = At(entry, 3);
            address->state = At(entry, 4);
            address->postalCode = At(entry, 5);
            address->country = At(entry, 6);
            address->countryCode = At(entry, 7);
            c->addresses.push_back(address);
        }
    }
    return c;
}

std::unique_ptr<iOSContactGroup> ReadGroup(const rapidjson::Value& object) {
    auto group = std::make_unique<iOSContactGroup>();
    group->identifier = Field(object, "id");
    group->name = Field(object, "name");
    if (const rapidjson::Value* members = Array(object, "members")) {
        for (const auto& member : members->GetArray()) group->members.push_back(Wide(member));
    }
    return group;
}

using Answer = relay::RelayAnswer;

class Fixture final : public ContactsFixture {
public:
    explicit Fixture(ModuleRecord* record) : m_record(record) {}
    ~Fixture() override {
        if (m_window != nullptr) DestroyWindow(m_window);
    }

    bool Read(const rapidjson::Document& document) {
        if (!document.IsObject()) return false;
        if (const rapidjson::Value* contacts = Array(document, "contacts")) {
            for (const auto& contact : contacts->GetArray()) m_contacts.push_back(ReadContact(contact));
        }
        if (const rapidjson::Value* groups = Array(document, "groups")) {
            for (const auto& group : groups->GetArray()) m_groups.push_back(ReadGroup(group));
        }
        if (const rapidjson::Value* countries = Array(document, "countries")) {
            for (const auto& country : countries->GetArray()) m_countries.push_back({At(country, 0), At(country, 1)});
        }
        auto batch = document.FindMember("batchSize");
        if (batch != document.MemberEnd() && batch->value.IsInt() && batch->value.GetInt() > 0) {
            m_batchSize = static_cast<size_t>(batch->value.GetInt());
        }
        auto refuse = document.FindMember("refuseSaves");
        if (refuse != document.MemberEnd() && refuse->value.IsInt()) m_refuseSaves = refuse->value.GetInt();
        auto cloud = document.FindMember("cloud");
        m_cloud = cloud != document.MemberEnd() && cloud->value.IsBool() && cloud->value.GetBool();
        return true;
    }

    void Handle(CommandMessage& message) override {
        const std::string device =
            message.wideText != nullptr ? VNLTakeText(VNLUtilityString::ConvertUnicodeToUtf8(message.wideText)) : "";
        switch (message.code) {
        case kRelayQueryLoaded: message.status = m_loaded ? 1 : 0; break;
        case kRelayLoad: Load(device); break;
        case kRelayRemove:
            Remove(device,
                   std::unique_ptr<std::vector<std::wstring>>(static_cast<std::vector<std::wstring>*>(message.data)));
            break;
        case kRelayExportVcards:
        case kRelayBackupXml:
        case kRelayExportCsv:
        case kRelayImportXml: ReleasePayload(PayloadLeg::RelayRequest, message.code, message.data); break;
        case kRelayCountries:
            if (message.data != nullptr) {
                auto* list = static_cast<std::vector<WideStringPair>*>(message.data);
                list->insert(list->end(), m_countries.begin(), m_countries.end());
            }
            break;
        case kRelaySaveNew:
        case kRelaySaveEdited:
            Save(device, std::unique_ptr<iOSContact>(static_cast<iOSContact*>(message.data)),
                 message.code == kRelaySaveNew);
            break;
        case kRelayRemoveGroup: RemoveGroup(device, static_cast<wchar_t*>(message.data)); break;
        case kRelayCreateGroup:
        case kRelayChangeGroup:
            SaveGroup(device, std::unique_ptr<iOSContactGroup>(static_cast<iOSContactGroup*>(message.data)),
                      message.code);
            break;
        default: break;
        }
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kDeliver) return DefWindowProcW(window, message, wParam, lParam);
        auto* self = reinterpret_cast<Fixture*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        std::unique_ptr<Answer> answer(reinterpret_cast<Answer*>(lParam));
        try {
            if (self != nullptr && answer != nullptr) self->Deliver(*answer);
        } catch (...) {
        }
        return 0;
    }

    bool EnsureWindow() {
        if (m_window != nullptr) return true;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &Fixture::WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TrevaneRelayFixture";
        RegisterClassW(&windowClass);  // a second fixture finds it registered
        m_window = CreateWindowExW(0, L"TrevaneRelayFixture", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        if (m_window == nullptr) return false;
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return true;
    }

    void Post(const std::string& device, int64_t code, void* extra, int64_t value2 = 0, int64_t value3 = 0) {
        auto answer = std::make_unique<Answer>();
        answer->code = code;
        answer->payload = extra;
        answer->release = &ReleasePayload;
        answer->resultOrCount = value2;
        answer->count = value3;
        answer->device = device;
        if (EnsureWindow() && PostMessageW(m_window, kDeliver, 0, reinterpret_cast<LPARAM>(answer.get()))) {
            answer.release();  // the window's now
            return;
        }
        relay::ReleaseRelayAnswer(*answer);
    }

    void Deliver(const Answer& answer) {
        CommandMessage message{};
        message.kind = COMMAND_KIND_INVOKE;
        message.name = ZERITH_COMMAND_DO_CONTACT;
        message.code = answer.code;
        message.text = answer.device.c_str();
        message.extra = answer.payload;  // the host's, and then the page's
        message.value2 = answer.resultOrCount;
        message.value3 = answer.count;
        m_record->send(&message);
    }

    void Load(const std::string& device) {
        m_loaded = true;
        const int64_t count = static_cast<int64_t>(m_contacts.size());
        Post(device, kRelayCloudState, nullptr, 0, m_cloud ? -1 : count);
        if (m_cloud) return;
        ++m_sequence;
        for (size_t first = 0; first < m_contacts.size(); first += m_batchSize) {
            auto* batch = new ItemBatch<iOSContact>();
            batch->sequence = m_sequence;
            for (size_t i = first; i < m_contacts.size() && i < first + m_batchSize; ++i) {
                batch->items.push_back(std::make_shared<iOSContact>(*m_contacts[i]));
            }
            Post(device, kRelayContactsBatch, batch);
        }
        if (m_contacts.empty()) {
            auto* empty = new ItemBatch<iOSContact>();
            empty->sequence = m_sequence;
            Post(device, kRelayContactsBatch, empty);
        }
        auto* groups = new ItemBatch<iOSContactGroup>();
        groups->sequence = ++m_groupSequence;
        for (const auto& group : m_groups) groups->items.push_back(std::make_shared<iOSContactGroup>(*group));
        Post(device, kRelayGroupsBatch, groups);
        Post(device, kRelayContactsBatch, nullptr);  // loading finished
    }

    void Remove(const std::string& device, std::unique_ptr<std::vector<std::wstring>> identifiers) {
        if (!identifiers) return;
        for (const std::wstring& identifier : *identifiers) {
            for (auto it = m_contacts.begin(); it != m_contacts.end(); ++it) {
                if ((*it)->identifier != identifier) continue;
                m_contacts.erase(it);
                Post(device, kRelayContactRemoved, _wcsdup(identifier.c_str()),
                     static_cast<int64_t>(m_contacts.size()));
                break;
            }
        }
    }

    void Save(const std::string& device, std::unique_ptr<iOSContact> contact, bool isNew) {
        if (!contact) return;
        if (m_refuseSaves > 0) {
            --m_refuseSaves;  // a save the device did not take: no answer, the editor stays open
            return;
        }
        if (isNew) contact->identifier = L"new-" + std::to_wstring(++m_newContacts);
        std::shared_ptr<iOSContact> saved(contact.release());
        bool replaced = false;
        for (auto& held : m_contacts) {
            if (held->identifier == saved->identifier) {
                held = saved;
                replaced = true;
            }
        }
        if (!replaced) m_contacts.push_back(saved);
        Post(device, kRelaySaved, nullptr);
        Post(device, kRelayContactAdded, new std::shared_ptr<iOSContact>(std::make_shared<iOSContact>(*saved)), 0,
             static_cast<int64_t>(m_contacts.size()));
    }

    void RemoveGroup(const std::string& device, wchar_t* identifier) {
        std::unique_ptr<wchar_t, decltype(&std::free)> owner(identifier, &std::free);
        if (owner == nullptr) return;
        for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
            if ((*it)->identifier != owner.get()) continue;
            m_groups.erase(it);
            Post(device, kRelayGroupRemoved, _wcsdup(owner.get()));
            return;
        }
    }

    void SaveGroup(const std::string& device, std::unique_ptr<iOSContactGroup> group, int64_t request) {
        if (!group) return;
        if (request == kRelayCreateGroup) {
            group->identifier = L"group-" + std::to_wstring(++m_newGroups);
            m_groups.push_back(std::make_unique<iOSContactGroup>(*group));
            Post(device, kRelayGroupCreated, group.release());
            return;
        }
        for (auto& held : m_groups) {
            if (held->identifier == group->identifier) *held = *group;
        }
        Post(device, kRelayGroupChanged, group.release());
    }

    ModuleRecord* m_record;
    HWND m_window = nullptr;
    std::vector<std::shared_ptr<iOSContact>> m_contacts;
    std::vector<std::unique_ptr<iOSContactGroup>> m_groups;
    std::vector<WideStringPair> m_countries;
    size_t m_batchSize = 100;
    int m_refuseSaves = 0;
    bool m_cloud = false;
    bool m_loaded = false;
    int64_t m_sequence = 0;
    int64_t m_groupSequence = 0;
    int m_newContacts = 0;
    int m_newGroups = 0;
};

}  // namespace

std::unique_ptr<ContactsFixture> ContactsFixture::Load(const std::wstring& path, ModuleRecord* record) {
    FILE* raw = _wfopen(path.c_str(), L"rb");
    if (raw == nullptr) {
        std::fprintf(stderr, "relay fixture: cannot open the fixture\n");
        return nullptr;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    std::string text;
    char buffer[65536];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        text.append(buffer, got);
        if (text.size() > kMaxFixtureBytes) return nullptr;
    }
    rapidjson::Document document;
    document.Parse(text.c_str());
    auto fixture = std::make_unique<Fixture>(record);
    if (document.HasParseError() || !fixture->Read(document)) {
        std::fprintf(stderr, "relay fixture: not a fixture\n");
        return nullptr;
    }
    return fixture;
}

}  // namespace relay
