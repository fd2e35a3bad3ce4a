#pragma once
// The relay's driver set-up in service mode. The host's ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER (the
// packages' base address in `text`) runs as a chain of device-service requests, each started by the
// previous one's last reply:
//   16 download: PRE_DOWNLOAD_DRIVER (its `status` is the download's request id, which the host hands
//      back in ZERITH_COMMAND_DO_CANCEL), then RECV_DOWNLOAD_DRIVER with `status` 0 and the whole run's
//      percentage (value4 of value3 = 100); a failed download ends with RECV_DOWNLOAD_DRIVER and the
//      service's code as `status`, a cancelled one silently (the host closed its dialog).
//   17 install of the downloaded packages: PRE_INSTALL_DRIVER, RECV_INSTALL_DRIVER with `status` 0 and
//      the packages installed (value4 of value3); a failed installation ends with RECV_INSTALL_DRIVER
//      and the result as `status`, then
//   18 asks why: RECV_STORE_ITUNES_IS_INSTALLED with `status` 2 when the store edition of the device
//      library is installed (it must be removed first), else 1 (the installation failed).
//   10 after an installation: the device monitor starts again; RECV_START_ITUNES_DLL carries a text for
//      the user in `wideText` saying whether devices can be reached now.
// One run at a time: a request that comes while a run is going is dropped.
//
// UI thread only; reaches the service and the host through RelayLink, so that it is tested natively.

#include <cstdint>
#include <string>
#include <vector>

#include "command_message.h"
#include "relay_feature.h"
#include "relay_wire.h"

namespace relay {

constexpr std::uint32_t kRequestStartDeviceLibrary = 10;
constexpr std::uint32_t kRequestDownloadDrivers = 16;
constexpr std::uint32_t kRequestInstallDrivers = 17;
constexpr std::uint32_t kRequestCheckStoreEdition = 18;
constexpr std::uint32_t kRequestCancel = 600;

class DriverService final : public RelayFeature {
public:
    explicit DriverService(RelayLink& link) : m_link(link) {}

    // DOWNLOAD_AND_INSTALL_DRIVER, or a DO_CANCEL of the running download; false for anything else.
    bool Handle(CommandMessage& message) override;
    // A reply packet; false when it answers none of the run's requests.
    bool OnReply(const Packet& packet, const ReplyFrame& frame, const std::string& data) override;
    // The service's connection is gone: a running step ends as failed.
    void OnServiceGone() override;

private:
    enum class Step { kIdle, kDownload, kInstall, kStoreCheck, kStartLibrary };
    void Report(const char* name, std::int64_t status, std::int64_t done = 0, std::int64_t total = 0,
                const std::wstring& text = std::wstring());
    void Begin(Step step, std::uint32_t code, const std::string& infoJson);
    void OnDownloadReply(const Packet& packet, const ReplyFrame& frame);
    void OnInstallReply(const Packet& packet, const ReplyFrame& frame);
    void EndStep(std::int64_t result);

    RelayLink& m_link;
    Step m_step = Step::kIdle;
    std::uint64_t m_requestId = 0;        // the running step's request
    std::vector<std::string> m_packages;  // verified by the download, for the install
};

// The helper instance's result in a last reply of 17 or 18: "info" {"error": R}; without it, the
// reply's code (the first instance could not reach its helper); 0 only for success.
std::int64_t HelperResult(const Packet& packet, const ReplyFrame& frame);

}  // namespace relay
