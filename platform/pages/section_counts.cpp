// The section list's per-device counters; see section_counts.h.
#include "section_counts.h"

namespace standin_pages {

void SectionCounts::Set(const std::string& device, int32_t section, int64_t count) {
    m_byDevice[device.empty() ? m_current : device][section] = count;
}

bool SectionCounts::SetCurrent(const std::string& device) {
    if (device == m_current) return false;
    m_current = device;
    return true;
}

void SectionCounts::Clear() { m_byDevice.clear(); }

void SectionCounts::Forget(const std::string& device) { m_byDevice.erase(device); }

std::wstring SectionCounts::ShownText(int32_t section, const std::wstring& text) const {
    if (m_current.empty()) return text;
    auto device = m_byDevice.find(m_current);
    if (device == m_byDevice.end()) return text;
    auto count = device->second.find(section);
    return count == device->second.end() ? text : text + L" (" + std::to_wstring(count->second) + L")";
}

}  // namespace standin_pages
