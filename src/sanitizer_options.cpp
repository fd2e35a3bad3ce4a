// Leak-checker options of the service and its test binaries in the sanitizer build (read by the sanitizer runtime
// at start-up; without a sanitizer nothing calls this).
//
// The simulated device library runs threads of its own (device notifications, services) that are
// still alive when the process exits, and both of its libraries, loaded with dlopen, keep
// thread_local state. GCC 12's leak checker on this glibc crashes ("Tracer caught signal 11") when
// it scans the dynamic TLS of such a thread at exit; a ten-line program with one dlopen'ed
// thread_local and a live thread reproduces it. Not scanning TLS avoids the crash. It can only add
// false leak reports (memory referenced from TLS alone), never hide a leak that is reported now.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
