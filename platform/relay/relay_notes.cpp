// The relay's notes: the list of notes (1200) as the notes page's records (relay_lists.h); the save, the
// import and the exports (relay_actions.h).
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "command_names.h"
#include "relay_actions.h"
#include "relay_contacts_codec.h"
#include "relay_lists.h"
#include "relay_xml.h"
#include "vnl_utf8.h"
#include "wide_pair.h"

namespace relay {
namespace {

// "2024-03-01T10:20:30Z" as "2024-03-01 10:20:30"; the text still sorts as the time does.
std::wstring TimeText(std::wstring stamp) {
    if (stamp.size() > 10 && stamp[10] == L'T') stamp[10] = L' ';
    if (!stamp.empty() && stamp.back() == L'Z') stamp.pop_back();
    return stamp;
}

std::shared_ptr<NoteItem> NoteOf(const rapidjson::Value& record) {
    auto note = std::make_shared<NoteItem>();
    note->identifier = WideMember(record, "guid");
    if (note->identifier.empty()) note->identifier = WideMember(record, "id");
    note->title = WideMember(record, "subject");
    note->summary = WideMember(record, "author");
    note->content = WideMember(record, "content");
    std::wstring modified = WideMember(record, "dateModified");
    note->time = TimeText(modified.empty() ? WideMember(record, "dateCreated") : modified);
    return note;
}

const ListRoute kRoutes[] = {
    {ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayLoad, 1200, ZERITH_COMMAND_DO_NOTE, sdk::notes::kRelayLoaded,
     sdk::notes::kRelayCloudState, kRequestStatus, &kNoteBatches, kAnySection, false, "", true},
};
const std::int64_t kQueries[] = {56};

constexpr std::uint32_t kListNotes = 1200;
constexpr std::uint32_t kAddNote = 1201;
constexpr std::size_t kMaxNotesBackupBytes = 64u * 1024 * 1024;
constexpr char kNotesRoot[] = "notesBackup";
constexpr char kFormatVersion[] = "1";

std::string AddNoteData(const NoteItem& note) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto text = [&writer](const char* key, const std::string& value) {
        writer.Key(key);
        writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    };
    writer.StartObject();
    text("id", NewTemporaryId());
    if (!note.title.empty()) text("title", vnl::Utf8FromWide(note.title));
    if (!note.content.empty()) text("content", vnl::Utf8FromWide(note.content));
    writer.EndObject();
    return buffer.GetString();
}

// Adds `notes` one by one, then counts the device's notes, and answers `answerCode` with the notes the
// device took and the count. Nothing is answered when the device took none.
void AddNotes(ActionsService& service, const std::string& device, const std::vector<NoteItem>& notes,
              std::int64_t answerCode) {
    if (notes.empty()) return;
    auto added = std::make_shared<std::vector<std::shared_ptr<NoteItem>>>();
    for (const NoteItem& note : notes) {
        service.Queue({device, kAddNote, AddNoteData(note), [added](const StepResult& result) {
                           if (result.code != 0) return;
                           for (const std::string& part : result.parts) {
                               (void)ForEachRecord(part, [&added](const rapidjson::Value& record) {
                                   added->push_back(NoteOf(record));
                               });
                           }
                       }});
    }
    service.Queue({device, kListNotes, std::string(), [&service, device, added, answerCode](const StepResult& result) {
                       if (added->empty()) return;
                       // Without a count the page's counter still gains the notes just added.
                       const std::int64_t count = result.count.value_or(static_cast<std::int64_t>(added->size()));
                       service.Answer(ZERITH_COMMAND_DO_NOTE, device, answerCode,
                                      new std::vector<std::shared_ptr<NoteItem>>(std::move(*added)), count,
                                      &sdk::notes::ReleasePayload);
                   }});
}

class NotesXmlReader final : public XmlReader {
public:
    std::vector<NoteItem> notes;

private:
    const char* DocumentKind() const override { return "notes backup"; }
    std::string* TextTarget() override { return m_field != nullptr ? &m_text : nullptr; }
    bool OnOpen(const std::string& name, const XmlAttributes& attributes) override {
        const std::size_t depth = OpenElements().size();
        if (depth == 0) {
            if (name != kNotesRoot) return Fail("not a notes backup: the root element is <" + ShownXmlName(name) + ">");
            if (attributes.size() != 1 || attributes[0].first != "version" || attributes[0].second != kFormatVersion) {
                return Fail("unsupported notes backup version");
            }
            return true;
        }
        if (depth == 1 && name == "note") {
            notes.emplace_back();
            return true;
        }
        if (depth == 2) {
            NoteItem& note = notes.back();
            m_field = name == "title"     ? &note.title
                      : name == "content" ? &note.content
                      : name == "time"    ? &note.time
                                          : nullptr;
            if (m_field != nullptr) {
                m_text.clear();
                return true;
            }
        }
        return Fail("unexpected element <" + ShownXmlName(name) + "> in <" + OpenElements().back() + ">");
    }
    void OnClose() override {
        if (m_field != nullptr) *m_field = vnl::WideFromUtf8(m_text);
        m_field = nullptr;
    }

