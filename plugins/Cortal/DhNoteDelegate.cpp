// The notes page; see DhNoteDelegate.h.
#include "DhNoteDelegate.h"

#include <cstdlib>

#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilityString.h>

#include "command_names.h"
#include "note_rules.h"
#include "theme_colour.h"
#include "wide_pair.h"

namespace {

const wchar_t kVersionMessage[] = L"Notes is not supported in iOS 10 and up.";
const NoticeTexts kNotice = {
    L"iCloud Notes is turned on in your device, Trevane cannot fully load your Notes. Please turn it off and then "
    L"view information on Trevane.",
    L"How to Turn Off iCloud?",
    {L"1. Open \"Settings\" on your Device", L"2. Settings - iCloud - Notes", L"3. Turn off \"Notes\""}};

}  // namespace

bool DhNoteDelegate::CreateControls() {
    m_boldFont.Reset(VNLUtilityApp::GetFont(18, true, L"Arial"));
    if (!CreateList(kListId, {{L"Title", 220}, {L"Content", 120}, {L"Time", 80}})) return false;
    m_list.SetRowHeight(32);
    MakeToolbar({{&m_new, kNewId, L"New", "common\\operate-add"},
                 {&m_export, kExportId, L"Export", "common\\operate-export"},
                 {&m_import, kImportId, L"Import", "common\\operate-import"},
                 {&m_refresh, kRefreshId, L"Refresh", "common\\operate-refresh"}});
    m_notice.Create(m_page, kContinueId, kNotice, Image("note\\content-notes-icloud.png"), m_textFont.get(),
                    m_boldFont.get(), ThemeColour("color:1", RGB(0x3A, 0x8E, 0xE6)),
                    ThemeColour("color:12", RGB(0x6A, 0xAE, 0xF0)));
    return true;
}

void DhNoteDelegate::LayOut() {
    RECT client = {};
    GetClientRect(m_page, &client);
    if (m_notice.Shown()) {
        m_notice.LayOut(client);
    } else {
        LayOutList();
    }
    PlaceVersionMessage();
    InvalidateRect(m_page, nullptr, FALSE);
}

bool DhNoteDelegate::Matches(const NoteItem& note, const std::wstring& query) const {
    return cortal::NoteMatches(note, query);
}

void DhNoteDelegate::SortRecords(std::vector<NoteItem*>& records, int column, bool ascending) const {
    cortal::SortNotes(records, column, ascending, &SystemCompareNoCase);
}

void DhNoteDelegate::Send(CommandMessage& message, int64_t code) {
    message.code = code;
    message.window = m_page;
    m_module.Send(message);
}

// ---- Commands ------------------------------------------------------------------------------------------

void DhNoteDelegate::OnPageCommand(int id) {
    CommandMessage message{};
    switch (id) {
    case kRefreshId:
        ClearAll();
        Send(message, sdk::notes::kRequestLoad);
        break;
    case kContinueId: Send(message, sdk::notes::kRequestLoad); break;
    case kImportId: Send(message, sdk::notes::kRequestImportXml); break;
    case kNewId: OnNew(); break;
    case kExportId: OnExport(); break;
    default: break;
    }
}

void DhNoteDelegate::OnNew() {
    // The host fills the pair with the user's subject and content when the user confirms.
    WideStringPair note(L"Subject:", L"Content:");
    CommandMessage message{};
    message.data = &note;
    Send(message, sdk::notes::kRequestAskNote);
    if (message.status == 0) return;
    message.status = 0;
    Send(message, sdk::notes::kRequestSave);
}

void DhNoteDelegate::OnExport() {
    const int choice = TrackMenuBelow(m_export, {{static_cast<int>(sdk::notes::kRequestExport), L"Export to HTML"},
                                                 {static_cast<int>(sdk::notes::kRequestBackupXml), L"Export to XML"}});
    if (choice == 0) return;
    // Sent even when nothing is checked: the host tells the user.
    auto checked = std::make_unique<std::vector<NoteItem*>>(CheckedRecords());
    CommandMessage message{};
    message.count = static_cast<int64_t>(checked->size());
    message.data = checked.release();
    Send(message, choice);
}

void DhNoteDelegate::OnDroppedPaths(std::vector<std::wstring> paths) {
    CommandMessage message{};
    message.data = &paths;  // lent for the call
    message.count = static_cast<int64_t>(paths.size());
    message.wideText = const_cast<wchar_t*>(L"Add Notes");
    Send(message, sdk::notes::kRequestAddFiles);
}

// ---- Host replies ------------------------------------------------------------------------------------

void DhNoteDelegate::OnHostReply(int64_t code, void* payload) {
    switch (code) {
    case sdk::notes::kReplyLoaded:
        if (payload == nullptr) {
            OnLoadingFinished();
        } else {
            AcceptBatch(static_cast<ItemBatch<NoteItem>*>(payload));
        }
        break;
    case sdk::notes::kReplyChanged: OnNotesAdded(static_cast<std::vector<std::shared_ptr<NoteItem>>*>(payload)); break;
    case sdk::notes::kReplyHideCloudNotice: ShowNotice(false); break;
    case sdk::notes::kReplyShowCloudNotice: ShowNotice(true); break;
    default: break;
    }
}

