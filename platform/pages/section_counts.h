#pragma once
// The section list's counters, kept per device: the host counts every answer of the relay, for whichever
// device it is about, so the list keeps each device's counters apart and shows only those of the device
// the user has chosen. A device that stops being current keeps its counters (coming back to it shows
// them again, since the relay does not load what it has loaded already), but nothing of it is shown
// meanwhile. Portable, no windows; the UI thread only.

#include <cstdint>
#include <map>
#include <string>

namespace standin_pages {

class SectionCounts {
public:
    // A counter for `device` (UTF-8 identifier; empty means the current device).
    void Set(const std::string& device, int32_t section, int64_t count);
    // Makes `device` the one whose counters show (empty: none); true when it was another one.
    bool SetCurrent(const std::string& device);
    // Every counter of every device goes (the relay's reset).
    void Clear();
    // Forgets what was counted for `device`: it left.
    void Forget(const std::string& device);

    const std::string& Current() const { return m_current; }
    // The text of a section as the list shows it: "Contacts (250)", or the bare text without a count.
    std::wstring ShownText(int32_t section, const std::wstring& text) const;

private:
    std::string m_current;
    std::map<std::string, std::map<int32_t, int64_t>> m_byDevice;
};

}  // namespace standin_pages
