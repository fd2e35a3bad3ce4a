// The outside pages' stand-ins as a user reads them: the model names of the product types that devices
// and backups report, the device page's summary, storage and connection notices made of the properties
// the relay hands over, and the section list's counters across device switches and departures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_summary.h"
#include "section_counts.h"
#include "vnl_device_models.h"

namespace {

using standin_pages::ConnectionState;

TEST(StandinPages, ProductTypesOfEveryFamilyReadAsTheirModel) {
    const struct {
        const char* productType;
        const wchar_t* model;
    } kCases[] = {
        {"iPhone13,1", L"iPhone 12 mini"},
        {"iPhone10,3", L"iPhone X"},
        {"iPhone10,6", L"iPhone X"},
        {"iPhone12,8", L"iPhone SE (2nd generation)"},
        {"iPad7,5", L"iPad (6th generation)"},
        {"iPad8,11", L"iPad Pro (12.9-inch, 4th generation)"},
        {"iPod9,1", L"iPod touch (7th generation)"},
        {"iPod7,1", L"iPod touch (6th generation)"},
        // Not in the table: shown exactly as the device said, never a wrong model.
        {"iPhone99,1", L"iPhone99,1"},
        {"iPhone13", L"iPhone13"},
        {"", L""},
    };
    for (const auto& c : kCases) EXPECT_EQ(vnl::ModelName(c.productType), c.model) << c.productType;
}

// The properties as the relay hands them over after request 300: lockdown values, then the battery and
// storage figures, numbers in decimal.
standin_pages::DeviceProperties LoadedDevice() {
    return {{"DeviceName", "Zo\xC3\xAB's iPhone"},
            {"ProductType", "iPad7,5"},
            {"ProductVersion", "13.3"},
            {"BuildVersion", "17C54"},
            {"SerialNumber", "F9FXK0AAJF8J"},
            {"PhoneNumber", "+1 (555) 010-2477"},
            {"BatteryCurrentCapacity", "87"},
            {"BatteryIsCharging", "1"},
            {"CycleCount", "294"},
            {"Data_PhysicalSize", "68719476736"},
            {"Data_FreeSize", "17179869184"},
            {"Application_PhysicalSize", "10737418240"},
            {"Photo_PhysicalSize", "0"},
            {"CameraRoll_PhysicalSize", "5368709120"},
            {"Music_PhysicalSize", "1073741824"},
            {"Data_Others_PhysicalSize", "-2048"}};
}

TEST(StandinPages, TheSummaryNamesEveryFigureTheDeviceReported) {
    const standin_pages::DeviceProperties device = LoadedDevice();
    EXPECT_EQ(standin_pages::DeviceTitle(device), L"Zo\u00EB's iPhone");
    std::vector<std::wstring> shown;
    for (const auto& line : standin_pages::SummaryLines(device)) shown.push_back(line.label + L": " + line.value);
    EXPECT_EQ(shown, (std::vector<std::wstring>{
                         L"Model: iPad (6th generation)",
                         L"iOS version: 13.3 (17C54)",
                         L"Serial number: F9FXK0AAJF8J",
                         L"Phone number: +1 (555) 010-2477",
                         L"Battery: 87%, charging, 294 charge cycles",
                         L"Capacity: 64.00 GB (48.00 GB used, 16.00 GB free)",
                     }));
    // Categories that take no space, and a negative remainder, are left out.
    std::vector<std::wstring> shares;
    for (const auto& share : standin_pages::StorageShares(device)) shares.push_back(share.label);
    EXPECT_EQ(shares, (std::vector<std::wstring>{L"Apps", L"Camera Roll", L"Music"}));
    EXPECT_EQ(standin_pages::CapacityBytes(device), 68719476736LL);
}

TEST(StandinPages, ASummaryBeforeRequest300LeavesOutWhatIsNotKnown) {
    // What the device-ready event carries before the basic information arrives.
    // clang-format off
    const standin_pages::DeviceProperties device = {{"ProductType", "iPhone13,1"}, {"ProductVersion", "14.2"},
                                            {"BatteryCurrentCapacity", "x"}, {"TotalDiskCapacity", "128000000000"}};
    // clang-format on
    EXPECT_EQ(standin_pages::DeviceTitle(device), L"iPhone 12 mini");
    std::vector<std::wstring> labels;
    for (const auto& line : standin_pages::SummaryLines(device)) labels.push_back(line.label + L"=" + line.value);
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"Model=iPhone 12 mini", L"iOS version=14.2", L"Capacity=119.21 GB"}));
    EXPECT_TRUE(standin_pages::StorageShares(device).empty());
}

