// The contact preview pane; see DhContactDetailView.h.
#include "DhContactDetailView.h"

#include <algorithm>

#include <objidl.h>
#include <gdiplus.h>

#include <vornel/VNLUtilityApp.h>
#include <wtl/scroll.h>

#include "contact_rules.h"

namespace {

// Lines break between words only; a word wider than the pane ends in an ellipsis rather than being split.
constexpr UINT kLineFormat = DT_WORDBREAK | DT_WORD_ELLIPSIS | DT_NOPREFIX;
// The name and the groups beside the picture wrap onto as many lines as they need, a word too long for a
// line broken inside it, so that the whole name shows.
constexpr UINT kHeaderFormat = DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;
const wchar_t kNothingShown[] = L"No contact selected";
constexpr int kWheelStep = 5;

using Lines = std::vector<std::pair<std::wstring, std::wstring>>;

void AddLine(Lines& lines, const std::wstring& label, const std::wstring& value) {
    if (!value.empty()) lines.emplace_back(label, value);
}

// Street, city, state and postal code, each present one followed by a blank, then the country.
std::wstring AddressText(const iOSContactAddress& address) {
    std::wstring text;
    for (const std::wstring* part : {&address.street, &address.city, &address.state, &address.postalCode}) {
        if (!part->empty()) text += *part + L" ";
    }
    return text + address.country;
}

}  // namespace

DhContactDetailView::DhContactDetailView(ImageCache* images) : m_images(images) {}

DhContactDetailView::~DhContactDetailView() = default;

LRESULT DhContactDetailView::OnCreate(CREATESTRUCTW*) {
    m_picture = FindImage(m_images, "contacts\\preview-contacts.png");
    m_bodyFont.Reset(VNLUtilityApp::GetFont(16, false, L"Arial"));
    m_headingFont.Reset(VNLUtilityApp::GetFont(16, true, L"Arial"));
    m_nameFont.Reset(VNLUtilityApp::GetFont(17, true, L"Arial"));
    m_brush.Reset(CreateSolidBrush(m_background));
    // clang-format off
    m_titles = {L"[Info]", L"[Phone Number]", L"[Email Address]", L"[IM]", L"[Street Address]",
                L"[URL]",  L"[Date]",         L"[Related Name]"};
    // clang-format on
    GetClientRect(m_hWnd, &m_client);
    return 0;
}

void DhContactDetailView::OnSize(UINT, int width, int height) {
    // Only a new height matters here: the wrap width stays until the next contact is laid out.
    if (height == m_client.bottom - m_client.top) return;
    m_client = RECT{0, 0, width, height};
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_PAGE;
    scroll.nPage = static_cast<UINT>(height);
    SetScrollInfo(m_hWnd, SB_VERT, &scroll, TRUE);
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void DhContactDetailView::SetContact(std::shared_ptr<const iOSContact> contact, const std::wstring& groupText) {
    m_items.clear();
    m_contact = std::move(contact);
    if (!m_contact) {
        SetWindowTextW(m_hWnd, L"");
        m_contentHeight = 0;
        SCROLLINFO scroll = {};
        scroll.cbSize = sizeof(scroll);
        scroll.fMask = SIF_RANGE | SIF_POS;
        SetScrollInfo(m_hWnd, SB_VERT, &scroll, TRUE);
        InvalidateRect(m_hWnd, nullptr, FALSE);
        return;
    }
    // A contact in no group shows no group line at all.
    m_groupLine = groupText.empty() ? std::wstring() : L"Group: " + groupText;
    LayOut();
}

void DhContactDetailView::AddSection(HDC dc, const std::wstring& title, const Lines& lines, int& y) {
    if (lines.empty()) return;  // a section without lines shows no title either
    {
        wtl::SelectGuard font(dc, m_headingFont.get());
        SIZE extent = {};
        GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &extent);
        m_items.push_back(DetailItem{title, RECT{m_margin, y, m_margin + extent.cx, y + extent.cy}, m_headingFont.get(),
                                     ItemKind::kTitle});
        y += extent.cy + m_lineGap;
    }
    wtl::SelectGuard font(dc, m_bodyFont.get());
    for (const auto& line : lines) {
        std::wstring text = line.first + L":  " + line.second;
        const int width = m_client.right - m_margin - 3 * m_margin;
        SIZE single = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &single);
        // Text with blanks wraps between its words beside the label; a single word (an address) that does
        // not fit there gets lines of its own.
        const bool oneWord = line.second.find_first_of(L" \t\r\n") == std::wstring::npos;
        if (single.cx > width && oneWord) {
            SIZE alone = {};
            GetTextExtentPoint32W(dc, line.second.c_str(), static_cast<int>(line.second.size()), &alone);
            text = line.first + L":\n" + (alone.cx > width ? ardena::PreviewValueLines(line.second) : line.second);
        }
        RECT rect = {3 * m_margin, y, m_client.right - m_margin, y};
        DrawTextW(dc, text.c_str(), -1, &rect, kLineFormat | DT_CALCRECT);
        rect.right = m_client.right - m_margin;
        m_items.push_back(DetailItem{text, rect, m_bodyFont.get(), ItemKind::kLine});
        y = rect.bottom + m_lineGap;
    }
}

