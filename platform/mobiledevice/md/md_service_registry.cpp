// The registry of simulated device services by name (see md_service.h). Threads: any; one leaf
// mutex; the built-in services are registered once, on the first lookup.
#include "md/md_service.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

struct Registry {
  std::mutex mutex;  // guards: handlers (leaf)
  std::map<std::string, MDServiceHandler> handlers;
};

Registry& GetRegistry() {
  static auto* registry = new Registry();  // never destroyed: device threads may outlive main
  return *registry;
}

void RegisterBuiltInServices() {
  MDRegisterAfcServices();
  MDRegisterTestFramesService();
  MDRegisterDiagnosticsService();
  MDRegisterMobileBackup2Service();
  MDRegisterAtcService();
  MDRegisterMobileSyncService();
  MDRegisterInstallationService();
  MDRegisterSpringboardService();
}

}  // namespace

void MDRegisterService(const std::string& name, MDServiceHandler handler) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.handlers[name] = std::move(handler);
}

MDServiceHandler MDFindServiceHandler(const std::string& name) {
  static std::once_flag once;
  std::call_once(once, RegisterBuiltInServices);
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.handlers.find(name);
  return it == registry.handlers.end() ? MDServiceHandler() : it->second;
}
