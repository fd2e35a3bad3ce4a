// The ringtone plug-in: its page (DhRingtoneDelegate, the voice-memo page's list code with its own columns
// and rules) and its entry and receiver (page_module.h).

#include "DhMediaListPage.h"
#include "command_names.h"
#include "media_rules.h"

namespace {

extern pages::PageModule g_module;

class DhRingtoneDelegate : public DhMediaListPage<DhRingtoneDelegate, RingtoneItem> {
public:
    DECLARE_WND_CLASS_EX(L"DhRingtoneDelegate", CS_DBLCLKS, nullptr)
    DhRingtoneDelegate() : DhMediaListPage(g_module) {}

protected:
    std::vector<Column> Columns() const override {
        return {{L"Title", 220}, {L"Time", 120}, {L"Artist", 120}, {L"Album", 120}, {L"Genre", 120}, {L"Size", 80}};
    }
    std::vector<int> ColumnPercents() const override { return {10, 20, 20, 10, 10, 10, 20}; }
    std::vector<std::wstring> RowTexts(const RingtoneItem& item) const override {
        return {item.title, item.time, L"", L"", L"", SizeText(item.size)};
    }
    bool Matches(const RingtoneItem& item, const std::wstring& query) const override {
        return pages::RingtoneMatches(item, query);
    }
    void SortRecords(std::vector<RingtoneItem*>& records, int column, bool ascending) const override {
        pages::SortRingtones(records, column, ascending, &SystemCompareNoCase);
    }
    const wchar_t* ExportCaption() const override { return L"Export Ringtones"; }
    const wchar_t* AddCaption() const override { return L"Add Ringtones"; }
    const std::wstring& ExportName(const RingtoneItem& item) const override { return item.title; }
};

const char* const kOwnedNames[] = {FAYDRA_COMMAND_SHOW_WINDOW, FAYDRA_COMMAND_CHANGE_SIZE, FAYDRA_COMMAND_HIDE_WINDOW,
                                   FAYDRA_COMMAND_DO_RINGTONE};
const pages::ReplyRow kReplyRows[] = {
    {sdk::recordings::kReplyLoaded, pages::ReplyRoute::PostBatch},
    {sdk::recordings::kReplySequence, pages::ReplyRoute::AnswerSequence},
    {sdk::recordings::kReplyWindow, pages::ReplyRoute::AnswerWindow},
};
const pages::ReplyTable kReplies{kReplyRows, sizeof(kReplyRows) / sizeof(kReplyRows[0]),
                                 &sdk::ringtones::ReleasePayload, &BatchSequenceOf<RingtoneItem>};
const pages::PageModuleSpec kSpec{FAYDRA_COMMAND_SHOW_WINDOW,
                                  FAYDRA_COMMAND_CHANGE_SIZE,
                                  FAYDRA_COMMAND_DO_RINGTONE,
                                  kOwnedNames,
                                  sizeof(kOwnedNames) / sizeof(kOwnedNames[0]),
                                  &kReplies,
                                  WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  []() -> DhPageDelegate* { return new DhRingtoneDelegate(); },
                                  nullptr};
pages::PageModule g_module(kSpec);

}  // namespace

DEFINE_PAGE_MODULE_ENTRY(g_module)
