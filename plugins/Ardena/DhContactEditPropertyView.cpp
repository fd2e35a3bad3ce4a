// The editor's property rows; see DhContactEditPropertyView.h.
#include "DhContactEditPropertyView.h"

#include <commctrl.h>

#include <glog/logging.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilitySys.h>

#include "ardena_module.h"
#include <wtl/window_text.h>
#include <wtl/scroll.h>

using ardena::RowKind;
using ardena::RowShape;

namespace {

constexpr int kComboWidth = 100;
constexpr int kComboDropHeight = 220;
constexpr int kJobTitleWidth = 100;
constexpr int kWheelStep = 5;

int WindowHeight(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

void Place(HWND window, int x, int y, int width, int height) {
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

}  // namespace

DhContactEditPropertyView::DhContactEditPropertyView() = default;

DhContactEditPropertyView::~DhContactEditPropertyView() = default;

LRESULT DhContactEditPropertyView::OnCreate(CREATESTRUCTW*) {
    m_editFont.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_captionFont.Reset(VNLUtilityApp::GetFont(15, true, L"Arial"));
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_captionFont.get()), FALSE);
    wchar_t year[16] = {};
    VNLUtilitySys::GetNowDateTime(year, 16, L"%Y");
    m_dateHint = ardena::DateHint(year);
    for (const ardena::RowKindInfo& info : ardena::RowKinds()) m_counters[info.kind] = info.firstId;
    if (m_contact != nullptr && m_labels != nullptr) {
        for (const ardena::RowSeed& seed : ardena::SeedRows(*m_contact, m_isNewContact)) CreateRow(seed);
    }
    LayOut(false);
    return 0;
}

void DhContactEditPropertyView::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    FillRect(paint.get(), &paint.paint().rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

LRESULT DhContactEditPropertyView::OnTransparentColour(WPARAM dc, LPARAM) {
    SetBkMode(reinterpret_cast<HDC>(dc), TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

bool DhContactEditPropertyView::OnLButtonDown(WPARAM, LPARAM, LRESULT&) {
    SetFocus(m_hWnd);
    return false;
}

HWND DhContactEditPropertyView::MakeCombo(bool editable, int width) {
    const DWORD style =
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | (editable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
    HWND combo = CreateWindowExW(0, WC_COMBOBOXW, L"", style, 0, 0, width, kComboDropHeight, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(m_nextEditId++)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (combo != nullptr) SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(m_editFont.get()), FALSE);
    return combo;
}

VNLEdit* DhContactEditPropertyView::MakeEdit(PropertyRow& row, const std::wstring& text, int width,
                                             const std::wstring& hint, bool note) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP |
                        (note ? ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL : ES_AUTOHSCROLL);
    const int height = note ? 72 : m_editHeight;
    HWND window = CreateWindowExW(0, L"EDIT", L"", style, 0, 0, width, height, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(m_nextEditId++)),
                                  GetModuleHandleW(nullptr), nullptr);
    auto edit = std::make_unique<VNLEdit>();
    if (window == nullptr || !edit->SubclassWindow(window)) {
        if (window != nullptr) DestroyWindow(window);
        return nullptr;
    }
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_editFont.get()), FALSE);
    if (!hint.empty()) edit->SetPlaceholder(true, hint);
    // An empty edit with a hint shows the hint until it gets the focus.
    SetWindowTextW(window, text.empty() && !hint.empty() ? hint.c_str() : text.c_str());
    row.edits.push_back(std::move(edit));
    row.editWidths.push_back(width);
    return row.edits.back().get();
}

void DhContactEditPropertyView::CreateCaption(const ardena::RowKindInfo& info) {
    Caption caption;
    caption.text = CreateWindowExW(0, L"STATIC", info.caption, WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0, 10, 10,
                                   m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (caption.text != nullptr) {
        SendMessageW(caption.text, WM_SETFONT, reinterpret_cast<WPARAM>(m_captionFont.get()), FALSE);
        wtl::WindowDC dc(caption.text);
        wtl::SelectGuard font(dc.get(), m_captionFont.get());
        GetTextExtentPoint32W(dc.get(), info.caption, static_cast<int>(wcslen(info.caption)), &caption.size);
    }
    HWND button = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(info.firstId)),
                                  GetModuleHandleW(nullptr), nullptr);
    caption.add = std::make_unique<VNLImgButton>();
    if (button != nullptr && caption.add->SubclassWindow(button)) {
        caption.add->SetAbsoluteY(true);
        caption.add->SetBackgroundFill(true, RGB(0xFF, 0xFF, 0xFF));
        caption.add->SetImages(ardena::Image("contacts\\contact-edit-add-normal.png"),
                               ardena::Image("contacts\\contact-edit-add-pressed.png"), m_buttonX, 0);
    }
    m_captions[info.firstId] = std::move(caption);
}

