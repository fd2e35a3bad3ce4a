// The contacts page's held records; see contact_page_model.h.
#include "contact_page_model.h"

#include <algorithm>

#include "contact_rules.h"

namespace ardena {

bool ContactPageModel::AcceptContacts(const ItemBatch<iOSContact>& batch, bool& cleared) {
    const pages::BatchVerdict verdict = m_sequence.Accept(batch.sequence);
    cleared = verdict == pages::BatchVerdict::Replace;
    if (verdict == pages::BatchVerdict::Drop) return false;
    if (cleared) ClearContacts();
    for (const ContactPtr& contact : batch.items) {
        if (!contact) continue;
        m_contacts.push_back(contact);
        m_byIdentifier[contact->identifier] = contact;
    }
    return true;
}

bool ContactPageModel::AcceptGroups(const ItemBatch<iOSContactGroup>& batch, bool& cleared) {
    const pages::BatchVerdict verdict = m_groupSequence.Accept(batch.sequence);
    cleared = verdict == pages::BatchVerdict::Replace;
    if (verdict == pages::BatchVerdict::Drop) return false;
    if (cleared) m_groups.clear();
    for (const GroupPtr& group : batch.items) {
        if (group) m_groups.push_back(group);
    }
    return true;
}

void ContactPageModel::AddContact(const ContactPtr& contact, int& replacedIndex) {
    replacedIndex = -1;
    if (!contact) return;
    auto it = m_byIdentifier.find(contact->identifier);
    if (it != m_byIdentifier.end() && !contact->identifier.empty()) {
        const auto held = std::find(m_contacts.begin(), m_contacts.end(), it->second);
        if (held != m_contacts.end()) {
            *held = contact;
            replacedIndex = static_cast<int>(held - m_contacts.begin());
        } else {
            m_contacts.push_back(contact);
        }
        it->second = contact;
        return;
    }
    m_contacts.push_back(contact);
    m_byIdentifier[contact->identifier] = contact;
}

ContactPtr ContactPageModel::RemoveContact(const std::wstring& identifier) {
    auto held = std::find_if(m_contacts.begin(), m_contacts.end(),
                             [&identifier](const ContactPtr& c) { return c && c->identifier == identifier; });
    ContactPtr removed;
    if (held != m_contacts.end()) {
        removed = *held;
        m_contacts.erase(held);
    }
    auto it = m_byIdentifier.find(identifier);
    if (it != m_byIdentifier.end()) {
        if (!removed) removed = it->second;
        m_byIdentifier.erase(it);
    }
    return removed;
}

void ContactPageModel::ClearContacts() {
    m_contacts.clear();
    m_byIdentifier.clear();
}

void ContactPageModel::SortByName() { SortContactsByName(m_contacts); }

ContactPtr ContactPageModel::FindContact(const std::wstring& identifier) const {
    auto it = m_byIdentifier.find(identifier);
    return it == m_byIdentifier.end() ? nullptr : it->second;
}

std::vector<ContactPtr> ContactPageModel::Search(const std::wstring& query) const {
    const std::wstring folded = FoldLower(query);
    if (folded.empty()) return m_contacts;
    std::vector<ContactPtr> found;
    for (const ContactPtr& contact : m_contacts) {
        if (contact && ContactMatchesQuery(*contact, folded)) found.push_back(contact);
    }
    return found;
}

std::vector<ContactPtr> ContactPageModel::MembersOf(const iOSContactGroup& group) const {
    std::vector<ContactPtr> members;
    for (const std::wstring& identifier : group.members) {
        if (ContactPtr contact = FindContact(identifier)) members.push_back(contact);
    }
    return members;
}

bool ContactPageModel::ReplaceGroup(const iOSContactGroup* old, const GroupPtr& replacement) {
    auto it = std::find_if(m_groups.begin(), m_groups.end(), [old](const GroupPtr& g) { return g.get() == old; });
    if (it == m_groups.end()) return false;
    *it = replacement;
    return true;
}

bool ContactPageModel::RemoveGroup(const iOSContactGroup* group) {
    auto it = std::find_if(m_groups.begin(), m_groups.end(), [group](const GroupPtr& g) { return g.get() == group; });
    if (it == m_groups.end()) return false;
    m_groups.erase(it);
    return true;
}

GroupPtr ContactPageModel::FindGroup(const std::wstring& identifier) const {
    for (const GroupPtr& group : m_groups) {
        if (group && group->identifier == identifier) return group;
    }
    return nullptr;
}

bool ContactPageModel::IsSameGroup(const iOSContactGroup& held, const iOSContactGroup& received) {
    if (!held.identifier.empty() && held.identifier == received.identifier) return true;
    return !held.guidText.empty() && held.guidText == received.guidText;
}

}  // namespace ardena
