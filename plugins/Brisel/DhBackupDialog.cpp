#include "DhBackupDialog.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include <vornel/VNLUtilityApp.h>

#include "brisel_module.h"
#include "brisel_window_support.h"
#include "feature_codes.h"
#include "theme_colour.h"
#include "theme_keys.h"
#include "vnl_size_text.h"

namespace {

enum ControlId : int {
    kClose = 5000,
    kList = 5001,
    kBackup = 5002,
    kImport = 5003,
    kDelete = 5004,
    kRestore = 5005,
    kRefresh = 5006,
    kStatus = 5007,
};

// Requests to the host.
constexpr int64_t kAskList = 0;
constexpr int64_t kAskImport = 4;
constexpr int64_t kAskDelete = 5;
// Answers from the host: the list's records, sizes and end, a deleted backup's key, the devices that come
// and go and the reports of the backups and restores under way.
constexpr WPARAM kReplyBackup = 1;
constexpr WPARAM kReplySize = 2;
constexpr WPARAM kReplyComplete = 3;
constexpr WPARAM kReplyDeleted = 5;
constexpr WPARAM kReplyDeviceCame = 16;
constexpr WPARAM kReplyDeviceWent = 17;
constexpr WPARAM kReplyRunReport = 136;

constexpr int kTitleBottom = 27;
constexpr int kToolbarBottom = 57;
constexpr int kStatusHeight = 29;
constexpr int kToolbarGap = 20;
constexpr COLORREF kFrameColour = RGB(0x7F, 0x7F, 0x7F);
constexpr COLORREF kFailureColour = RGB(0xC0, 0x1C, 0x1C);
constexpr int kRunBarWidth = 100;
constexpr int kRunGap = 24;  // between two runs' lines

const RECT kListRect = {1, kToolbarBottom + 1, DhBackupDialog::kWidth - 1, DhBackupDialog::kHeight - kStatusHeight - 1};
const RECT kStatusRect = {1, DhBackupDialog::kHeight - kStatusHeight, DhBackupDialog::kWidth - 1,
                          DhBackupDialog::kHeight - 1};

}  // namespace

bool DhBackupDialog::CreateFor(HWND owner) {
    m_owner = owner;
    const RECT rect = {0, 0, kWidth, kHeight};
    return Create(owner, rect, L"iTunes Backup Management", WS_POPUP | WS_CLIPCHILDREN) != nullptr;
}

HWND DhBackupDialog::TopLevelOwner() const { return brisel::TopLevelOwnerOf(m_owner); }

void DhBackupDialog::ShowManager() {
    RECT owner = {0, 0, kWidth, kHeight};
    if (HWND top = TopLevelOwner()) GetWindowRect(top, &owner);
    const int x = owner.left + (owner.right - owner.left - kWidth) / 2;
    const int y = owner.top + (owner.bottom - owner.top - kHeight) / 2;
    SetWindowPos(m_hWnd, HWND_TOP, x, y, kWidth, kHeight, SWP_SHOWWINDOW);
    // The host's whole window takes no input while the manager shows.
    if (HWND top = TopLevelOwner()) EnableWindow(top, FALSE);
    Clear();
    Send(kAskList);
}

