// Guarded access to a device's texts.
#include "utility/hlx_device.h"

namespace hlx {

DeviceSummary HLXDevice::Summary() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_summary;
}

void HLXDevice::SetSummary(const DeviceSummary& summary) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_summary = summary;
}

}  // namespace hlx
