// The relay's messages: the conversations (201) as the messages table (relay_tables.h), one row per
// conversation with its other parties, its number of messages, its last message and that message's date;
// see relay_lists.h. The service sends each conversation as one object, latest first, followed by its
// messages, oldest first, in arrays of up to 50. Each array becomes one item without fields whose details
// are the messages as the conversation table's rows (kConversation: time, sender, text), so that the page
// adds them to the conversation's row before it and a person can open that conversation and read them.
#include <iterator>

#include "command_names.h"
#include "relay_cells.h"
#include "relay_lists.h"

namespace relay {
namespace {

std::wstring TextOrNone(const rapidjson::Value& record, const char* name) {
    std::wstring text = CellMember(record, name);
    return text.empty() ? L"(no text)" : text;
}

// Who wrote a message: "Me" for the device's owner, else the other party's handle.
std::wstring SenderText(const rapidjson::Value& message) {
    if (NumberMember(message, "is_from_me") != 0) return L"Me";
    return PartiesText(WideMember(message, "handle_id_phone"));
}

void AddConversationPart(const rapidjson::Value& document, ItemBatch<TextItem>& batch) {
    if (document.IsObject()) {
        AddRow(batch, {PartiesText(WideMember(document, "display_phone")),
                       std::to_wstring(NumberMember(document, "message_count")), TextOrNone(document, "snippet"),
                       DateText(WideMember(document, "date_str"))});
        return;
    }
    if (!document.IsArray()) return;
    auto messages = std::make_shared<TextItem>();
    for (const rapidjson::Value& message : document.GetArray()) {
        if (!message.IsObject()) continue;
        messages->details.push_back(
            {DateText(WideMember(message, "date_str")), SenderText(message), TextOrNone(message, "text")});
    }
    if (!messages->details.empty()) batch.items.push_back(std::move(messages));
}

const BatchReader kConversations = {&ReadTable<&AddConversationPart>, &ReleaseTextBatch};

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_SMS, 24, 201, ZERITH_COMMAND_DO_SMS, 24, 23, kRequestStatus, &kConversations},
};
const std::int64_t kQueries[] = {22};

}  // namespace

const ListFeature kMessagesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