TEST(StandinPages, EveryConnectionStateTheHostSetsHasItsNotice) {
    const struct {
        int64_t status;
        int64_t code;
        ConnectionState state;
        // clang-format off
    } kCases[] = {
        {1, 0, ConnectionState::kConnecting},       {3, 0, ConnectionState::kWaitingForTrust},
        {5, 25, ConnectionState::kWaitingForTrust}, {5, 48, ConnectionState::kLocked},
        {5, 9, ConnectionState::kDriverMissing},    {5, 14, ConnectionState::kDriverMissing},
        {5, 12, ConnectionState::kNotRecognised},   {5, 0, ConnectionState::kNotRecognised},
        // clang-format on
        {6, 0, ConnectionState::kReady},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(standin_pages::StateAfterSwitch(ConnectionState::kNoDevice, c.status, c.code), c.state)
            << c.status << "/" << c.code;
    }
    // The summary or a feature page shown changes nothing of the connection.
    EXPECT_EQ(standin_pages::StateAfterSwitch(ConnectionState::kLocked, 7, 0), ConnectionState::kLocked);
    EXPECT_EQ(standin_pages::StateAfterSwitch(ConnectionState::kReady, 8, 0), ConnectionState::kReady);

    EXPECT_NE(standin_pages::NoticeFor(ConnectionState::kWaitingForTrust).hint.find(L"Trust"), std::wstring::npos);
    EXPECT_NE(standin_pages::NoticeFor(ConnectionState::kLocked).hint.find(L"passcode"), std::wstring::npos);
    EXPECT_NE(standin_pages::NoticeFor(ConnectionState::kDriverMissing).heading.find(L"driver"), std::wstring::npos);
    EXPECT_NE(standin_pages::NoticeFor(ConnectionState::kNotRecognised).heading.find(L"not recognized"),
              std::wstring::npos);
}

// A device attached but not ready is listed with its state in words.
TEST(StandinPages, ADeviceNotReadyIsNamedWithItsState) {
    EXPECT_EQ(standin_pages::StateWords(standin_pages::StateOfReason(25)), L"waiting for trust");
    EXPECT_EQ(standin_pages::StateWords(standin_pages::StateOfReason(48)), L"locked");
    EXPECT_EQ(standin_pages::StateWords(standin_pages::StateOfReason(12)), L"not recognized");
    EXPECT_EQ(standin_pages::StateWords(standin_pages::StateOfReason(9)), L"driver missing");
}

// A section the service refused says why in words: never a bare number where words are known.
TEST(StandinPages, ARefusedSectionSaysWhyInWords) {
    const struct {
        int64_t code;
        const wchar_t* words;
    } kCases[] = {
        {18, L"no database for this section"},
        {46, L"none of this section's data"},
        {48, L"locked with a passcode"},
        {25, L"trust this computer"},
        {24, L"connection to the device was lost"},
        {60, L"backup or restore of the device is running"},
        {777, L"failed with error 777"},
    };
    for (const auto& c : kCases) {
        const std::wstring text = standin_pages::UnavailableText(c.code);
        EXPECT_EQ(text.rfind(L"Not available: ", 0), 0u) << text;
        EXPECT_NE(text.find(c.words), std::wstring::npos) << text;
        EXPECT_EQ(text.back(), L'.') << text;
        if (c.code != 777) {
            EXPECT_EQ(text.find(std::to_wstring(c.code)), std::wstring::npos) << "no bare number: " << text;
        }
    }
}

TEST(StandinPages, CountersBelongToTheCurrentDevice) {
    standin_pages::SectionCounts counts;
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts") << "no device, no counts";
    EXPECT_TRUE(counts.SetCurrent("first"));
    counts.Set("first", 2, 250);
    counts.Set("second", 2, 3);  // counted for a device that is not shown
    counts.Set("", 21, 7);       // an answer without a device is the current one's
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts (250)");
    EXPECT_EQ(counts.ShownText(21, L"Apps"), L"Apps (7)");

    // Switching shows the other device's counters only; coming back shows the first's again.
    EXPECT_TRUE(counts.SetCurrent("second"));
    EXPECT_FALSE(counts.SetCurrent("second"));
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts (3)");
    EXPECT_EQ(counts.ShownText(21, L"Apps"), L"Apps");
    EXPECT_TRUE(counts.SetCurrent("first"));
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts (250)");

    // A device that comes back starts without the counters of its earlier connection.
    counts.Forget("first");
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts");
    // No device: nothing of the one that left is shown.
    counts.Set("first", 4, 9);
    EXPECT_TRUE(counts.SetCurrent(""));
    EXPECT_EQ(counts.ShownText(4, L"Notes"), L"Notes");
    // The relay's reset empties every device's counters.
    counts.Clear();
    EXPECT_TRUE(counts.SetCurrent("second"));
    EXPECT_EQ(counts.ShownText(2, L"Contacts"), L"Contacts");
}

}  // namespace
