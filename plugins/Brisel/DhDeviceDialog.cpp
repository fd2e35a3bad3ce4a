#include "DhDeviceDialog.h"

#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include <vornel/VNLUtilityApp.h>

#include "brisel_module.h"
#include "brisel_window_support.h"
#include "feature_codes.h"
#include "theme_colour.h"
#include "theme_keys.h"
#include "vnl_size_text.h"

namespace {

constexpr int64_t kAskDevices = 6;
constexpr COLORREF kGroupColour = RGB(0xC8, 0xC8, 0xC8);
constexpr COLORREF kCaptionColour = RGB(0x64, 0x64, 0x64);
constexpr int kComboDropHeight = 200;  // the box and its drop-down list

}  // namespace

DhDeviceDialog::DhDeviceDialog(const wchar_t* title, int width, const wchar_t* deviceCaption,
                               const wchar_t* listCaption, std::vector<Column> columns)
    : m_title(title),
      m_width(width),
      m_deviceCaption(deviceCaption),
      m_listCaption(listCaption),
      m_columns(std::move(columns)) {}

bool DhDeviceDialog::CreateFor(HWND owner, const brisel::BackupList& backups, brisel::BackupRuns& runs) {
    m_owner = owner;
    m_source = &backups;
    m_runs = &runs;
    const RECT rect = {0, 0, m_width, kWindowHeight};
    return Create(owner, rect, m_title, WS_POPUP | WS_CLIPCHILDREN) != nullptr;
}

void DhDeviceDialog::NoteRun(sdk::backups::RunKind kind, const WideStringPair& device) {
    if (m_runs != nullptr) m_runs->Start(kind, device.first, device.second);
    InvalidateRect(m_owner, nullptr, FALSE);  // the manager's status line shows it
}

HWND DhDeviceDialog::MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, int id) {
    HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), brisel::Module(), nullptr);
    if (child != nullptr) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    return child;
}

void DhDeviceDialog::MakeTextButton(VNLSwitchButton& button, int id, const wchar_t* caption) {
    HWND window = MakeChild(L"BUTTON", caption, BS_OWNERDRAW, id);
    if (window == nullptr || !button.SubclassWindow(window)) return;
    button.SetSwitchMode(false);
    button.SetColours(m_buttonColour, RGB(0xFF, 0xFF, 0xFF), m_buttonHotColour, RGB(0xFF, 0xFF, 0xFF));
    button.SetMargins(20, 6);
    button.SetText(caption);
}