LRESULT DhBackupDialog::OnCreate(CREATESTRUCTW*) {
    m_font.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_boldFont.Reset(VNLUtilityApp::GetFont(16, true, L"Arial"));
    m_titleColour = ThemeColour("color:1", m_titleColour);
    m_toolbarColour = ThemeColour("color:7", m_toolbarColour);
    m_statusColour = ThemeColour("color:15", m_statusColour);
    m_pressedColour = ThemeColour("color:task:operator:button:pressed", m_pressedColour);

    HWND close = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kClose)), brisel::Module(), nullptr);
    if (close != nullptr && m_close.SubclassWindow(close)) {
        m_close.SetImages(brisel::Image("common\\close-normal.png"), brisel::Image("common\\close-pressed.png"), -6, 6);
    }
    MakeToolbarButton(m_import, kImport, L"Import", "common\\operate-add-normal.png",
                      "common\\operate-add-pressed.png");
    MakeToolbarButton(m_delete, kDelete, L"Delete", "common\\operate-export-normal.png",
                      "common\\operate-export-pressed.png");
    MakeToolbarButton(m_backup, kBackup, L"Backup", THEME_BACKUP_BACKUP_NORMAL, THEME_BACKUP_BACKUP_PRESSED);
    MakeToolbarButton(m_restore, kRestore, L"Restore", THEME_BACKUP_RESTORE_NORMAL, THEME_BACKUP_RESTORE_PRESSED);
    MakeToolbarButton(m_refresh, kRefresh, L"Refresh", "common\\operate-refresh-normal.png",
                      "common\\operate-refresh-pressed.png");
    int x = 10;
    for (VNLSwitchImageButton* button : {&m_import, &m_delete, &m_backup, &m_restore, &m_refresh}) {
        if (button->m_hWnd == nullptr) continue;
        const controls::SwitchImageLayout& layout = button->Layout();
        SetWindowPos(*button, nullptr, x, 35 - 8, layout.preferredWidth, layout.preferredHeight, SWP_NOZORDER);
        x += layout.preferredWidth + kToolbarGap;
    }

    m_list.SetCheckImages(brisel::Image("common\\content-check-yes.png"),
                          brisel::Image("common\\content-check-no.png"));
    m_list.SetDefaultRowImage(brisel::Image(THEME_BACKUP_UNENCRYPTED));
    m_list.SetRowImageCallback(&brisel::BackupRowIcon);
    if (m_list.Create(m_hWnd, kListRect, kList) == nullptr) return -1;
    m_list.RefreshRowHeight();
    SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    SendMessageW(m_list.Header(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    const struct {
        const wchar_t* caption;
        int share;
    } kColumns[] = {{L"", 6},         {L"Name", 20},  {L"Time", 18},         {L"Size", 10},
                    {L"Version", 16}, {L"Model", 16}, {L"Serial Number", 14}};
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        m_list.InsertColumn(static_cast<int>(i), kColumns[i].caption, 0);
        m_shares.push_back(kColumns[i].share);
    }
    FitColumns();

    m_statusLine =
        CreateWindowExW(0, L"STATIC", m_status.c_str(), WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, kStatusRect.left,
                        kStatusRect.top, kStatusRect.right - kStatusRect.left, kStatusRect.bottom - kStatusRect.top,
                        m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatus)), brisel::Module(), nullptr);
    SendMessageW(m_statusLine, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);

    m_tooltip = brisel::MakeKeyTooltip(m_hWnd, m_list);
    if (!m_newBackup.CreateFor(m_hWnd, m_backups, m_runs) || !m_restoreDialog.CreateFor(m_hWnd, m_backups, m_runs))
        return -1;
    SetWindowRgn(m_hWnd, CreateRoundRectRgn(0, 0, kWidth + 1, kHeight + 1, 5, 5), FALSE);
    return 0;
}

void DhBackupDialog::MakeToolbarButton(VNLSwitchImageButton& button, int id, const wchar_t* caption, const char* normal,
                                       const char* pressed) {
    HWND window = CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), brisel::Module(), nullptr);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    button.SetLayoutMode(2);
    button.SetMargins(2, 1);
    button.SetSwitchMode(false);
    button.SetImagesAt(m_toolbarColour, m_pressedColour, caption, brisel::Image(normal), brisel::Image(pressed), 0);
}

void DhBackupDialog::OnPaint() {
    wtl::PaintDC target(m_hWnd);
    RECT client;
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC buffer(target.get(), client.right, client.bottom);
    HDC dc = buffer.get();
    brisel::FillSolid(dc, client, m_toolbarColour);
    wchar_t caption[128] = {};
    GetWindowTextW(m_hWnd, caption, 128);
    brisel::PaintTitleFrame(dc, client, kTitleBottom, m_titleColour, m_boldFont.get(), caption);
    brisel::FrameRectangle(dc, {0, 0, client.right, kTitleBottom + 1}, kFrameColour, 1);  // the line under the title
    brisel::FrameRectangle(dc, {kListRect.left - 1, kListRect.top - 1, kListRect.right + 1, kListRect.bottom + 1},
                           kFrameColour, 1);
    buffer.CopyTo(target.get(), 0, 0, client.right, client.bottom);
}

