// Leak-checker options of the service and its test binaries in the sanitizer build (read by the sanitizer runtime
// at start-up; without a sanitizer nothing calls these).
//
// The simulated device library runs threads of its own (device notifications, services) that are
// still alive when the process exits, and both of its libraries, loaded with dlopen, keep
// thread_local state. GCC 12's leak checker on this glibc crashes ("Tracer caught signal 11") when
// it scans the dynamic TLS of such a thread at exit; a ten-line program with one dlopen'ed
// thread_local and a live thread reproduces it. Not scanning TLS avoids the crash. It can only add
// false leak reports (memory referenced from TLS alone), never hide a leak that is reported now.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

// The dynamic loader allocates the thread-local blocks of a dlopen'ed library itself (in
// __tls_get_addr); with TLS not scanned they look leaked. The leak checker's own rule for them
// matches the loader's function names, which only machines with the C library's debug symbols can
// resolve, so the rule here matches the loader module instead. A stack passes through the loader
// only for its own allocations and for constructors of libraries being loaded.
// platform/mobiledevice/tests/sanitizer/leak_probe.cpp checks that a real leak is still reported.
extern "C" const char* __lsan_default_suppressions() { return "leak:ld-linux\n"; }