LRESULT DhDeviceDialog::OnCreate(CREATESTRUCTW*) {
    m_font.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_boldFont.Reset(VNLUtilityApp::GetFont(16, true, L"Arial"));
    m_titleColour = ThemeColour("color:1", m_titleColour);
    m_editColour = ThemeColour("color:7", m_editColour);
    m_buttonColour = ThemeColour("color:1", m_buttonColour);
    m_buttonHotColour = ThemeColour("color:12", m_buttonHotColour);
    m_editBrush.Reset(CreateSolidBrush(m_editColour));

    HWND close = MakeChild(L"BUTTON", L"", BS_OWNERDRAW, kClose);
    if (close != nullptr && m_close.SubclassWindow(close)) {
        m_close.SetImages(brisel::Image("common\\close-normal.png"), brisel::Image("common\\close-pressed.png"), -6, 6);
    }
    m_deviceBox = MakeChild(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kDevices);
    if (m_deviceBox == nullptr || !CreateExtras()) return -1;

    m_list.SetDefaultRowImage(brisel::Image(THEME_BACKUP_UNENCRYPTED));
    m_list.SetRowImageCallback(&brisel::BackupRowIcon);
    const RECT listRect = {40, kTitleBottom + 140, m_width - 40, kTitleBottom + 410};
    if (m_list.Create(m_hWnd, listRect, kList) == nullptr) return -1;
    SetWindowLongW(m_list, GWL_STYLE, GetWindowLongW(m_list, GWL_STYLE) | WS_BORDER);
    m_list.RefreshRowHeight();
    SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    SendMessageW(m_list.Header(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);

    MakeTextButton(m_ok, kOk, L"OK");
    MakeTextButton(m_cancel, kCancel, L"Cancel");

    m_tooltip = brisel::MakeKeyTooltip(m_hWnd, m_list);
    SetWindowRgn(m_hWnd, CreateRoundRectRgn(0, 0, m_width + 1, kWindowHeight + 1, 5, 5), FALSE);
    Layout();
    return 0;
}

void DhDeviceDialog::Layout() {
    const int width = m_width;
    m_deviceGroup = {20, kTitleBottom + 20, width - 20, kTitleBottom + 100};
    m_listGroup = {20, kTitleBottom + 120, width - 20, kTitleBottom + 420};
    SetWindowPos(m_deviceBox, nullptr, 40, kTitleBottom + 50, width - 80, kComboDropHeight, SWP_NOZORDER);
    const int listTop = LayoutExtras(width);
    SetWindowPos(m_list, nullptr, 40, listTop, width - 80, kTitleBottom + 410 - listTop,
                 SWP_NOZORDER | SWP_FRAMECHANGED);

    for (size_t i = 0; i < m_columns.size(); ++i) m_list.InsertColumn(static_cast<int>(i), m_columns[i].caption, 0);
    FitColumns();

    // "OK" and "Cancel" at the bottom right, 14 pixels above the bottom edge.
    int right = width - 20;
    for (VNLSwitchButton* button : {&m_cancel, &m_ok}) {
        if (button->m_hWnd == nullptr) continue;
        const int w = button->PreferredWidth();
        const int h = button->PreferredHeight();
        SetWindowPos(*button, nullptr, right - w, kWindowHeight - 14 - h, w, h, SWP_NOZORDER);
        right -= w + 20;
    }
}

CommandMessage DhDeviceDialog::Send(int64_t code, const wchar_t* wideText, void* data, HWND window) {
    CommandMessage message{};
    message.code = code;
    message.wideText = const_cast<wchar_t*>(wideText);
    message.data = data;
    message.window = window != nullptr ? window : m_hWnd;
    if (!brisel::SendBackupCommand(message)) sdk::backups::ReleasePayload(PayloadLeg::PageRequest, code, data);
    return message;
}

void DhDeviceDialog::ShowDialog() {
    RECT owner = {0, 0, m_width, kWindowHeight};
    if (HWND top = brisel::TopLevelOwnerOf(m_owner)) GetWindowRect(top, &owner);
    const int x = owner.left + (owner.right - owner.left - m_width) / 2;
    const int y = owner.top + (owner.bottom - owner.top - kWindowHeight) / 2 + 40;
    SetWindowPos(m_hWnd, HWND_TOP, x, y, m_width, kWindowHeight, SWP_SHOWWINDOW);
    EnableWindow(m_owner, FALSE);
    BeforeDevices();

    CommandMessage answer = Send(kAskDevices);
    // The host answers a heap vector of (device key, name), or nothing: no device then.
    std::unique_ptr<std::vector<WideStringPair>> devices(static_cast<std::vector<WideStringPair>*>(answer.extra));
    m_devices.Replace(devices.get());
    SendMessageW(m_deviceBox, CB_RESETCONTENT, 0, 0);
    for (const WideStringPair& device : m_devices.Devices()) {
        SendMessageW(m_deviceBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device.second.c_str()));
    }
    if (m_devices.Selected() >= 0) {
        SendMessageW(m_deviceBox, CB_SETCURSEL, 0, 0);
        PostDeviceChosen();
    }
}

void DhDeviceDialog::PostDeviceChosen() {
    PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(kDevices, CBN_SELCHANGE), reinterpret_cast<LPARAM>(m_deviceBox));
}

