#include "device_choice.h"

#include <algorithm>

namespace brisel {

void DeviceChoice::Replace(const std::vector<WideStringPair>* devices) {
    m_devices = devices != nullptr ? *devices : std::vector<WideStringPair>();
    m_selected = m_devices.empty() ? -1 : 0;
}

bool DeviceChoice::Add(const std::wstring& key, const std::wstring& name, bool& selectedFirst) {
    selectedFirst = false;
    for (const WideStringPair& device : m_devices) {
        if (device.first == key) return false;
    }
    m_devices.emplace_back(key, name);
    if (m_selected < 0) {
        m_selected = 0;
        selectedFirst = true;
    }
    return true;
}

DeviceChoice::Removal DeviceChoice::Remove(const std::wstring& key) {
    Removal removal;
    auto it =
        std::find_if(m_devices.begin(), m_devices.end(), [&key](const WideStringPair& d) { return d.first == key; });
    if (it == m_devices.end()) return removal;
    removal.index = static_cast<int>(it - m_devices.begin());
    m_devices.erase(it);
    if (m_devices.empty()) {
        m_selected = -1;
        removal.nowEmpty = true;
    } else if (removal.index == m_selected) {
        m_selected = 0;
        removal.selectionMoved = true;
    } else if (removal.index < m_selected) {
        --m_selected;  // the same device, one entry up
    }
    return removal;
}

void DeviceChoice::Clear() {
    m_devices.clear();
    m_selected = -1;
}

void DeviceChoice::Select(int index) {
    m_selected = index >= 0 && index < static_cast<int>(m_devices.size()) ? index : -1;
}

const WideStringPair* DeviceChoice::SelectedDevice() const {
    return m_selected >= 0 ? &m_devices[static_cast<size_t>(m_selected)] : nullptr;
}

std::wstring FolderFromAnswer(const std::vector<std::wstring>* folders) {
    if (folders == nullptr || folders->empty()) return std::wstring();
    return folders->size() >= 2 ? (*folders)[1] : (*folders)[0];
}

std::wstring TargetFolder(bool custom, const std::wstring& editText) {
    if (!custom || editText.empty()) return std::wstring();
    return editText.back() == L'\\' ? editText : editText + L'\\';
}

int FirstSelectedRow(const std::vector<int>& selectedRows) {
    int first = -1;
    for (int row : selectedRows) {
        if (row >= 0 && (first < 0 || row < first)) first = row;
    }
    return first;
}

}  // namespace brisel
