// The relay's features as the link consults them: a command or reply goes to the first feature that takes
// it, a device's or the service's loss to every one once; the real features take disjoint commands, so
// their order changes nothing but the order of their answers; and the service's loss ends what each has
// in flight.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command_names.h"
#include "contact_codes.h"
#include "note_codes.h"
#include "relay_actions.h"
#include "relay_backups.h"
#include "relay_contacts.h"
#include "relay_drivers.h"
#include "relay_exports.h"
#include "relay_feature.h"
#include "relay_features.h"
#include "relay_lists.h"
#include "relay_rename.h"
#include "relay_test_link.h"
#include "wide_pair.h"

namespace {

using namespace relay;
using trv::test::FakeBackupFiles;
using trv::test::FakeLink;

// A feature that records what reaches it in `calls` and takes what it is told to.
class Recorder final : public RelayFeature {
public:
    Recorder(std::string name, std::vector<std::string>& calls) : m_name(std::move(name)), m_calls(calls) {}
    bool Handle(CommandMessage&) override {
        m_calls.push_back(m_name + " command");
        return takesCommands;
    }
    bool OnReply(const Packet&, const ReplyFrame&, const std::string&) override {
        m_calls.push_back(m_name + " reply");
        return takesReplies;
    }
    void OnDeviceGone(const std::string& device) override { m_calls.push_back(m_name + " device " + device); }
    void OnServiceGone() override { m_calls.push_back(m_name + " gone"); }

    bool takesCommands = false;
    bool takesReplies = false;

private:
    std::string m_name;
    std::vector<std::string>& m_calls;
};

struct Recorders {
    std::vector<std::string> calls;
    Recorder first{"first", calls}, second{"second", calls}, third{"third", calls};
    RelayFeatureList list{{&first, &second, &third}};
};

TEST(RelayFeatureList, ACommandOrReplyGoesInOrderToTheFirstFeatureThatTakesIt) {
    Recorders r;
    r.second.takesCommands = true;
    r.third.takesCommands = true;  // never asked: the second takes it first
    CommandMessage message{};
    EXPECT_TRUE(r.list.Handle(message));
    EXPECT_EQ(r.calls, (std::vector<std::string>{"first command", "second command"}));

    r.calls.clear();
    r.first.takesReplies = true;
    EXPECT_TRUE(r.list.OnReply(Packet(), ReplyFrame(), ""));
    EXPECT_EQ(r.calls, (std::vector<std::string>{"first reply"}));

    // What none takes was offered to each, in order, and is reported as not taken.
    r.calls.clear();
    r.second.takesCommands = r.third.takesCommands = r.first.takesReplies = false;
    EXPECT_FALSE(r.list.Handle(message));
    EXPECT_FALSE(r.list.OnReply(Packet(), ReplyFrame(), ""));
    EXPECT_EQ(r.calls, (std::vector<std::string>{"first command", "second command", "third command", "first reply",
                                                 "second reply", "third reply"}));
}

TEST(RelayFeatureList, TheLossOfADeviceOrOfTheServiceReachesEveryFeatureOnceInOrder) {
    Recorders r;
    r.first.takesCommands = r.first.takesReplies = true;  // taking commands does not stop a loss
    r.list.OnDeviceGone("udid-1");
    r.list.OnServiceGone();
    EXPECT_EQ(r.calls, (std::vector<std::string>{"first device udid-1", "second device udid-1", "third device udid-1",
                                                 "first gone", "second gone", "third gone"}));
}

// Every name the features answer, for the sweep below.
// clang-format off
const char* const kFeatureNames[] = {
    ZERITH_COMMAND_DO_CONTACT,  ZERITH_COMMAND_DO_NOTE,      ZERITH_COMMAND_DO_BOOKMARK, ZERITH_COMMAND_DO_CALENDAR,
    ZERITH_COMMAND_DO_SMS,      ZERITH_COMMAND_DO_MUSIC,     ZERITH_COMMAND_DO_MEDIA,    ZERITH_COMMAND_DO_VIDEO,
    ZERITH_COMMAND_DO_BOOK,     ZERITH_COMMAND_DO_ITUNES,    ZERITH_COMMAND_DO_RINGTONE, ZERITH_COMMAND_DO_RECORDING,
    ZERITH_COMMAND_DO_PHOTO,    ZERITH_COMMAND_DO_APP,       ZERITH_COMMAND_DO_BASICINFO, ZERITH_COMMAND_DO_FILE,
    ZERITH_COMMAND_DO_BACKUP,   ZERITH_COMMAND_DO_CANCEL,    ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER,
};
// clang-format on

TEST(RelayFeatures, NoTwoFeaturesTakeTheSameCommand) {
    // Each feature on its own is asked every name with every code (no payloads, a device named); a command
    // that two took would make the link's order decide between them.
    FakeLink link;
    FakeBackupFiles files;
    DeviceTable devices;
    ContactsService contacts{link};
    ListsService lists{link};
    ActionsService actions{link, lists};
    RenameService renames{link, devices};
    ExportService exports{link};
    DriverService drivers{link};
    BackupService backups{link, files};
    const std::vector<std::pair<const char*, RelayFeature*>> features = {
        {"contacts", &contacts}, {"lists", &lists},     {"actions", &actions}, {"renames", &renames},
        {"exports", &exports},   {"drivers", &drivers}, {"backups", &backups}};
    std::wstring device = L"udid-1";
    int taken = 0;
    for (const char* name : kFeatureNames) {
        for (std::int64_t code = 0; code <= 300; ++code) {
            std::vector<std::string> takers;
            for (const auto& feature : features) {
                CommandMessage message{};
                message.name = name;
                message.code = code;
                message.wideText = &device[0];
                if (feature.second->Handle(message)) takers.push_back(feature.first);
                delete static_cast<std::vector<std::wstring>*>(message.extra);  // the default backup folder's answer
            }
            EXPECT_LE(takers.size(), 1u) << name << " " << code << " taken by " << takers.front() << " and "
                                         << takers.back();
            taken += takers.empty() ? 0 : 1;
        }
        link.Clear();
    }
    EXPECT_GT(taken, 30) << "the sweep reaches the features";
}

// One request to each feature through the link's features, as the host would send them.
struct Loaded {
    FakeLink link;
    FakeBackupFiles files;
    DeviceTable devices;
    RelayFeatures features{link, devices, files};
    std::wstring device = L"udid-1";

