// The relay's apps: the installed apps (501) as the apps table (relay_tables.h): each app by its name, its
// version, the size of the app and of its documents, its developer and its identifier; see relay_lists.h.
// The service sends the apps as objects keyed by their bundle identifier, up to ten a reply. The checked
// apps are uninstalled with one request (505) that reports each app; see relay_actions.h.
#include <cstring>
#include <iterator>
#include <memory>
#include <set>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_lists.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

// The name a person knows the app by: the one its home screen shows, else its bundle's or the store's,
// else its identifier.
std::wstring AppName(const rapidjson::Value& app, const std::wstring& identifier) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName", "itemName"}) {
        const std::wstring name = CellMember(app, key);
        if (!name.empty()) return name;
    }
    return identifier;
}

std::wstring SizeMember(const rapidjson::Value& app, const char* name) {
    return HasNumber(app, name) ? SizeText(NumberMember(app, name)) : std::wstring();
}

void AddApps(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsObject()) return;
    for (const auto& member : document.GetObject()) {
        if (!member.value.IsObject()) continue;
        const rapidjson::Value& app = member.value;
        const std::wstring identifier =
            CellText(vnl::WideFromUtf8(std::string_view(member.name.GetString(), member.name.GetStringLength())));
        AddRow(batch,
               {AppName(app, identifier),
                VersionText(WideMember(app, "CFBundleShortVersionString"), WideMember(app, "CFBundleVersion")),
                SizeMember(app, "app-size"), SizeMember(app, "data-size"), CellMember(app, "artistName"), identifier});
    }
}

const BatchReader kAppRows = {&ReadTable<&AddApps>, &ReleaseTextBatch};
constexpr int kIdentifierField = 5;  // the apps table's last column

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_APP, sdk::apps::kRelayLoad, 501, ZERITH_COMMAND_DO_APP, sdk::apps::kRelayLoaded,
     sdk::apps::kRelayCount, kRequestStatus, &kAppRows, kAnySection, false, "", false, kIdentifierField},
};
const std::int64_t kQueries[] = {50};

}  // namespace

const ListFeature kAppsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

namespace {

constexpr std::uint32_t kUninstallApps = 505;
constexpr std::uint32_t kAppIcons = 502;

// The app an icon reply names ({"bundle_id": ...}); empty when it names none.
std::wstring IconApp(const std::string& info) {
    JsonObjectView view;
    std::string app;
    return view.Parse(info) && view.GetString("bundle_id", app) ? vnl::WideFromUtf8(app) : std::wstring();
}

// Each app the service reported, as done or refused, by its name; the apps it never reported share the
// request's end.
ActionOutcome UninstallOutcome(const ActionsService& service, const std::string& device, const StepResult& result,
                               const std::vector<std::wstring>& asked) {
    ActionOutcome outcome;
    std::set<std::wstring> reported;
    for (const auto& item : result.items) {
        const std::wstring app = JsonStringText(item.first);
        reported.insert(app);
        if (item.second) {
            outcome.done.push_back(service.NameOf(device, app));
        } else {
            outcome.failed.emplace_back(service.NameOf(device, app), L"the device refused");
        }
    }
    const std::wstring why = result.code == 0 ? L"the device did not answer for it" : FailureText(result.code);
    for (const std::wstring& app : asked) {
        if (reported.count(app) == 0) outcome.failed.emplace_back(service.NameOf(device, app), why);
    }
    return outcome;
}

}  // namespace

void FetchAppIcons(ActionsService& service, const std::string& device, const std::vector<std::wstring>& apps) {
    ActionStep step;
    step.device = device;
    step.serviceCode = kAppIcons;
    step.data = JsonTextArray(apps);
    step.done = [&service, device](const StepResult& result) {
        auto batch = std::make_unique<ItemBatch<TextItem>>();
        for (size_t i = 0; i < result.parts.size() && i < result.infos.size(); ++i) {
            const std::wstring app = IconApp(result.infos[i]);
            if (app.empty()) continue;
            batch->items.push_back(PictureRow(app, result.parts[i]));
        }
        if (batch->items.empty()) return;
        service.Answer(ZERITH_COMMAND_DO_APP, device, sdk::apps::kRelayIcons, batch.release(), 0, &ReleaseTextBatch);
    };
    service.Queue(std::move(step));
}

bool HandleAppAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_APP) != 0 || message.code != sdk::apps::kRelayUninstall) {
        return false;
    }
    std::unique_ptr<std::vector<std::wstring>> apps(static_cast<std::vector<std::wstring>*>(message.data));
    message.data = nullptr;
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    if (!apps || apps->empty() || device.empty()) return true;
    ActionStep step;
    step.device = device;
    step.serviceCode = kUninstallApps;
    step.data = JsonTextArray(*apps);
    step.itemReplies = true;
    step.done = [&service, device, asked = *apps](const StepResult& result) {
        service.Answer(ZERITH_COMMAND_DO_APP, device, sdk::apps::kRelayUninstalled,
                       OutcomeBatch(OutcomeText(UninstallOutcome(service, device, result, asked), L"Uninstalled",
                                                L"uninstall")),
                       0,
                       &ReleaseTextBatch);
        service.Relist(ZERITH_COMMAND_DO_APP, sdk::apps::kRelayLoad, device);
    };
    service.Queue(std::move(step));
    return true;
}

}  // namespace relay
