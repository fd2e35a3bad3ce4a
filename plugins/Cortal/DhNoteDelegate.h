#pragma once
// DhNoteDelegate: the notes page of one device (the Cortal plug-in) on the list pages' base. Title, content
// and time of each note; New asks the host for a subject and a content and then saves the note, Export
// sends the checked notes for HTML or XML, Import and Refresh ask the host. On iOS 10 and later the page
// cannot add or import notes: New and Import are disabled and a red message says why. While the device
// keeps its notes in iCloud a notice panel replaces the list. Made by the plug-in's receiver, kept for the
// run. UI thread, except PageSequence().

#include <string>

#include "DhListPage.h"
#include "note_codes.h"
#include "note_rules.h"
#include "notice_panel.h"
#include "page_module.h"

class DhNoteDelegate : public DhListPage<DhNoteDelegate, NoteItem> {
public:
    DECLARE_WND_CLASS_EX(L"DhNoteDelegate", CS_DBLCLKS, nullptr)

    static constexpr int kRefreshId = 5000;
    static constexpr int kExportId = 5005;
    static constexpr int kImportId = 5006;
    static constexpr int kContinueId = 5008;
    static constexpr int kNewId = 5009;

    explicit DhNoteDelegate(const pages::PageModule& module) : DhListPage(module.Images()), m_module(module) {}

    void LayOut() override;
    // Asks the host for the device's version and gates New and Import on it (run when the page is shown
    // again).
    void CheckProductVersion();
    const std::wstring& VersionMessage() const { return m_versionMessage; }
    bool IsNoticeShown() const { return m_notice.Shown(); }

protected:
    bool CreateControls() override;
    std::vector<int> ColumnPercents() const override { return {10, 20, 40, 30}; }
    std::vector<std::wstring> RowTexts(const NoteItem& note) const override {
        return {cortal::OneLine(note.title), cortal::OneLine(cortal::PlainText(note.content)), note.time};
    }
    bool Matches(const NoteItem& note, const std::wstring& query) const override;
    void SortRecords(std::vector<NoteItem*>& records, int column, bool ascending) const override;
    void OnPageCommand(int id) override;
    void OnHostReply(int64_t code, void* payload) override;
    void OnDroppedPaths(std::vector<std::wstring> paths) override;
    void PaintExtra(HDC dc, const RECT& client) override;

private:
    void Send(CommandMessage& message, int64_t code);
    void OnLoadingFinished();
    void OnNotesAdded(std::vector<std::shared_ptr<NoteItem>>* notes);
    void OnNew();
    void OnExport();
    void ShowNotice(bool show);
    void PlaceVersionMessage();
    void SetAddingEnabled(bool enabled);

    const pages::PageModule& m_module;
    wtl::UniqueFont m_boldFont;
    VNLSwitchImageButton m_new;
    VNLSwitchImageButton m_export;
    VNLSwitchImageButton m_import;
    VNLSwitchImageButton m_refresh;
    std::wstring m_versionMessage;
    RECT m_versionRect = {};
    bool m_versionWraps = false;  // on two lines: the toolbar is too narrow for one
    NoticePanel m_notice;
};
