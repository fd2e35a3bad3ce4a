// The relay's driver set-up against a fake link: the service requests of each step with their JSON, the
// reports the host gets from the service's replies as the service words them, cancelling, and the ends of
// a failed run.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "command_names.h"
#include "relay_drivers.h"
#include "relay_test_link.h"

namespace {

using namespace std::string_literals;
using relay::DriverService;
using relay::Packet;
using relay::ReplyFrame;
using trv::test::FakeLink;

using ReportRow = std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t>;  // name, status, done, count

struct DriverRun {
    FakeLink link;
    DriverService drivers{link};

    bool Ask(const char* name, const char* text = "http://127.0.0.1:1/drivers", std::int64_t status = 0) {
        CommandMessage message{};
        message.name = name;
        message.text = text;
        message.status = status;
        return drivers.Handle(message);
    }
    // A reply to the last request sent, from its record JSON as the service writes it.
    void Reply(std::uint16_t status, const std::string& record) {
        Packet packet;
        packet.header.id = link.requests.back().id;
        packet.header.command = link.requests.back().code;
        packet.header.status = status;
        packet.body = "1\0"s + record + "\0"s;
        ReplyFrame frame;
        ASSERT_EQ(ParseReplyFrame(packet.body, frame), relay::FrameResult::kOk);
        ASSERT_TRUE(drivers.OnReply(packet, frame, ""));
    }
    std::vector<ReportRow> Reports() const {
        std::vector<ReportRow> rows;
        for (const auto& a : link.answers) rows.emplace_back(a.name, a.status, a.done, a.count);
        return rows;
    }
    std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const auto& r : link.requests) codes.push_back(r.code);
        return codes;
    }
};

const std::string kToken = "88123";  // the helper's replies carry the desktop connection's token

}  // namespace

