#pragma once
// DhMediaListPage: the list page that the voice-memo page (Elvist) and the ringtone page (Faydra) share.
// Toolbar Export and Refresh, the search box, a list of records with a size column; Export sends the
// (name, key) pairs of the checked rows, Refresh reloads, dropped files become an add request. Each page
// gives its columns, captions, row texts and search and sort rules. UI thread (see DhListPage.h).

#include <vornel/VNLUtilityFile.h>
#include <vornel/VNLUtilityString.h>

#include "DhListPage.h"
#include "feature_codes.h"
#include "page_module.h"
#include "wide_pair.h"

template <class Page, class Item>
class DhMediaListPage : public DhListPage<Page, Item> {
public:
    static constexpr int kRefreshId = 5000;
    static constexpr int kExportId = 5005;

protected:
    using Base = DhListPage<Page, Item>;
    using Column = DhPageDelegate::Column;

    explicit DhMediaListPage(const pages::PageModule& module) : Base(module.Images()), m_module(module) {}

    virtual std::vector<Column> Columns() const = 0;
    virtual const wchar_t* ExportCaption() const = 0;
    virtual const wchar_t* AddCaption() const = 0;
    // The name an export pair carries.
    virtual const std::wstring& ExportName(const Item& item) const = 0;

    // The size column's text, from the base library's formatter.
    static std::wstring SizeText(int64_t bytes) {
        wchar_t* text = VNLUtilityFile::QVGetFormatSizeFromBytes(static_cast<uint64_t>(bytes < 0 ? 0 : bytes));
        std::wstring copy = text != nullptr ? text : L"";
        VNLUtilityString::Free(text);
        return copy;
    }

    bool CreateControls() override {
        if (!this->CreateList(Base::kListId, Columns())) return false;
        this->m_list.SetRowHeight(32);
        this->MakeToolbar({{&m_export, kExportId, L"Export", "common\\operate-export"},
                           {&m_refresh, kRefreshId, L"Refresh", "common\\operate-refresh"}});
        return true;
    }

    void OnPageCommand(int id) override {
        if (id == kRefreshId) {
            this->ClearAll();
            Send(sdk::recordings::kRequestLoad);
        } else if (id == kExportId) {
            // Sent even when nothing is checked: the host tells the user.
            auto pairs = std::make_unique<std::vector<WideStringPair>>();
            for (Item* item : this->CheckedRecords()) pairs->emplace_back(ExportName(*item), item->key);
            const int64_t count = static_cast<int64_t>(pairs->size());
            Send(sdk::recordings::kRequestExport, pairs.release(), count, ExportCaption());
        }
    }

    void OnHostReply(int64_t code, void* payload) override {
        if (code == sdk::recordings::kReplyLoaded) this->AcceptBatch(static_cast<ItemBatch<Item>*>(payload));
    }

    void OnDroppedPaths(std::vector<std::wstring> paths) override {
        Send(sdk::recordings::kRequestAddFiles, &paths, static_cast<int64_t>(paths.size()), AddCaption());
    }

private:
    void Send(int64_t code, void* data = nullptr, int64_t count = 0, const wchar_t* caption = nullptr) {
        CommandMessage message{};
        message.code = code;
        message.window = this->m_page;
        message.data = data;
        message.count = count;
        message.wideText = const_cast<wchar_t*>(caption);
        m_module.Send(message);
    }

    const pages::PageModule& m_module;
    VNLSwitchImageButton m_export;
    VNLSwitchImageButton m_refresh;
};