void DhNoteDelegate::OnLoadingFinished() {
    cortal::SortHeldByTime(m_held);
    const int rows = std::min(m_list.ItemCount(), static_cast<int>(m_held.size()));
    for (int row = 0; row < rows; ++row) {
        if (RowRecord(row) != m_held[static_cast<size_t>(row)].get())
            WriteRow(row, m_held[static_cast<size_t>(row)].get());
    }
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhNoteDelegate::OnNotesAdded(std::vector<std::shared_ptr<NoteItem>>* notes) {
    std::unique_ptr<std::vector<std::shared_ptr<NoteItem>>> owner(notes);
    if (!owner) return;
    // Each new note goes on top, above the one added before it.
    for (const std::shared_ptr<NoteItem>& note : *owner) {
        if (!note) continue;
        m_held.push_back(note);
        InsertRow(0, note.get());
    }
    SetColumnWidths(ColumnPercents());
}

void DhNoteDelegate::ShowNotice(bool show) {
    std::vector<HWND> controls = {m_list, m_new, m_export, m_import, m_refresh, m_searchEdit, m_searchButton};
    for (HWND line : m_frameLines) controls.push_back(line);
    if (!m_notice.Show(show, controls)) return;
    LayOut();
    RedrawWindow(m_page, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// ---- The version gate -----------------------------------------------------------------------------------

void DhNoteDelegate::SetAddingEnabled(bool enabled) {
    for (VNLSwitchImageButton* button : {&m_new, &m_import}) {
        EnableWindow(*button, enabled ? TRUE : FALSE);
        button->SetState(enabled ? 0 : 3);
        InvalidateRect(*button, nullptr, FALSE);
    }
}

void DhNoteDelegate::CheckProductVersion() {
    CommandMessage message{};
    message.name = CORTAL_COMMAND_GET_iOS_PRODUCTVERSION;
    m_module.Invoke(message);
    RECT toolbar = {0, 0, 0, kToolbarHeight};
    GetClientRect(m_page, &toolbar);
    toolbar.bottom = kToolbarHeight;
    if (message.extra == nullptr) {
        InvalidateRect(m_page, &toolbar, FALSE);
        return;
    }
    wchar_t* answer = static_cast<wchar_t*>(message.extra);
    char* version = VNLUtilityString::ConvertUnicodeToUtf8(answer);
    if (VNLUtilityString::CompareVersion(version != nullptr ? version : "", "10.0.0") < 0) {
        m_versionMessage.clear();
        SetAddingEnabled(true);
    } else {
        if (m_versionMessage.empty()) {
            m_versionMessage = kVersionMessage;
            PlaceVersionMessage();
        }
        SetAddingEnabled(false);
    }
    std::free(answer);
    VNLUtilityString::Free(version);
    InvalidateRect(m_page, &toolbar, FALSE);
}

void DhNoteDelegate::PlaceVersionMessage() {
    if (m_versionMessage.empty() || m_refresh.m_hWnd == nullptr) return;
    RECT refresh = {};
    GetWindowRect(m_refresh, &refresh);
    MapWindowPoints(nullptr, m_page, reinterpret_cast<POINT*>(&refresh), 2);
    RECT edit = {};
    GetWindowRect(m_searchEdit, &edit);
    MapWindowPoints(nullptr, m_page, reinterpret_cast<POINT*>(&edit), 2);
    wtl::WindowDC dc(m_page);
    wtl::SelectGuard font(dc.get(), m_textFont.get());
    SIZE size = {};
    GetTextExtentPoint32W(dc.get(), m_versionMessage.c_str(), static_cast<int>(m_versionMessage.size()), &size);
    const int middle = (edit.top + edit.bottom) / 2;
    const int available = edit.left - 2 - refresh.right;
    // A narrow toolbar takes the message on two lines rather than cutting off its start.
    m_versionWraps = size.cx > available;
    int height = size.cy;
    if (m_versionWraps) {
        RECT measured = {0, 0, available, 0};
        DrawTextW(dc.get(), m_versionMessage.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        height = measured.bottom;
    }
    m_versionRect = RECT{refresh.right, middle - height / 2, edit.left - 2, middle - height / 2 + height};
}

void DhNoteDelegate::PaintExtra(HDC dc, const RECT& client) {
    if (m_notice.Shown()) {
        m_notice.Paint(dc, client);
        return;
    }
    if (m_versionMessage.empty()) return;
    wtl::SelectGuard font(dc, m_textFont.get());
    SetTextColor(dc, RGB(0xFF, 0, 0));
    RECT rect = m_versionRect;
    const UINT lines = m_versionWraps ? DT_WORDBREAK : DT_VCENTER | DT_SINGLELINE;
    DrawTextW(dc, m_versionMessage.c_str(), -1, &rect, DT_RIGHT | DT_NOPREFIX | lines);
}