TEST(RelayDrivers, DownloadInstallAndRestartRunAsOneChain) {
    DriverRun r;
    ASSERT_TRUE(r.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    ASSERT_EQ(r.link.requests.size(), 1u);
    EXPECT_EQ(r.link.requests[0].json, R"({"uuid":"","info":{"url":"http://127.0.0.1:1/drivers"}})");
    const auto id = static_cast<std::int64_t>(r.link.requests[0].id);
    EXPECT_FALSE(r.Ask(ZERITH_COMMAND_DO_CANCEL, "", id + 1));  // another feature's cancel

    // Half of the second of three packages is half of the whole run.
    r.Reply(2, R"({"stage":2,"code":0,"uuid":"","type":0,"info":{"total":1000,"step":500,"index":2,"count":3}})");
    r.Reply(2, R"({"stage":3,"code":0,"uuid":"","type":0,"info":["/l/a b.msi","/l/c.msi"]})");
    r.Reply(1, R"({"stage":1,"code":0,"uuid":"","type":0})");
    ASSERT_EQ(r.link.requests.size(), 2u);
    EXPECT_EQ(r.link.requests[1].code, 17u);
    EXPECT_EQ(r.link.requests[1].json, R"({"uuid":"","info":["/l/a b.msi","/l/c.msi"]})");

    r.Reply(2, R"({"stage":2,"code":)" + kToken + R"(,"uuid":"","type":0,"info":{"index":1,"count":2}})");
    r.Reply(1, R"({"stage":2,"code":)" + kToken + R"(,"uuid":"","type":0,"info":{"error":0}})");
    EXPECT_EQ(r.Codes(), (std::vector<std::uint32_t>{16, 17, 10}));
    r.Reply(1, R"({"stage":1,"code":0,"uuid":"","type":0})");

    EXPECT_EQ(r.Reports(),
              (std::vector<ReportRow>{{ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER, id, 0, 0},
                                      {ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, 0, 50, 100},
                                      {ZERITH_COMMAND_PRE_INSTALL_DRIVER, 0, 0, 0},
                                      {ZERITH_COMMAND_RECV_INSTALL_DRIVER, 0, 1, 2},
                                      {ZERITH_COMMAND_RECV_INSTALL_DRIVER, 0, 2, 2},  // whole, whatever came before
                                      {ZERITH_COMMAND_RECV_START_ITUNES_DLL, 0, 0, 0}}));
    EXPECT_EQ(r.link.answers.back().userText, L"The driver is installed.");

    // The run is over: a new one starts afresh.
    ASSERT_TRUE(r.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    EXPECT_EQ(r.link.requests.back().code, 16u);
}

TEST(RelayDrivers, AFailedInstallationAsksWhetherTheStoreEditionIsInTheWay) {
    for (const auto& [storeReply, expected] : std::vector<std::pair<std::string, std::int64_t>>{
             {R"({"stage":2,"code":)" + kToken + R"(,"uuid":"","type":0,"info":{"error":54}})", 2},
             {R"({"stage":2,"code":)" + kToken + R"(,"uuid":"","type":0,"info":{"error":0}})", 1},
             {R"({"stage":1,"code":53,"uuid":"","type":0})", 1}}) {  // the helper did not start
        DriverRun r;
        ASSERT_TRUE(r.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
        r.Reply(1, R"({"stage":1,"code":0,"uuid":"","type":0})");
        r.Reply(6, R"({"stage":2,"code":)" + kToken + R"(,"uuid":"","type":0,"info":{"error":51}})");
        EXPECT_EQ(r.link.requests.back().json, R"({"uuid":""})");
        r.Reply(storeReply.find("\"code\":53") != std::string::npos ? 6 : 1, storeReply);
        EXPECT_EQ(r.Codes(), (std::vector<std::uint32_t>{16, 17, 18})) << storeReply;
        const auto reports = r.Reports();
        ASSERT_EQ(reports.size(), 4u);
        EXPECT_EQ(reports[2], (ReportRow{ZERITH_COMMAND_RECV_INSTALL_DRIVER, 51, 0, 0}));
        EXPECT_EQ(reports[3], (ReportRow{ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, expected, 0, 0})) << storeReply;
    }
}

TEST(RelayDrivers, CancelledFailedAndUnsentDownloadsEndTheRun) {
    DriverRun cancelled;
    ASSERT_TRUE(cancelled.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    const auto id = cancelled.link.requests[0].id;
    ASSERT_TRUE(cancelled.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));  // one run at a time
    ASSERT_TRUE(cancelled.Ask(ZERITH_COMMAND_DO_CANCEL, "", static_cast<std::int64_t>(id)));
    EXPECT_EQ(cancelled.link.requests.back().code, 600u);
    EXPECT_EQ(cancelled.link.requests.back().json, R"({"uuid":"","code":)" + std::to_string(id) + "}");
    cancelled.link.requests.pop_back();
    cancelled.Reply(5, R"({"stage":1,"code":6,"uuid":"","type":0})");
    EXPECT_EQ(cancelled.Codes(), (std::vector<std::uint32_t>{16}));
    EXPECT_EQ(cancelled.link.answers.size(), 1u);  // only PRE_DOWNLOAD_DRIVER: the host closed its dialog

    DriverRun failed;
    ASSERT_TRUE(failed.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    failed.Reply(6, R"({"stage":1,"code":50,"uuid":"","type":0})");
    EXPECT_EQ(failed.Reports().back(), (ReportRow{ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, 50, 0, 0}));

    DriverRun lost;  // the service went away in the middle of the installation
    ASSERT_TRUE(lost.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    lost.Reply(1, R"({"stage":1,"code":0,"uuid":"","type":0})");
    lost.link.refuse = true;
    lost.drivers.OnServiceGone();
    EXPECT_EQ(lost.Reports().back(), (ReportRow{ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED, 1, 0, 0}));

    DriverRun unsent;
    unsent.link.refuse = true;
    ASSERT_TRUE(unsent.Ask(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER));
    EXPECT_EQ(unsent.Reports(), (std::vector<ReportRow>{{ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER, -1, 0, 0}}));
}
