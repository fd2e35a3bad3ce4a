// Options of the service's allocator (jemalloc, which the service links outside the sanitizer build),
// read when the allocator starts.
//
// The threads of one listing (the request's worker, the reader of the device connection, the
// simulated device's own threads) allocate what the others free. In a few shared glibc arenas they
// queued on the arenas' locks; jemalloc gives each thread a cache of its own and spreads the threads
// over four arenas. Freed memory goes back to the system about a second after it was freed, by the
// allocator's background thread, so a large listing does not leave the service at its peak and no
// request pays for a purge.

// The allocator reads this symbol of the program in place of its own empty default.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "background_thread:true,dirty_decay_ms:1000,muzzy_decay_ms:0,narenas:4";
}
