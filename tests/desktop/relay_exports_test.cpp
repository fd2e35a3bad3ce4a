// The relay's exports against a fake link: the export request the checked pairs become (names, device
// paths and the folder as the service names it), the answer at its end with the count of files that
// arrived, and the exports that cannot start. The pairs are freed by the service (the sanitizer build
// checks that none leaks).
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "command_names.h"
#include "relay_exports.h"
#include "relay_test_link.h"
#include "wide_pair.h"

namespace {

using relay::ExportService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeLink;

bool Export(ExportService& exports, std::vector<WideStringPair> pairs, const wchar_t* folder,
            const wchar_t* device = L"udid-1", const char* name = ZERITH_COMMAND_DO_FILE, std::int64_t code = 109) {
    std::wstring deviceText = device != nullptr ? device : L"";
    std::wstring folderText = folder;
    auto* data = new std::vector<WideStringPair>(std::move(pairs));
    CommandMessage message{};
    message.name = name;
    message.code = code;
    message.data = data;
    message.count = static_cast<std::int64_t>(data->size());
    message.wideText = device != nullptr ? &deviceText[0] : nullptr;
    message.extra = &folderText[0];
    const bool handled = exports.Handle(message);
    if (!handled) delete data;  // not an export: still the caller's
    return handled;
}

void Reply(ExportService& exports, std::uint64_t id, std::uint16_t status, std::int64_t code) {
    Packet packet;
    packet.header.id = id;
    packet.header.status = status;
    ReplyFrame frame;
    frame.code = code;
    ASSERT_TRUE(exports.OnReply(packet, frame, ""));
}

}  // namespace

TEST(RelayExports, CheckedPairsBecomeOneExportAndItsEndCountsTheFilesThatArrived) {
    FakeLink link;
    ExportService exports(link);
    ASSERT_TRUE(Export(exports,
                       {{L"Caf\u00e9 idea", L"/Recordings/a.m4a"}, {L"Chime", L"/iTunes_Control/Ringtones/B.m4r"}},
                       L"Z:\\home\\me\\Out"));
    ASSERT_EQ(link.requests.size(), 1u);
    EXPECT_EQ(link.requests[0].code, 701u);
    EXPECT_EQ(link.requests[0].device, "udid-1");
    rapidjson::Document items;
    items.Parse(link.requests[0].data.c_str());
    ASSERT_TRUE(items.IsArray()) << link.requests[0].data;
    ASSERT_EQ(items.Size(), 2u);
    EXPECT_STREQ(items[0][0].GetString(), "Caf\xc3\xa9 idea");
    EXPECT_STREQ(items[0][1].GetString(), "/Recordings/a.m4a");
    EXPECT_STREQ(items[0][2].GetString(), "/home/me/Out") << "the folder as the service names it";
    EXPECT_STREQ(items[1][1].GetString(), "/iTunes_Control/Ringtones/B.m4r");

    const std::uint64_t id = link.requests[0].id;
    Reply(exports, id, 2, 0);  // the first file arrived whole
    Reply(exports, id, 2, 2);  // the second did not
    EXPECT_TRUE(link.answers.empty()) << "nothing is answered before the end";
    Reply(exports, id, 1, 2);
    ASSERT_EQ(link.answers.size(), 1u);
    EXPECT_STREQ(link.answers[0].name, ZERITH_COMMAND_DO_FILE);
    EXPECT_EQ(link.answers[0].code, 109);
    EXPECT_EQ(link.answers[0].resultOrCount, 2);
    EXPECT_EQ(link.answers[0].count, 1);
    EXPECT_EQ(link.answers[0].device, "udid-1");
    EXPECT_EQ(link.answers[0].userText, L"Z:\\home\\me\\Out") << "the folder as the user chose it, for the notice";
    Packet late;
    late.header.id = id;
    EXPECT_FALSE(exports.OnReply(late, ReplyFrame(), "")) << "the export is over";
}

TEST(RelayExports, ExportsThatCannotStartEndAtOnceAndOtherRequestsAreNotTaken) {
    struct Case {
        const char* what;
        std::vector<WideStringPair> pairs;
        const wchar_t* folder;
        const wchar_t* device;
        bool refuse;
        std::int64_t code;
    };
    // clang-format off
    const Case cases[] = {
        {"nothing checked", {}, L"Z:\\out", L"udid-1", false, 0},
        {"a folder the service cannot reach", {{L"a", L"/Recordings/a.m4a"}}, L"\\\\server\\share", L"udid-1", false, 2},
        {"no device", {{L"a", L"/Recordings/a.m4a"}}, L"Z:\\out", nullptr, false, 2},
        {"no service", {{L"a", L"/Recordings/a.m4a"}}, L"Z:\\out", L"udid-1", true, 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeLink link;
        link.refuse = c.refuse;
        ExportService exports(link);
        ASSERT_TRUE(Export(exports, c.pairs, c.folder, c.device)) << c.what;
        EXPECT_TRUE(link.requests.empty()) << c.what;
        ASSERT_EQ(link.answers.size(), 1u) << c.what;
        EXPECT_EQ(link.answers[0].resultOrCount, c.code) << c.what;
        EXPECT_EQ(link.answers[0].count, 0) << c.what;
    }
    FakeLink link;
    ExportService exports(link);
    EXPECT_FALSE(Export(exports, {{L"a", L"k"}}, L"Z:\\out", L"udid-1", ZERITH_COMMAND_DO_FILE, 110));
    EXPECT_FALSE(Export(exports, {{L"a", L"k"}}, L"Z:\\out", L"udid-1", ZERITH_COMMAND_DO_RECORDING, 109));
    ASSERT_TRUE(Export(exports, {{L"a", L"/Recordings/a.m4a"}}, L"Z:\\out"));
    exports.OnServiceGone();
    ASSERT_EQ(link.answers.size(), 1u);
    EXPECT_EQ(link.answers[0].resultOrCount, 2) << "a lost service ends the export";
}
