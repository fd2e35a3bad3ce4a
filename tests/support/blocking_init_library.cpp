// A library whose initialiser never returns: the thread that loads it keeps the loader's lock for
// good, as a device library whose initialisers hang would. The crash tests load it as the device
// service's host library. The initialiser names its thread "hlx-init-held" so that a test can see
// that the lock is held and crash another thread.
#include <sys/prctl.h>
#include <unistd.h>

namespace {

__attribute__((constructor)) void HoldTheLoaderLock() {
  (void)::prctl(PR_SET_NAME, "hlx-init-held", 0, 0, 0);
  for (;;) ::pause();
}

}  // namespace
