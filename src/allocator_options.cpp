// Options of the service's allocator (jemalloc, which the service links outside the sanitizer build),
// read when the allocator starts.
//
// The threads of one listing (the request's worker, the reader of the device connection, the
// simulated device's own threads) allocate what the others free. In a few shared glibc arenas they
// queued on the arenas' locks; jemalloc gives each thread a cache of its own, which serves most
// allocations without a lock, and one arena behind the caches. The arena keeps the bookkeeping of
// every extent it ever held for good, and that is most of what an idle service holds after large
// listings: after twenty listings of 50,000 contacts four arenas left the service at 34 MiB, two at
// 27 to 32 MiB, one at 24 to 25 MiB, for a 10,000-contact listing about 7 % slower than with four.
// Freed memory goes back to the system about a second after it was freed, by the allocator's
// background thread, so a large listing does not leave the service at its peak and no request pays
// for a purge.

// The allocator reads this symbol of the program in place of its own empty default.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "background_thread:true,dirty_decay_ms:1000,muzzy_decay_ms:0,narenas:1";
}
