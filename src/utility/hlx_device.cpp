// Guarded access to a device's texts, and the version number of a version text.
#include "utility/hlx_device.h"

#include <cstdlib>

namespace hlx {

DeviceProperties HLXDevice::Properties() const {
  MutexLock lock(m_mutex);
  return m_properties;
}

void HLXDevice::SetProperties(const DeviceProperties& properties) {
  MutexLock lock(m_mutex);
  m_properties = properties;
}

std::string HLXDevice::Udid() const {
  MutexLock lock(m_mutex);
  return m_properties.udid;
}

std::string HLXDevice::ProductVersionText() const {
  MutexLock lock(m_mutex);
  return m_productVersionText;
}

void HLXDevice::SetProductVersionText(const std::string& text) {
  MutexLock lock(m_mutex);
  m_productVersionText = text;
}

std::string HLXDevice::MessagesDatabasePath() const {
  MutexLock lock(m_mutex);
  return m_messagesDatabasePath;
}

void HLXDevice::SetMessagesDatabasePath(const std::string& path) {
  MutexLock lock(m_mutex);
  m_messagesDatabasePath = path;
}

std::string HLXDevice::PhotoDatabasePath() const {
  MutexLock lock(m_mutex);
  return m_photoDatabasePath;
}

void HLXDevice::SetPhotoDatabasePath(const std::string& path) {
  MutexLock lock(m_mutex);
  m_photoDatabasePath = path;
}

int32_t VersionNumberOf(const std::string& version) {
  if (version.empty()) return 0;
  const int major = std::atoi(version.c_str());
  int minor = 0;
  const size_t dot = version.find('.');
  if (dot != std::string::npos) minor = std::atoi(version.c_str() + dot + 1);
  return major * 10 + minor;
}

}  // namespace hlx