    std::wstring* m_field = nullptr;
    std::string m_text;
};

void AppendElement(std::string& out, const char* name, const std::wstring& text) {
    out += std::string("    <") + name + ">";
    AppendXmlEscaped(out, text, false);
    out += std::string("</") + name + ">\n";
}

// A cell of the HTML table: line breaks kept as <br>.
void AppendCell(std::string& out, const std::wstring& text) {
    out += "<td>";
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        AppendXmlEscaped(out, text.substr(start, end - start), false);
        out += "<br>";
    }
    AppendXmlEscaped(out, text.substr(start), false);
    out += "</td>";
}

}  // namespace

std::string ComposeNotesXml(const std::vector<const NoteItem*>& notes) {
    std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + kNotesRoot + " version=\"" +
                      kFormatVersion + "\">\n";
    for (const NoteItem* note : notes) {
        if (note == nullptr) continue;
        out += "  <note>\n";
        AppendElement(out, "title", note->title);
        AppendElement(out, "content", note->content);
        AppendElement(out, "time", note->time);
        out += "  </note>\n";
    }
    return out + "</" + kNotesRoot + ">\n";
}

std::string ComposeNotesHtml(const std::vector<const NoteItem*>& notes) {
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Notes</title>\n"
        "<style>table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:4px;vertical-align:top}</style>\n"
        "</head>\n<body>\n<table>\n<tr><th>Title</th><th>Content</th><th>Time</th></tr>\n";
    for (const NoteItem* note : notes) {
        if (note == nullptr) continue;
        out += "<tr>";
        AppendCell(out, note->title);
        AppendCell(out, note->content);
        AppendCell(out, note->time);
        out += "</tr>\n";
    }
    return out + "</table>\n</body>\n</html>\n";
}

bool ReadNotesXml(const std::string& bytes, std::vector<NoteItem>& notes, std::string& error) {
    NotesXmlReader reader;
    if (!reader.Read(bytes, kMaxNotesBackupBytes, error)) return false;
    notes.insert(notes.end(), reader.notes.begin(), reader.notes.end());
    return true;
}

bool HandleNoteAction(ActionsService& service, CommandMessage& message) {
    if (std::strcmp(message.name, ZERITH_COMMAND_DO_NOTE) != 0) return false;
    const std::string device = message.wideText != nullptr ? vnl::Utf8FromWide(message.wideText) : std::string();
    switch (message.code) {
    case sdk::notes::kRelaySave: {
        const auto* pair = static_cast<const WideStringPair*>(message.data);  // lent for the call
        if (pair == nullptr || device.empty()) return true;
        NoteItem note;
        note.title = pair->first;
        note.content = pair->second;
        AddNotes(service, device, {note}, sdk::notes::kRelaySaved);
        return true;
    }
    case sdk::notes::kRelayImportXml: {
        std::unique_ptr<std::vector<std::wstring>> paths(static_cast<std::vector<std::wstring>*>(message.data));
        message.data = nullptr;
        if (!paths || device.empty()) return true;
        std::vector<NoteItem> imported;
        for (const std::wstring& path : *paths) {
            std::string bytes;
            std::string error;
            if (service.Link().ReadWholeFile(path, kMaxNotesBackupBytes, bytes))
                (void)ReadNotesXml(bytes, imported, error);
        }
        AddNotes(service, device, imported, sdk::notes::kRelayImported);
        return true;
    }
    case sdk::notes::kRelayExport:
    case sdk::notes::kRelayBackupXml: {
        const auto* records = static_cast<const std::vector<NoteItem*>*>(message.data);  // lent for the call
        const auto* folder = static_cast<const wchar_t*>(message.extra);
        if (records == nullptr || folder == nullptr) return true;
        const std::vector<const NoteItem*> checked(records->begin(), records->end());
        bool written = false;
        if (message.code == sdk::notes::kRelayExport) {
            written = WriteExport(service.Link(), folder, kNotesHtmlFileName, ComposeNotesHtml(checked));
        } else {
            written = WriteExport(service.Link(), folder, kNotesXmlFileName, ComposeNotesXml(checked));
        }
        message.status = written ? kExportWritten : kExportNotWritten;
        return true;
    }
    default: return false;
    }
}

const BatchReader kNoteBatches = {&ReadRecordBatch<NoteItem, &NoteOf>, &sdk::notes::ReleasePayload};
const ListFeature kNotesList = {kRoutes, std::size(kRoutes), kQueries, std::size(kQueries)};

}  // namespace relay
