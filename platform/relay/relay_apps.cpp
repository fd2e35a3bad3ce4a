// The relay's apps: the installed apps (501) as the apps table (relay_tables.h): each app by its name, its
// version, the size of the app and of its documents, its developer and its identifier; see relay_lists.h.
// The service sends the apps as objects keyed by their bundle identifier, up to ten a reply.
#include <iterator>

#include "command_names.h"
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

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_APP, 52, 501, ZERITH_COMMAND_DO_APP, 52, 51, kRequestStatus, &kAppRows},
};
const std::int64_t kQueries[] = {50};

}  // namespace

const ListFeature kAppsList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
