#pragma once
// The rules the new-backup and restore dialogs share, apart from their windows: the devices of the
// drop-down box and its selection as devices come and go, the folder taken from the host's answer of
// default folders, the target folder of a custom backup and which selected backup a restore takes.
// Portable (no window); UI thread only.

#include <string>
#include <vector>

#include "wide_pair.h"

namespace brisel {

// The devices of a dialog's drop-down box, in box order (device key, device name), and its selection.
class DeviceChoice {
public:
    // The box's new contents; the first device is selected when there is one. Null reads as no device.
    void Replace(const std::vector<WideStringPair>* devices);
    // False (and nothing changes) when the key is listed already. `selectedFirst` tells whether the box had
    // no selection and now selects its first entry (the dialog then lists that device's backups).
    bool Add(const std::wstring& key, const std::wstring& name, bool& selectedFirst);

    struct Removal {
        int index = -1;               // the removed entry; -1: the key was not listed
        bool selectionMoved = false;  // the selected entry went and the first remaining one is selected
        bool nowEmpty = false;        // no entry remains: the box's text is cleared
    };
    // Removes the device with exactly this key (case-sensitive).
    Removal Remove(const std::wstring& key);
    void Clear();
    // Follows a selection made in the box; -1 or an index past the end: none.
    void Select(int index);

    int Selected() const { return m_selected; }
    // The selected device, or null.
    const WideStringPair* SelectedDevice() const;
    const std::vector<WideStringPair>& Devices() const { return m_devices; }

private:
    std::vector<WideStringPair> m_devices;
    int m_selected = -1;
};

// The folder text from the host's answer of default folders: the second when there are two or more, else
// the first; empty when the answer is null or empty.
std::wstring FolderFromAnswer(const std::vector<std::wstring>* folders);

// The folder a new backup goes to: empty (the default location) unless `custom`; then the edit box's text
// with one trailing backslash, or empty when the text is empty.
std::wstring TargetFolder(bool custom, const std::wstring& editText);

// The row a restore takes: the lowest selected row, or -1 when none is.
int FirstSelectedRow(const std::vector<int>& selectedRows);

}  // namespace brisel