void DhContactDetailView::LayOut() {
    const iOSContact& c = *m_contact;
    const int pictureWidth = m_picture != nullptr ? static_cast<int>(m_picture->GetWidth()) : 0;
    const int pictureHeight = m_picture != nullptr ? static_cast<int>(m_picture->GetHeight()) : 0;
    wtl::WindowDC dc(m_hWnd);

    // The header: the picture, and beside it the name and the group line, centred on the picture or, when
    // they need more lines than its height, the band grows to hold them.
    const std::wstring name = ardena::ContactDisplayName(c);
    const int textLeft = m_margin + pictureWidth + m_margin;
    const int textRight = std::max<int>(textLeft + 1, m_client.right - m_margin);
    RECT nameRect = {textLeft, 0, textRight, 0};
    {
        wtl::SelectGuard font(dc.get(), m_nameFont.get());
        DrawTextW(dc.get(), name.c_str(), -1, &nameRect, kHeaderFormat | DT_CALCRECT);
    }
    RECT groupRect = {textLeft, 0, textRight, 0};
    if (!m_groupLine.empty()) {
        wtl::SelectGuard font(dc.get(), m_bodyFont.get());
        DrawTextW(dc.get(), m_groupLine.c_str(), -1, &groupRect, kHeaderFormat | DT_CALCRECT);
    }
    const int nameHeight = nameRect.bottom - nameRect.top;
    const int groupHeight = m_groupLine.empty() ? 0 : m_margin + (groupRect.bottom - groupRect.top);
    const int band = std::max(pictureHeight, nameHeight + groupHeight);
    const int textTop = m_margin + (band - nameHeight - groupHeight) / 2;
    m_nameRect = RECT{textLeft, textTop, textRight, textTop + nameHeight};
    m_groupRect = RECT{textLeft, m_nameRect.bottom + m_margin, textRight, textTop + nameHeight + groupHeight};
    m_items.push_back(
        DetailItem{name, RECT{m_margin, m_margin, textRight, m_margin + band}, nullptr, ItemKind::kHeader});
    int y = m_margin + band + m_pictureGap;

    Lines info;
    AddLine(info, L"phonetic first name", c.phoneticFirstName);
    AddLine(info, L"phonetic middle name", c.phoneticMiddleName);
    AddLine(info, L"phonetic last name", c.phoneticLastName);
    AddLine(info, L"nickname", c.nickname);
    AddLine(info, L"prefix", c.prefix);
    AddLine(info, L"suffix", c.suffix);
    AddLine(info, L"company name", c.company);
    AddLine(info, L"department", c.department);
    AddLine(info, L"job title", c.jobTitle);
    AddLine(info, L"birthday", ardena::DateTextOf(c.birthday));
    AddLine(info, L"notes", c.note);
    AddSection(dc.get(), m_titles[0], info, y);

    auto labelled = [](const std::vector<std::shared_ptr<iOSContactProperty>>& list, bool dates) {
        Lines lines;
        for (const auto& entry : list) {
            if (entry)
                AddLine(lines, ardena::ShownLabel(*entry), dates ? ardena::DateTextOf(entry->value) : entry->value);
        }
        return lines;
    };
    AddSection(dc.get(), m_titles[1], labelled(c.phones, false), y);
    AddSection(dc.get(), m_titles[2], labelled(c.emails, false), y);
    Lines im;
    for (const auto& entry : c.instantMessaging) {
        if (entry) AddLine(im, ardena::ShownLabel(*entry), entry->userName);
    }
    AddSection(dc.get(), m_titles[3], im, y);
    Lines addresses;
    for (const auto& entry : c.addresses) {
        if (entry)
            AddLine(addresses, ardena::ShownLabel(static_cast<const iOSContactProperty&>(*entry)), AddressText(*entry));
    }
    AddSection(dc.get(), m_titles[4], addresses, y);
    AddSection(dc.get(), m_titles[5], labelled(c.urls, false), y);
    AddSection(dc.get(), m_titles[6], labelled(c.dates, true), y);
    AddSection(dc.get(), m_titles[7], labelled(c.relatedNames, false), y);

    m_contentHeight = y;
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    scroll.nMin = 0;
    scroll.nMax = y;
    scroll.nPage = static_cast<UINT>(m_client.bottom - m_client.top);
    scroll.nPos = 0;
    SetScrollInfo(m_hWnd, SB_VERT, &scroll, TRUE);
    // What the pane shows is also its window text, one item a line, for screen readers and window lists.
    std::wstring text;
    for (const std::wstring& line : ShownTexts()) text += line + L"\n";
    SetWindowTextW(m_hWnd, text.c_str());
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

std::vector<std::wstring> DhContactDetailView::ShownTexts() const {
    std::vector<std::wstring> texts;
    for (const DetailItem& item : m_items) texts.push_back(item.text);
    if (!m_items.empty() && !m_groupLine.empty()) texts.insert(texts.begin() + 1, m_groupLine);
    return texts;
}

void DhContactDetailView::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    wtl::MemoryDC memory(paint.get(), width, height);
    if (!memory.IsValid()) return;
    HDC dc = memory.get();
    FillRect(dc, &client, m_brush.get());
    SetBkMode(dc, TRANSPARENT);
    if (!m_contact) {
        // An empty pane says why it is empty.
        wtl::SelectGuard font(dc, m_bodyFont.get());
        SetTextColor(dc, RGB(0x7F, 0x7F, 0x7F));
        RECT rect = client;
        DrawTextW(dc, kNothingShown, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else {
        const int position = GetScrollPos(m_hWnd, SB_VERT);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        for (const DetailItem& item : m_items) {
            // Only the items that reach into the visible band.
            if (item.rect.bottom < position || item.rect.top > position + height) continue;
            RECT rect = item.rect;
            OffsetRect(&rect, 0, -position);
            if (item.kind != ItemKind::kHeader) {
                wtl::SelectGuard font(dc, item.font);
                DrawTextW(dc, item.text.c_str(), -1, &rect, kLineFormat);
                continue;
            }
            if (m_picture != nullptr) {
                Gdiplus::Graphics graphics(dc);
                graphics.DrawImage(m_picture, rect.left, rect.top, static_cast<INT>(m_picture->GetWidth()),
                                   static_cast<INT>(m_picture->GetHeight()));
            }
            RECT name = m_nameRect;
            OffsetRect(&name, 0, -position);
            {
                wtl::SelectGuard nameFont(dc, m_nameFont.get());
                DrawTextW(dc, item.text.c_str(), -1, &name, kHeaderFormat);
            }
            if (m_groupLine.empty()) continue;
            RECT group = m_groupRect;
            OffsetRect(&group, 0, -position);
            wtl::SelectGuard font(dc, m_bodyFont.get());
            DrawTextW(dc, m_groupLine.c_str(), -1, &group, kHeaderFormat);
        }
    }
    memory.CopyTo(paint.get(), 0, 0, width, height);
}

void DhContactDetailView::ScrollTo(int position, bool updateNow) {
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
    ScrollWindowEx(m_hWnd, 0, delta, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
    InvalidateRect(m_hWnd, nullptr, FALSE);
    if (updateNow) UpdateWindow(m_hWnd);
}

LRESULT DhContactDetailView::OnVScroll(WPARAM wParam, LPARAM) {
    int position = 0;
    if (wtl::ScrollRequestTarget(m_hWnd, SB_VERT, wParam, 1, &position)) ScrollTo(position, false);
    return 0;
}

LRESULT DhContactDetailView::OnMouseWheel(WPARAM wParam, LPARAM) {
    // A fixed step whatever the wheel's delta: towards the user moves down.
    const int delta = static_cast<short>(HIWORD(wParam)) < 0 ? kWheelStep : -kWheelStep;
    ScrollTo(GetScrollPos(m_hWnd, SB_VERT) + delta, true);
    return 0;
}

bool DhContactDetailView::OnLButtonDown(WPARAM, LPARAM, LRESULT&) {
    SetFocus(m_hWnd);
    return false;
}
