// The relay's exports of the messages: the conversations listed afresh (201) and written whole into the
// chosen folder as text, CSV, HTML or the XML backup; see relay_actions.h. The service sends each
// conversation as one object followed by its messages in arrays, oldest first.
#include <cstring>
#include <string>
#include <vector>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_cells.h"
#include "relay_exports.h"
#include "relay_lists.h"
#include "relay_xml.h"
#include "vnl_utf8.h"

namespace relay {
namespace {

constexpr std::uint32_t kListMessages = 201;

struct Message {
    std::wstring date, from, text;
};

struct Conversation {
    std::wstring with;
    std::vector<Message> messages;
};

// The conversations of a listing's data parts, each with its messages in the order sent.
std::vector<Conversation> ReadConversations(const std::vector<std::string>& parts) {
    std::vector<Conversation> conversations;
    for (const std::string& part : parts) {
        rapidjson::Document document;
        document.Parse(part.c_str(), part.size());
        if (document.HasParseError()) continue;
        if (document.IsObject()) {
            conversations.push_back({PartiesText(WideMember(document, "display_phone")), {}});
        } else if (document.IsArray() && !conversations.empty()) {
            for (const rapidjson::Value& message : document.GetArray()) {
                if (!message.IsObject()) continue;
                const bool sent = NumberMember(message, "is_sent") != 0;
                conversations.back().messages.push_back({WideMember(message, "date_str"),
                                                         sent ? L"Me" : WideMember(message, "handle_id_phone"),
                                                         WideMember(message, "text")});
            }
        }
    }
    return conversations;
}

std::string Utf8(const std::wstring& text) { return vnl::Utf8FromWide(text.c_str()); }

std::string CsvField(const std::wstring& text) {
    std::string field = Utf8(text);
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string ComposeText(const std::vector<Conversation>& conversations) {
    std::string out;
    for (const Conversation& c : conversations) {
        out += "Conversation with " + Utf8(c.with) + "\r\n";
        for (const Message& m : c.messages) out += "[" + Utf8(m.date) + "] " + Utf8(m.from) + ": " + Utf8(m.text) + "\r\n";
        out += "\r\n";
    }
    return out;
}

std::string ComposeCsv(const std::vector<Conversation>& conversations) {
    std::string out = "Conversation,Date,From,Text\r\n";
    for (const Conversation& c : conversations) {
        for (const Message& m : c.messages) {
            out += CsvField(c.with) + "," + CsvField(m.date) + "," + CsvField(m.from) + "," + CsvField(m.text) + "\r\n";
        }
    }
    return out;
}

std::string ComposeHtml(const std::vector<Conversation>& conversations) {
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Messages</title>\n"
        "<style>table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:4px;vertical-align:top}</style>\n"
        "</head>\n<body>\n";
    for (const Conversation& c : conversations) {
        out += "<h2>";
        AppendXmlEscaped(out, c.with, false);
        out += "</h2>\n<table>\n<tr><th>Date</th><th>From</th><th>Text</th></tr>\n";
        for (const Message& m : c.messages) {
            out += "<tr>";
            for (const std::wstring* cell : {&m.date, &m.from, &m.text}) {
                out += "<td>";
                AppendXmlEscaped(out, *cell, false);
                out += "</td>";
            }
            out += "</tr>\n";
        }
        out += "</table>\n";
    }
    return out + "</body>\n</html>\n";
}

std::string ComposeXml(const std::vector<Conversation>& conversations) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<messagesBackup version=\"1\">\n";
    for (const Conversation& c : conversations) {
        out += "  <conversation with=\"";
        AppendXmlEscaped(out, c.with, true);
        out += "\">\n";
        for (const Message& m : c.messages) {
            out += "    <message date=\"";
            AppendXmlEscaped(out, m.date, true);
            out += "\" from=\"";
            AppendXmlEscaped(out, m.from, true);
            out += "\">";
            AppendXmlEscaped(out, m.text, false);
            out += "</message>\n";
        }
        out += "  </conversation>\n";
    }
    return out + "</messagesBackup>\n";
}

struct Format {
    std::int64_t code;
    const wchar_t* fileName;
    std::string (*compose)(const std::vector<Conversation>&);
};

const Format kFormats[] = {
    {sdk::messages::kRelayExportText, L"Messages.txt", &ComposeText},
    {sdk::messages::kRelayExportCsv, L"Messages.csv", &ComposeCsv},
    {sdk::messages::kRelayExportHtml, L"Messages.html", &ComposeHtml},
    {sdk::messages::kRelayBackupXml, L"Messages.xml", &ComposeXml},
};

}  // namespace

std::string ComposeMessagesExport(std::int64_t code, const std::vector<std::string>& parts) {
    for (const Format& format : kFormats) {
        if (format.code == code) return format.compose(ReadConversations(parts));
    }
    return std::string();
}

bool HandleMessageAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_SMS) != 0) return false;
    const Format* format = nullptr;
    for (const Format& candidate : kFormats) {
        if (candidate.code == message.code) format = &candidate;
    }
    if (format == nullptr) return false;
    const auto* folder = static_cast<const wchar_t*>(message.extra);  // lent for the call
    if (folder == nullptr || message.wideText == nullptr) return true;
    const std::string device = vnl::Utf8FromWide(message.wideText);
    ActionStep step;
    step.device = device;
    step.serviceCode = kListMessages;
    step.done = [&service, device, chosen = std::wstring(folder), format](const StepResult& result) {
        const bool written =
            result.code == 0 &&
            WriteExport(service.Link(), chosen, format->fileName, ComposeMessagesExport(format->code, result.parts));
        AnswerFilesExported(service.Link(), device, chosen, result.code, written ? 1 : 0);
    };
    service.Queue(std::move(step));
    return true;
}

}  // namespace relay
