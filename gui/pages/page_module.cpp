// The list-page plug-ins' entry and receiver; see page_module.h.
#include "page_module.h"

#include <cstring>
#include <memory>

#include "DhPageDelegate.h"

namespace pages {

bool PluginModule::Register(ModuleRecord* record, CommandReceiver receiver) {
    try {
        if (record == nullptr || record->send == nullptr) return false;
        m_images = ImageCacheOf(record);
        record->receive = receiver;
        m_record = record;
        CommandMessage message{};
        message.kind = COMMAND_KIND_REGISTER;
        message.owner = record->module;
        for (size_t i = 0; i < m_ownedCount; ++i) {
            message.name = m_ownedNames[i];
            record->send(&message);
        }
        return true;
    } catch (...) {
        // Nothing may cross back into the host.
        return false;
    }
}

void PageModule::Register(ModuleRecord* record, CommandReceiver receiver) {
    try {
        // The page map is there before the host can deliver the first command.
        if (record == nullptr || record->send == nullptr) return;
        m_pages = new std::map<std::wstring, DhPageDelegate*>();
        PluginModule::Register(record, receiver);
    } catch (...) {
        // Nothing may cross back into the host.
    }
}

DhPageDelegate* PageModule::PageOf(const wchar_t* device) const {
    if (device == nullptr || m_pages == nullptr) return nullptr;
    auto it = m_pages->find(device);
    return it == m_pages->end() ? nullptr : it->second;
}

void PageModule::ShowPage(CommandMessage& message) {
    if (message.wideText == nullptr || m_pages == nullptr) return;
    if (DhPageDelegate* page = PageOf(message.wideText)) {
        ShowWindow(page->PageWindow(), SW_SHOW);
        message.window = page->PageWindow();
        if (m_spec.shownAgain != nullptr) m_spec.shownAgain(*page);
        return;
    }
    if (message.data == nullptr) return;  // a page is made only where the host says it goes
    std::unique_ptr<DhPageDelegate> page(m_spec.makePage());
    if (!page ||
        page->CreatePageWindow(message.window, *static_cast<const RECT*>(message.data), m_spec.pageStyle) == nullptr) {
        return;
    }
    page->LayOut();
    (*m_pages)[message.wideText] = page.release();
}

void PageModule::MovePage(const CommandMessage& message) {
    DhPageDelegate* page = PageOf(message.wideText);
    if (page == nullptr || message.data == nullptr) return;
    const RECT& rect = *static_cast<const RECT*>(message.data);
    MoveWindow(page->PageWindow(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    page->LayOut();
}

void PageModule::Receive(CommandMessage* message) {
    try {
        if (message == nullptr || message->name == nullptr) return;
        if (std::strcmp(message->name, m_spec.showName) == 0) {
            ShowPage(*message);
        } else if (std::strcmp(message->name, m_spec.sizeName) == 0) {
            MovePage(*message);
        } else if (std::strcmp(message->name, m_spec.doName) == 0) {
            DhPageDelegate::DispatchHostReply(*m_spec.replies, PageOf(message->wideText), *message);
        }
        // HIDE_WINDOW and every other name: nothing.
    } catch (...) {
        // Nothing may cross back into the host; a page that could not be made is simply not there.
    }
}

bool PluginModule::Invoke(CommandMessage& message) const {
    if (m_record == nullptr || m_record->send == nullptr) return false;
    message.kind = COMMAND_KIND_INVOKE;
    m_record->send(&message);
    return true;
}

bool PluginModule::Send(CommandMessage& message) const {
    message.name = m_doName;
    return Invoke(message);
}

}  // namespace pages