bool DhContactEditPropertyView::CreateRow(const ardena::RowSeed& seed) {
    const ardena::RowKindInfo* info = ardena::FindRowKind(seed.kind);
    if (info == nullptr || !seed.record) return false;
    int& counter = m_counters[seed.kind];
    if (counter + 1 > info->lastId) return false;
    if (m_captions.count(info->firstId) == 0) CreateCaption(*info);

    auto row = std::make_unique<PropertyRow>();
    row->seed = seed;
    row->id = ++counter;
    const ardena::RowContent content = ardena::InitialContent(seed, *m_labels);
    auto text = [&content](size_t index) {
        return index < content.texts.size() ? content.texts[index] : std::wstring();
    };

    const bool labelled = info->shape == RowShape::kLabelled || info->shape == RowShape::kLabelledDate ||
                          info->shape == RowShape::kIM || info->shape == RowShape::kAddress;
    if (labelled) {
        row->combo = MakeCombo(true, kComboWidth);
        auto it = m_labels->find(info->recordKind);
        if (row->combo != nullptr && it != m_labels->end()) {
            for (size_t i = 0; i < it->second.labels.size(); ++i) {
                const int index = static_cast<int>(SendMessageW(
                    row->combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(it->second.labels[i].second.c_str())));
                SendMessageW(row->combo, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
            }
            SendMessageW(row->combo, CB_SETCURSEL, static_cast<WPARAM>(content.labelIndex), 0);
            if (content.labelIndex < 0 ||
                content.labelText != it->second.labels[static_cast<size_t>(content.labelIndex)].second) {
                SetWindowTextW(row->combo, content.labelText.c_str());
            }
        }
    }
    switch (info->shape) {
    case RowShape::kSingleEdit: MakeEdit(*row, text(0), 446, L"", false); break;
    case RowShape::kDateEdit: MakeEdit(*row, text(0), 446, m_dateHint, false); break;
    case RowShape::kLabelledDate: MakeEdit(*row, text(0), 340, m_dateHint, false); break;
    case RowShape::kLabelled:
    case RowShape::kIM: MakeEdit(*row, text(0), 340, L"", false); break;
    case RowShape::kNote: MakeEdit(*row, text(0), 446, L"", true); break;
    case RowShape::kAddress: {
        MakeEdit(*row, text(0), 340, ardena::kStreetHint, false);
        MakeEdit(*row, text(1), 100, ardena::kCityHint, false);
        MakeEdit(*row, text(2), 80, ardena::kStateHint, false);
        MakeEdit(*row, text(3), 152, ardena::kPostalCodeHint, false);
        row->country = MakeCombo(false, 340);
        auto it = m_labels->find(CONTACT_KIND_ADDRESS);
        if (row->country != nullptr && it != m_labels->end()) {
            for (const WideStringPair& country : it->second.countries) {
                SendMessageW(row->country, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(country.second.c_str()));
            }
            SendMessageW(row->country, CB_SETCURSEL, static_cast<WPARAM>(content.countryIndex), 0);
        }
        break;
    }
    case RowShape::kOrganization:
        MakeEdit(*row, text(0), kJobTitleWidth, ardena::kJobTitleHint, false);
        MakeEdit(*row, text(1), 120, ardena::kDepartmentHint, false);
        MakeEdit(*row, text(2), 200, ardena::kCompanyHint, false);
        break;
    }
    // The combo boxes list their entries in table order, unsorted, so an entry's index is its table index.
    HWND button =
        CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 10, 10, m_hWnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(row->id)), GetModuleHandleW(nullptr), nullptr);
    row->remove = std::make_unique<VNLImgButton>();
    if (button != nullptr && row->remove->SubclassWindow(button)) {
        row->remove->SetAbsoluteY(true);
        row->remove->SetBackgroundFill(true, RGB(0xFF, 0xFF, 0xFF));
        row->remove->SetImages(ardena::Image("contacts\\contact-edit-delete-normal.png"),
                               ardena::Image("contacts\\contact-edit-delete-pressed.png"), m_buttonX, 0);
    }
    row->shown = ReadRow(*row);
    m_presentKinds.insert(info->recordKind);
    m_rows[row->id] = std::move(row);
    return true;
}

void DhContactEditPropertyView::AddKind(int menuId) {
    const ardena::RowKindInfo* info = ardena::FindRowKindByAddFieldId(menuId);
    if (info == nullptr) return;
    if (!ardena::IsMultiValued(info->kind) && IsKindPresent(info->recordKind)) return;
    if (CreateRow(ardena::RowSeed{info->kind, ardena::NewRowRecord(info->kind)})) LayOut(true);
}

