// The voice-memo plug-in: its page (DhRecordingDelegate) and its entry and receiver (page_module.h).

#include "DhMediaListPage.h"
#include "command_names.h"
#include "media_rules.h"

namespace {

extern pages::PageModule g_module;

class DhRecordingDelegate : public DhMediaListPage<DhRecordingDelegate, RecordingItem> {
public:
    DECLARE_WND_CLASS_EX(L"DhRecordingDelegate", CS_DBLCLKS, nullptr)
    DhRecordingDelegate() : DhMediaListPage(g_module) {}

protected:
    std::vector<Column> Columns() const override {
        return {{L"Name", 220}, {L"Time", 120}, {L"Size", 80}, {L"Date Created", 80}};
    }
    std::vector<int> ColumnPercents() const override { return {10, 30, 10, 20, 30}; }
    std::vector<std::wstring> RowTexts(const RecordingItem& item) const override {
        return {item.name, item.time, pages::RecordingSizeText(item, SizeText(item.size)), item.dateCreated};
    }
    bool Matches(const RecordingItem& item, const std::wstring& query) const override {
        return pages::RecordingMatches(item, query);
    }
    void SortRecords(std::vector<RecordingItem*>& records, int column, bool ascending) const override {
        pages::SortRecordings(records, column, ascending, &SystemCompareNoCase);
    }
    const wchar_t* ExportCaption() const override { return L"Export Recordings"; }
    const wchar_t* AddCaption() const override { return L"Add Recordings"; }
    const std::wstring& ExportName(const RecordingItem& item) const override { return item.name; }
};

const char* const kOwnedNames[] = {ELVIST_COMMAND_SHOW_WINDOW, ELVIST_COMMAND_CHANGE_SIZE, ELVIST_COMMAND_HIDE_WINDOW,
                                   ELVIST_COMMAND_DO_RECORDING};
const pages::ReplyRow kReplyRows[] = {
    {sdk::recordings::kReplyLoaded, pages::ReplyRoute::PostBatch},
    {sdk::recordings::kReplySequence, pages::ReplyRoute::AnswerSequence},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]),
                                 &sdk::recordings::ReleasePayload, &BatchSequenceOf<RecordingItem>};
const pages::PageModuleSpec kSpec{ELVIST_COMMAND_SHOW_WINDOW,
                                  ELVIST_COMMAND_CHANGE_SIZE,
                                  ELVIST_COMMAND_DO_RECORDING,
                                  kOwnedNames,
                                  sizeof(kOwnedNames) / sizeof(kOwnedNames[0]),
                                  &kReplies,
                                  WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  []() -> DhPageDelegate* { return new DhRecordingDelegate(); },
                                  nullptr};
pages::PageModule g_module(kSpec);

}  // namespace

DEFINE_PAGE_MODULE_ENTRY(g_module)
