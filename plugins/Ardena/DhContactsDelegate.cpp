// The contacts page window; see DhContactsDelegate.h.
#include "DhContactsDelegate.h"

#include <vornel/VNLUserDefaults.h>
#include <wtl/GdiObjects.h>

#include "contact_payloads.h"

LRESULT DhContactsDelegate::OnCreate(CREATESTRUCTW*) {
    if (VNLUserDefaults* theme = VNLUserDefaults::GetUserDefaults("url")) {
        m_background = theme->GetRGB("color:7", m_background);
    }
    return 0;
}

void DhContactsDelegate::LayOut() { InvalidateRect(m_hWnd, nullptr, FALSE); }

void DhContactsDelegate::OnPaint() {
    wtl::PaintDC paint(m_hWnd);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    wtl::UniqueBrush brush(CreateSolidBrush(m_background));
    if (brush) {
        FillRect(paint.get(), &client, brush.get());
    }
}

LRESULT DhContactsDelegate::OnHostReply(WPARAM code, LPARAM payload) {
    void* data = reinterpret_cast<void*>(payload);
    if ((code == ardena::kContactsLoaded || code == ardena::kGroupsLoaded) && data != nullptr) {
        // A newer batch starts the page afresh (the receiver already dropped older ones); the list that
        // shows the items comes with the contacts page.
        const int64_t sequence = ardena::BatchSequence(static_cast<int64_t>(code), data);
        if (code == ardena::kContactsLoaded && sequence > PageSequence()) {
            m_pageSequence.store(static_cast<int>(sequence), std::memory_order_relaxed);
        }
    }
    ardena::ReleaseContactPayload(static_cast<int64_t>(code), data);
    return 0;
}