    void Ask(const char* name, std::int64_t code, void* data = nullptr, void* extra = nullptr,
             const char* text = nullptr) {
        CommandMessage message{};
        message.name = name;
        message.code = code;
        message.wideText = &device[0];
        message.data = data;
        message.extra = extra;
        message.text = text;
        const std::size_t before = link.requests.size();
        EXPECT_TRUE(features.Handle(message)) << name << " " << code;
        EXPECT_EQ(link.requests.size(), before + 1) << name << " " << code << " sent one request";
    }
    std::size_t AnswersUnder(const char* name, std::int64_t code) const {
        std::size_t count = 0;
        for (const RelayAnswer& answer : link.answers) {
            if (answer.name != nullptr && std::string(answer.name) == name && answer.code == code) ++count;
        }
        return count;
    }
};

TEST(RelayFeatures, TheServiceLostEndsWhatEveryFeatureHasInFlightOnce) {
    Loaded r;
    WideStringPair note(L"Title", L"Text");
    std::wstring newName = L"Kitchen";
    std::wstring folder = L"Z:\\out";
    r.Ask(ZERITH_COMMAND_DO_CONTACT, sdk::contacts::kRelayLoad);
    r.Ask(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayLoad);
    r.Ask(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelaySave, &note);
    r.Ask(ZERITH_COMMAND_DO_BASICINFO, kRenameCode, nullptr, &newName[0]);
    r.Ask(ZERITH_COMMAND_DO_FILE, kExportFilesCode, new std::vector<WideStringPair>{{L"a.m4a", L"/Recordings/a.m4a"}},
          &folder[0]);
    r.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER, 0, nullptr, nullptr, "http://drivers.example/");
    r.Ask(ZERITH_COMMAND_DO_BACKUP, 136);
    const std::vector<trv::test::SentRequest> asked = r.link.requests;
    ASSERT_EQ(asked.size(), 7u);
    r.link.Clear();

    r.features.OnServiceGone();
    // The listing, the export, the backup list and the driver download each end once, as failed.
    EXPECT_EQ(r.AnswersUnder(ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayLoaded), 1u);
    EXPECT_EQ(r.AnswersUnder(ZERITH_COMMAND_DO_FILE, kExportFilesCode), 1u);
    EXPECT_EQ(r.AnswersUnder(ZERITH_COMMAND_DO_BACKUP, 136), 1u);
    EXPECT_EQ(r.AnswersUnder(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, 0), 1u);
    for (const RelayAnswer& answer : r.link.answers) {
        if (answer.name != nullptr && std::string(answer.name) == ZERITH_COMMAND_DO_FILE) {
            EXPECT_EQ(answer.resultOrCount, 2) << "the export failed";
        }
    }
    // The contacts listing ends: its page hears that loading finished.
    bool contactsEnded = false;
    for (const RelayAnswer& answer : r.link.answers) {
        contactsEnded |=
            answer.name == nullptr && answer.code == sdk::contacts::kRelayContactsBatch && answer.payload == nullptr;
    }
    EXPECT_TRUE(contactsEnded);
    // Nothing waits for a reply any more: a late one is taken by no feature (it goes to the link itself).
    for (const trv::test::SentRequest& request : asked) {
        Packet late;
        late.header.id = request.id;
        late.header.status = 1;
        EXPECT_FALSE(r.features.OnReply(late, ReplyFrame(), "")) << "request " << request.code;
    }
}

}  // namespace