bool DhBackupDialog::OnDrawItem(WPARAM id, LPARAM lParam, LRESULT& result) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (id != static_cast<WPARAM>(kStatus) || item == nullptr) return false;
    const RECT& area = item->rcItem;
    wtl::MemoryDC buffer(item->hDC, area.right - area.left, area.bottom - area.top);
    PaintStatus(buffer.get(), {0, 0, area.right - area.left, area.bottom - area.top});
    buffer.CopyTo(item->hDC, area.left, area.top, area.right - area.left, area.bottom - area.top);
    result = TRUE;
    return true;
}

void DhBackupDialog::PaintStatus(HDC dc, RECT status) {
    brisel::FillSolid(dc, status, m_statusColour);
    wtl::SelectGuard selectFont(dc, m_font.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    const std::wstring runs = m_runs.Text();
    if (runs.empty()) {
        DrawTextW(dc, m_status.c_str(), -1, &status, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else {
        // The runs on the left (a failure in red, the running one with its bar), the list's summary on the right.
        status.left += 10;
        status.right -= 10;
        RECT summary = status;
        DrawTextW(dc, m_status.c_str(), -1, &summary, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        const int summaryWidth = summary.right - summary.left;
        summary = status;
        DrawTextW(dc, m_status.c_str(), -1, &summary, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        const int percent = m_runs.RunningPercent();
        if (percent >= 0) {
            const int middle = (status.top + status.bottom) / 2;
            const RECT bar = {status.left, middle - 5, status.left + kRunBarWidth, middle + 5};
            brisel::FrameRectangle(dc, bar, kFrameColour, 1);
            brisel::FillSolid(
                dc, {bar.left + 2, bar.top + 2, bar.left + 2 + (kRunBarWidth - 4) * percent / 100, bar.bottom - 2},
                m_titleColour);
            status.left += kRunBarWidth + 10;
        }
        status.right -= summaryWidth + 20;
        // Newest first, each in its own colour; after the newest only whole lines, so none is cut short.
        bool first = true;
        for (const brisel::BackupRuns::Line& line : m_runs.Lines()) {
            RECT measured = status;
            DrawTextW(dc, line.text.c_str(), -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            const int width = measured.right - measured.left;
            if (!first && status.left + width > status.right) break;
            SetTextColor(dc, line.failed ? kFailureColour : RGB(0, 0, 0));
            DrawTextW(dc, line.text.c_str(), -1, &status,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            status.left += width + kRunGap;
            first = false;
        }
    }
}

LRESULT DhBackupDialog::OnLButtonDown(WPARAM, LPARAM) {
    brisel::StartDrag(m_hWnd);
    return 0;
}

void DhBackupDialog::OnCommand(UINT, int id, HWND) {
    switch (id) {
    case kClose:
        if (HWND top = TopLevelOwner()) EnableWindow(top, TRUE);
        ShowWindow(m_hWnd, SW_HIDE);
        Clear();
        m_runs.ForgetEnded();  // their outcome has been on screen
        break;
    case kImport: Send(kAskImport); break;
    case kBackup: m_newBackup.ShowDialog(); break;
    case kRestore: m_restoreDialog.ShowDialog(); break;
    case kDelete: DeleteChecked(); break;
    case kRefresh:
        Clear();
        Send(kAskList);
        break;
    default: break;
    }
}

void DhBackupDialog::OnCloseRequest() { OnCommand(BN_CLICKED, kClose, nullptr); }

bool DhBackupDialog::OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->idFrom != static_cast<UINT_PTR>(kList) || header->code != NM_CLICK) return false;
    m_clickedRow = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
    const iOSBackup* backup = m_backups.At(m_clickedRow);
    if (backup != nullptr) brisel::ShowKeyTooltip(m_tooltip, m_hWnd, m_list, backup->key);
    result = 0;
    return true;
}

LRESULT DhBackupDialog::OnHostReply(WPARAM code, LPARAM payload) {
    void* data = reinterpret_cast<void*>(payload);
    if (code == kReplyBackup) {
        std::unique_ptr<iOSBackup> backup(static_cast<iOSBackup*>(data));
        if (backup) AddBackup(brisel::BackupPtr(std::move(backup)));
    } else if (code == kReplySize) {
        std::unique_ptr<BackupSizeUpdate> update(static_cast<BackupSizeUpdate*>(data));
        if (update) m_backups.SetSize(update->key, update->size);
        UpdateStatus();
    } else if (code == kReplyComplete) {
        ShowSorted();
        UpdateStatus();
    } else if (code == kReplyDeleted) {
        std::unique_ptr<wchar_t, void (*)(void*)> key(static_cast<wchar_t*>(data), &std::free);
        if (key) {
            const int row = m_backups.Remove(key.get());
            if (row >= 0) {
                m_list.DeleteItem(row);
                FitColumns();
            }
        }
        UpdateStatus();
    } else if (code == kReplyDeviceCame || code == kReplyDeviceWent) {
        std::unique_ptr<WideStringPair> device(static_cast<WideStringPair*>(data));
        if (device) OnDeviceEvent(code, *device);
    } else if (code == kReplyRunReport) {
        std::unique_ptr<sdk::backups::BackupRunReport> report(static_cast<sdk::backups::BackupRunReport*>(data));
        if (report && m_runs.Apply(*report)) UpdateStatus();
    } else {
        sdk::backups::ReleasePayload(PayloadLeg::PageReply, static_cast<int64_t>(code), data);
    }
    return 0;
}

void DhBackupDialog::OnDeviceEvent(WPARAM code, const WideStringPair& device) {
    for (DhDeviceDialog* dialog :
         {static_cast<DhDeviceDialog*>(&m_newBackup), static_cast<DhDeviceDialog*>(&m_restoreDialog)}) {
        if (dialog->m_hWnd == nullptr || !IsWindowVisible(*dialog)) continue;
        if (code == kReplyDeviceCame) {
            dialog->AddDevice(device.first, device.second);
        } else {
            dialog->RemoveDevice(device.first);
        }
    }
}

void DhBackupDialog::AddBackup(brisel::BackupPtr backup) {
    if (!m_backups.Add(backup)) return;
    const int row = m_list.AddItem({L""});
    if (row >= 0) WriteRow(row, *backup);
}

void DhBackupDialog::WriteRow(int row, const iOSBackup& backup) {
    m_list.SetItemData(row, reinterpret_cast<LPARAM>(&backup));
    m_list.SetItemTexts(row, {L"", backup.name, brisel::TimeText(backup),
                              vnl::FormatByteSize(static_cast<uint64_t>(backup.size)),
                              brisel::VersionText(backup), backup.model, backup.serialNumber});
}

// The rows follow the list's order by time, with the sizes known by now.
void DhBackupDialog::ShowSorted() {
    m_backups.SortByTime();
    const auto& items = m_backups.Items();
    for (int row = 0; row < m_list.ItemCount() && row < static_cast<int>(items.size()); ++row) {
        WriteRow(row, *items[static_cast<size_t>(row)]);
    }
    FitColumns();
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhBackupDialog::FitColumns() {
    Gdiplus::Bitmap* check = brisel::Image("common\\content-check-yes.png");
    brisel::FitListColumns(m_list, m_font.get(), m_shares, check != nullptr ? static_cast<int>(check->GetWidth()) : 0);
}

void DhBackupDialog::Clear() {
    m_backups.Clear();
    m_list.DeleteAllItems();
    m_clickedRow = -1;
}

void DhBackupDialog::DeleteChecked() {
    std::vector<bool> checked;
    for (int row = 0; row < m_list.ItemCount(); ++row) checked.push_back(m_list.IsChecked(row));
    auto* keys = new std::vector<std::wstring>(m_backups.KeysOf(checked));  // the host's from here on
    Send(kAskDelete, keys, static_cast<int64_t>(keys->size()));
}

void DhBackupDialog::UpdateStatus() {
    m_status = m_backups.SummaryText();
    const std::wstring runs = m_runs.Text();
    SetWindowTextW(m_statusLine, (runs.empty() ? m_status : runs + L"   " + m_status).c_str());
    InvalidateRect(m_statusLine, nullptr, FALSE);
}

void DhBackupDialog::Send(int64_t code, void* data, int64_t count) {
    CommandMessage message{};
    message.code = code;
    message.data = data;
    message.count = count;
    message.window = m_hWnd;
    if (!brisel::SendBackupCommand(message)) {
        sdk::backups::ReleasePayload(PayloadLeg::PageRequest, code, data);
    }
}
