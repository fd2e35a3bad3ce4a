// The relay's messages: the conversations (201) as the messages table (relay_tables.h), one row per
// conversation with its other parties, its number of messages, its last message and that message's date;
// see relay_lists.h. The service sends each conversation as one object, latest first, followed by its
// messages in arrays; the conversation already names its last message, so the arrays add no row.
#include <iterator>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

void AddConversation(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (!document.IsObject()) return;
    std::wstring last = CellMember(document, "snippet");
    if (last.empty()) last = L"(no text)";
    AddRow(batch, {PartiesText(WideMember(document, "display_phone")),
                   std::to_wstring(NumberMember(document, "message_count")), last,
                   DateText(WideMember(document, "date_str"))});
}

const BatchReader kConversations = {&ReadTable<&AddConversation>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_SMS, 24, 201, ZERITH_COMMAND_DO_SMS, 24, 23, kRequestStatus, &kConversations},
};
const std::int64_t kQueries[] = {22};

}  // namespace

const ListFeature kMessagesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
