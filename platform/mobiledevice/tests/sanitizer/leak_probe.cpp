// Checks the sanitizer build's leak settings (src/sanitizer_options.cpp): loads the device library at
// run time, as the service does, makes the loader allocate the library's thread-local storage for
// this thread, and then leaks one block of kLeakBytes on purpose. CTest expects the leak report to
// name exactly that block: the loader's own allocations are suppressed, a real leak is not.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mobiledevice.h"

namespace {
constexpr std::size_t kLeakBytes = 4242;
void* volatile g_lost = nullptr;
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: leak_probe SUPPORT_DIR\n");
    return 2;
  }
  const std::string library = std::string(argv[1]) + "/libCoreFoundation.so";
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "leak_probe: %s\n", dlerror());
    return 2;
  }
  auto create = reinterpret_cast<decltype(&CFStringCreateWithCString)>(dlsym(handle, "CFStringCreateWithCString"));
  auto release = reinterpret_cast<decltype(&CFRelease)>(dlsym(handle, "CFRelease"));
  if (create == nullptr || release == nullptr) {
    std::fprintf(stderr, "leak_probe: the library lacks CFStringCreateWithCString or CFRelease\n");
    return 2;
  }
  release(create(nullptr, "probe", kCFStringEncodingUTF8));  // releasing touches thread-local state

  g_lost = std::malloc(kLeakBytes);
  g_lost = nullptr;
  return 0;
}
