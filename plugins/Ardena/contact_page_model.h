#pragma once
// What the contacts page holds, without its windows: the contacts in arrival order with a map from
// identifier to record, the groups, and the two sequences (contacts and groups) that decide whether a
// batch replaces or extends what is held. The page window mirrors every change in its list and tree; the
// model tells it what changed. Records are shared, so a list row, the preview or an open dialog that still
// holds a pointer keeps a live record even when the model lets go of it.
//
// Compiled into the plug-in and the native tests; no windows.h. UI thread only, except Sequence(), which
// the plug-in's receiver reads from the thread that delivers commands (one aligned int).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contact_records.h"
#include "item_batch.h"
#include "page_sequence.h"

namespace ardena {

using ContactPtr = std::shared_ptr<iOSContact>;
using GroupPtr = std::shared_ptr<iOSContactGroup>;

class ContactPageModel {
public:
    // The sequence of the last accepted contacts batch.
    int Sequence() const { return m_sequence.Current(); }
    int GroupSequence() const { return m_groupSequence.Current(); }

    // A contacts batch, by the list pages' sequence rule (page_sequence.h): a higher sequence releases
    // everything held first; an equal one appends; a lower one changes nothing (the receiver drops those)
    // and returns false. `cleared` tells the caller to empty its list first. Records are appended in batch order.
    bool AcceptContacts(const ItemBatch<iOSContact>& batch, bool& cleared);
    // A groups batch: a higher sequence than the group sequence releases the held groups first (`cleared`)
    // and adopts it; then the batch's groups are appended. A lower one is ignored (returns false).
    bool AcceptGroups(const ItemBatch<iOSContactGroup>& batch, bool& cleared);

    // One contact added by the host. A contact whose identifier is held already replaces the held record in
    // place (its index is returned in `replacedIndex`); otherwise it is appended (`replacedIndex` = -1).
    void AddContact(const ContactPtr& contact, int& replacedIndex);
    // Removes the contact with this identifier (first match) from the held contacts and the map; the
    // removed record, or null when none is held.
    ContactPtr RemoveContact(const std::wstring& identifier);
    // Releases every held contact (Refresh).
    void ClearContacts();
    // Sorts the held contacts by display name (loading finished).
    void SortByName();

    const std::vector<ContactPtr>& Contacts() const { return m_contacts; }
    ContactPtr FindContact(const std::wstring& identifier) const;
    // The held contacts whose searched texts contain the query (every contact for an empty query), in held
    // order. The query is folded here.
    std::vector<ContactPtr> Search(const std::wstring& query) const;
    // The group's members that are held, in member order.
    std::vector<ContactPtr> MembersOf(const iOSContactGroup& group) const;

    const std::vector<GroupPtr>& Groups() const { return m_groups; }
    void AppendGroup(const GroupPtr& group) { m_groups.push_back(group); }
    // Puts `replacement` where `old` was; false when `old` is not held (then nothing changes).
    bool ReplaceGroup(const iOSContactGroup* old, const GroupPtr& replacement);
    // Removes the group; false when it is not held.
    bool RemoveGroup(const iOSContactGroup* group);
    void ClearGroups() { m_groups.clear(); }
    // The held group with this identifier, or null.
    GroupPtr FindGroup(const std::wstring& identifier) const;

    // True when `received` is the answer for `held`: the same non-empty identifier or the same non-empty GUID
    // text (a group made on the page has no identifier yet; groups loaded from the device may have no GUID).
    static bool IsSameGroup(const iOSContactGroup& held, const iOSContactGroup& received);

private:
    pages::PageSequence m_sequence;
    pages::PageSequence m_groupSequence;
    std::vector<ContactPtr> m_contacts;
    std::map<std::wstring, ContactPtr> m_byIdentifier;
    std::vector<GroupPtr> m_groups;
};

}  // namespace ardena