void DhDeviceDialog::AddDevice(const std::wstring& key, const std::wstring& name) {
    bool selectedFirst = false;
    if (!m_devices.Add(key, name, selectedFirst)) return;
    SendMessageW(m_deviceBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (selectedFirst) {
        SendMessageW(m_deviceBox, CB_SETCURSEL, 0, 0);
        PostDeviceChosen();
    }
}

void DhDeviceDialog::RemoveDevice(const std::wstring& key) {
    const brisel::DeviceChoice::Removal removal = m_devices.Remove(key);
    if (removal.index < 0) return;
    SendMessageW(m_deviceBox, CB_DELETESTRING, static_cast<WPARAM>(removal.index), 0);
    if (removal.nowEmpty) {
        SendMessageW(m_deviceBox, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        InvalidateRect(m_deviceBox, nullptr, TRUE);
        OnDeviceChosen();
    } else if (removal.selectionMoved) {
        SendMessageW(m_deviceBox, CB_SETCURSEL, 0, 0);
        PostDeviceChosen();
    }
}

void DhDeviceDialog::CloseDialog() {
    EnableWindow(m_owner, TRUE);
    ShowWindow(m_hWnd, SW_HIDE);
    ShowRows({});
    m_devices.Clear();
    SendMessageW(m_deviceBox, CB_RESETCONTENT, 0, 0);
    m_clickedRow = -1;
}

void DhDeviceDialog::ShowRows(std::vector<brisel::BackupPtr> backups) {
    m_list.DeleteAllItems();
    m_rows = std::move(backups);
    for (const brisel::BackupPtr& backup : m_rows) {
        std::vector<std::wstring> texts = {
            L"",
            backup->name,
            brisel::TimeText(*backup),
            vnl::FormatByteSize(static_cast<uint64_t>(std::max<int64_t>(backup->size, 0))),
            brisel::VersionText(*backup),
            backup->model};
        texts.resize(m_columns.size());
        const int row = m_list.AddItem(texts);
        if (row >= 0) m_list.SetItemData(row, reinterpret_cast<LPARAM>(backup.get()));
    }
    m_clickedRow = -1;
    FitColumns();
    InvalidateRect(m_list, nullptr, TRUE);
}

void DhDeviceDialog::FitColumns() {
    std::vector<int> shares;
    for (const Column& column : m_columns) shares.push_back(column.share);
    brisel::FitListColumns(m_list, m_font.get(), shares, 0);  // the dialogs' lists have no check boxes
}

void DhDeviceDialog::OnCommand(UINT notifyCode, int id, HWND) {
    switch (id) {
    case kClose:
    case kCancel: CloseDialog(); break;
    case kOk: OnOk(); break;
    case kDevices:
        if (notifyCode == CBN_SELCHANGE) {
            m_devices.Select(static_cast<int>(SendMessageW(m_deviceBox, CB_GETCURSEL, 0, 0)));
            if (m_devices.Selected() >= 0) OnDeviceChosen();
        }
        break;
    default: OnExtraCommand(id, notifyCode); break;
    }
}

bool DhDeviceDialog::OnNotify(WPARAM, LPARAM lParam, LRESULT& result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->idFrom != static_cast<UINT_PTR>(kList) || header->code != NM_CLICK) return false;
    m_clickedRow = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
    if (m_clickedRow >= 0 && m_clickedRow < static_cast<int>(m_rows.size())) {
        brisel::ShowKeyTooltip(m_tooltip, m_hWnd, m_list, m_rows[static_cast<size_t>(m_clickedRow)]->key);
    }
    result = 0;
    return true;
}

LRESULT DhDeviceDialog::OnLButtonDown(WPARAM, LPARAM) {
    brisel::StartDrag(m_hWnd);
    return 0;
}

LRESULT DhDeviceDialog::OnEditColour(WPARAM dc, LPARAM) {
    SetBkColor(reinterpret_cast<HDC>(dc), m_editColour);
    return reinterpret_cast<LRESULT>(m_editBrush.get());
}

void DhDeviceDialog::PaintGroup(HDC dc, const RECT& box, const wchar_t* caption) {
    wtl::SelectGuard selectFont(dc, m_boldFont.get());
    SIZE text = {};
    GetTextExtentPoint32W(dc, caption, static_cast<int>(wcslen(caption)), &text);
    brisel::FrameRectangle(dc, {box.left, box.top + text.cy / 2, box.right, box.bottom}, kGroupColour, 2);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
    SetTextColor(dc, kCaptionColour);
    TextOutW(dc, box.left + 20, box.top, caption, static_cast<int>(wcslen(caption)));
}

void DhDeviceDialog::OnPaint() {
    wtl::PaintDC target(m_hWnd);
    RECT client;
    GetClientRect(m_hWnd, &client);
    wtl::MemoryDC buffer(target.get(), client.right, client.bottom);
    HDC dc = buffer.get();
    brisel::FillSolid(dc, client, RGB(0xFF, 0xFF, 0xFF));
    brisel::PaintTitleFrame(dc, client, kTitleBottom, m_titleColour, m_boldFont.get(), m_title);
    PaintGroup(dc, m_deviceGroup, m_deviceCaption);
    PaintGroup(dc, m_listGroup, m_listCaption);
    buffer.CopyTo(target.get(), 0, 0, client.right, client.bottom);
}