void DhContactEditPropertyView::OnCommand(UINT, int id, HWND) {
    if (id < 5000 || id > 5901) return;
    const ardena::RowKindInfo* info = ardena::FindRowKindById(id);
    if (info == nullptr) return;
    if (id == info->firstId) {
        // A caption's add button: only the kinds with several values get another row.
        if (ardena::IsMultiValued(info->kind) &&
            CreateRow(ardena::RowSeed{info->kind, ardena::NewRowRecord(info->kind)})) {
            LayOut(true);
        }
        return;
    }
    DeleteRow(id);
}

void DhContactEditPropertyView::ClearRow(PropertyRow& row) {
    for (auto& edit : row.edits) SetWindowTextW(*edit, L"");
    if (row.combo != nullptr) {
        SendMessageW(row.combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        SetWindowTextW(row.combo, L"");
    }
    if (row.country != nullptr) SendMessageW(row.country, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void DhContactEditPropertyView::DeleteRow(int id) {
    auto it = m_rows.find(id);
    if (it == m_rows.end()) return;
    PropertyRow& row = *it->second;
    bool others = false;
    for (const auto& entry : m_rows) {
        if (entry.first != id && entry.second->seed.kind == row.seed.kind) others = true;
    }
    if (!others) {
        // The only row of its kind stays, emptied.
        ClearRow(row);
        return;
    }
    if (row.combo != nullptr) DestroyWindow(row.combo);
    if (row.country != nullptr) DestroyWindow(row.country);
    for (auto& edit : row.edits) DestroyWindow(*edit);
    row.combo = nullptr;
    row.country = nullptr;
    // The button whose click got us here is destroyed once that click is over.
    VNLImgButton* button = row.remove.release();
    m_dyingButtons.emplace_back(button);
    if (!PostMessageW(m_hWnd, WM_DESTROY_CONTROL, reinterpret_cast<WPARAM>(button), 0)) {
        DestroyWindow(*button);
    }
    if (row.seed.record && row.seed.record->flag != 0) row.seed.record->flag = 1;
    m_setAside.push_back(std::move(it->second));
    m_rows.erase(it);
    LayOut(false);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT DhContactEditPropertyView::OnDestroyControl(WPARAM control, LPARAM) {
    auto* button = reinterpret_cast<VNLImgButton*>(control);
    for (auto it = m_dyingButtons.begin(); it != m_dyingButtons.end(); ++it) {
        if (it->get() != button) continue;
        if ((*it)->m_hWnd != nullptr) DestroyWindow(**it);
        m_dyingButtons.erase(it);
        break;
    }
    return 0;
}

void DhContactEditPropertyView::LayOut(bool keepPosition) {
    const int position = GetScrollPos(m_hWnd, SB_VERT);
    int y = -position;
    const ardena::RowKindInfo* current = nullptr;
    for (const auto& entry : m_rows) {
        const PropertyRow& row = *entry.second;
        const ardena::RowKindInfo* info = ardena::FindRowKind(row.seed.kind);
        if (info != current) {
            current = info;
            Caption& caption = m_captions[info->firstId];
            y += 10;
            Place(caption.text, m_captionX, y, caption.size.cx, caption.size.cy);
            if (caption.add && caption.add->m_hWnd != nullptr) {
                Place(*caption.add, m_buttonX, y + 4, caption.add->Width(), caption.add->Height());
            }
            y += caption.size.cy;
        }
        y += 4;
        int x = 0;
        if (row.combo != nullptr) {
            Place(row.combo, 0, y, kComboWidth, kComboDropHeight);
            x = kComboWidth + 4;
        }
        int height = m_editHeight;
        if (!row.edits.empty()) {
            height = WindowHeight(*row.edits[0]);
            Place(*row.edits[0], x, y, row.editWidths[0], height);
        }
        if (row.remove && row.remove->m_hWnd != nullptr) {
            Place(*row.remove, m_buttonX, y + 4, row.remove->Width(), row.remove->Height());
        }
        if (row.seed.kind == RowKind::kOrganization && row.edits.size() == 3) {
            int left = x + row.editWidths[0] + 4;
            for (size_t i = 1; i < 3; ++i) {
                Place(*row.edits[i], left, y, row.editWidths[i], m_editHeight);
                left += row.editWidths[i] + 4;
            }
            y += height + 4;
        } else if (row.seed.kind == RowKind::kAddress && row.edits.size() == 4) {
            int lineY = y + height + 4;
            int left = x;
            for (size_t i = 1; i < 4; ++i) {
                Place(*row.edits[i], left, lineY, row.editWidths[i], m_editHeight);
                left += row.editWidths[i] + 4;
            }
            lineY += m_editHeight + 4;
            if (row.country != nullptr) {
                Place(row.country, x, lineY, 340, kComboDropHeight);
                RECT combo = {};
                GetWindowRect(row.country, &combo);
                // A drop-down list's window is as high as its list; the field itself is the combo's item height.
                const int field =
                    static_cast<int>(SendMessageW(row.country, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0)) + 6;
                lineY += field + 4;
            }
            y = lineY;
        } else {
            y += height;
        }
    }
    m_contentHeight = y + position;
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_RANGE | SIF_PAGE;
    scroll.nMin = 0;
    scroll.nMax = m_contentHeight;
    scroll.nPage = static_cast<UINT>(client.bottom);
    SetScrollInfo(m_hWnd, SB_VERT, &scroll, TRUE);
    if (!keepPosition) {
        // After a removal no empty space may stay under the content.
        const int highest = m_contentHeight - client.bottom + 1;
        if (position > 0 && position > highest) {
            SCROLLINFO back = {};
            back.cbSize = sizeof(back);
            back.fMask = SIF_POS;
            back.nPos = highest > 0 ? highest : 0;
            SetScrollInfo(m_hWnd, SB_VERT, &back, TRUE);
            LayOut(true);
            return;
        }
    }
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void DhContactEditPropertyView::ScrollTo(int position) {
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_ALL;
    GetScrollInfo(m_hWnd, SB_VERT, &scroll);
    const int highest = scroll.nMax - static_cast<int>(scroll.nPage) + 1;
    if (position > highest) position = highest;
    if (position < scroll.nMin) position = scroll.nMin;
    if (position == scroll.nPos) return;
    const int delta = scroll.nPos - position;
    scroll.fMask = SIF_POS;
    scroll.nPos = position;
    SetScrollInfo(m_hWnd, SB_VERT, &scroll, TRUE);
    ScrollWindowEx(m_hWnd, 0, delta, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE | SW_SCROLLCHILDREN | SW_ERASE);
    UpdateWindow(m_hWnd);
}

LRESULT DhContactEditPropertyView::OnVScroll(WPARAM wParam, LPARAM) {
    int position = 0;
    if (wtl::ScrollRequestTarget(m_hWnd, SB_VERT, wParam, 1, &position)) ScrollTo(position);
    return 0;
}

LRESULT DhContactEditPropertyView::OnMouseWheel(WPARAM wParam, LPARAM) {
    const int delta = static_cast<short>(HIWORD(wParam)) < 0 ? kWheelStep : -kWheelStep;
    ScrollTo(GetScrollPos(m_hWnd, SB_VERT) + delta);
    return 0;
}

ardena::RowInput DhContactEditPropertyView::ReadRow(const PropertyRow& row) const {
    ardena::RowInput input;
    for (const auto& edit : row.edits) input.texts.push_back(wtl::WindowText(*edit));
    if (row.combo != nullptr) {
        const LRESULT selected = SendMessageW(row.combo, CB_GETCURSEL, 0, 0);
        input.labelIndex =
            selected == CB_ERR
                ? -1
                : static_cast<int>(SendMessageW(row.combo, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0));
        input.labelText = wtl::WindowText(row.combo);
    }
    if (row.country != nullptr) {
        const LRESULT selected = SendMessageW(row.country, CB_GETCURSEL, 0, 0);
        input.countryIndex = selected == CB_ERR ? -1 : static_cast<int>(selected);
    }
    return input;
}

std::vector<ardena::CollectedRow> DhContactEditPropertyView::CollectRows() {
    m_accepted.clear();
    std::vector<ardena::CollectedRow> rows;
    for (const auto& entry : m_rows) {
        if (m_labels == nullptr) break;
        ardena::CollectedRow row = ardena::CollectRow(entry.second->seed, ReadRow(*entry.second), *m_labels,
                                                      &entry.second->shown);
        if (row.accepted) m_accepted.push_back(row);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<int> DhContactEditPropertyView::RowIds(RowKind kind) const {
    std::vector<int> ids;
    for (const auto& entry : m_rows) {
        if (entry.second->seed.kind == kind) ids.push_back(entry.first);
    }
    return ids;
}

HWND DhContactEditPropertyView::RowEdit(int rowId, size_t index) const {
    auto it = m_rows.find(rowId);
    if (it == m_rows.end() || index >= it->second->edits.size()) return nullptr;
    return *it->second->edits[index];
}

HWND DhContactEditPropertyView::RowCombo(int rowId) const {
    auto it = m_rows.find(rowId);
    return it == m_rows.end() ? nullptr : it->second->combo;
}
