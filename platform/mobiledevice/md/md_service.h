// The device side of a service connection, as a service handler sees it, and the registry of
// handlers by service name. Each simulated device service lives in a source of its own
// (md_service_<name>.cpp) and registers itself through MDRegisterBuiltInServices; a later service
// adds one source and one line there.
//
// Threads: a handler runs on the connection's own device thread; it must do all of its socket I/O
// through MDDeviceStream, whose calls return false once the connection is stopped (invalidated, or
// the device detached), so that the thread can always be joined. The registry's mutex is a leaf.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "md/md_device_image.h"

class MDDeviceStream {
 public:
  // fd: the device end of the socket pair; stopFd: an eventfd that becomes readable when the
  // connection stops; dropAfterBytes >= 0: hang up after sending that many bytes (a fault).
  MDDeviceStream(int fd, int stopFd, int64_t dropAfterBytes);
  MDDeviceStream(const MDDeviceStream&) = delete;
  MDDeviceStream& operator=(const MDDeviceStream&) = delete;

  // Up to `length` bytes: the count, 0 at end of stream (the host closed), -1 when stopped or failed.
  ssize_t ReadSome(void* buffer, size_t length);
  // Exactly `length` bytes; false at end of stream, stop or failure.
  bool ReadExact(void* buffer, size_t length);
  // All `length` bytes; false when the host went away, the connection stopped or the drop fault
  // hung up part-way.
  bool WriteAll(const void* bytes, size_t length);
  // `length` bytes of an open file from `offset`, handed to the socket from the page cache
  // (sendfile) without passing through a buffer; false like WriteAll, or when the file ends early.
  bool SendFile(int fileFd, int64_t offset, size_t length);
  // Asks for a send buffer of `bytes` (the system caps it): a stream of large files then wakes
  // its reader less often.
  void WidenSendBuffer(int bytes);
  // Ends the stream without a goodbye: the host reads end of stream.
  void HangUp();
  bool IsHungUp() const { return m_hungUp; }

 private:
  // Waits until fd is ready for `events` or the stop fd fires; false on stop or error.
  bool WaitFor(short events);
  // Sends `length` bytes by repeated `step(done, wanted)` calls (each one send of up to `wanted`
  // bytes from `done` on, returning the count or -1 with errno), within the drop fault's budget.
  bool SendCounted(size_t length, const std::function<ssize_t(size_t done, size_t wanted)>& step);

  const int m_fd;
  const int m_stopFd;
  int64_t m_sendBudget;  // bytes left before the drop fault hangs up; < 0: no fault
  bool m_hungUp = false;
};

// What a handler gets: the stream and a snapshot of the device at the start.
struct MDServiceContext {
  std::string serviceName;
  std::string udid;
  std::string imageFolder;
  MDDeviceState state;
  MDDeviceStream* stream = nullptr;
};

using MDServiceHandler = std::function<void(MDServiceContext& context)>;

// Registers or replaces the handler of a service name.
void MDRegisterService(const std::string& name, MDServiceHandler handler);
// The handler, or an empty function when no service of that name exists.
MDServiceHandler MDFindServiceHandler(const std::string& name);

// One line per service source; called once, before the first lookup.
void MDRegisterAfcServices();
void MDRegisterTestFramesService();
void MDRegisterDiagnosticsService();
void MDRegisterAtcService();
void MDRegisterMobileSyncService();
void MDRegisterInstallationService();
void MDRegisterSpringboardService();
void MDRegisterMobileBackup2Service();
// Completes or drops what a kill left of a restore's swap in an image folder, so that the device
// arrives with its old data or its new, whole (md_service_mobilebackup2.cpp). The notifier thread,
// before the device is announced.
void MDFinishInterruptedRestore(const std::string& imageFolder);
