// The device side of "com.apple.afc" (the media folder, fs/) and "com.apple.afc2" (the whole file
// system of a jailbroken device, rootfs/). The AFC calls of md_afc.cpp act on the image's folders
// directly, bound to the connection through its socket, so nothing travels on the stream itself:
// the device side only holds the stream open and drains whatever a caller writes to it, until the
// host closes it or the connection stops.
// Threads: the connection's device thread.
#include "md/md_service.h"

namespace {

void ServeAfc(MDServiceContext& context) {
  char sink[4096];
  while (context.stream->ReadSome(sink, sizeof sink) > 0) {
  }
}

}  // namespace

void MDRegisterAfcServices() {
  MDRegisterService("com.apple.afc", ServeAfc);
  MDRegisterService("com.apple.afc2", ServeAfc);
}
