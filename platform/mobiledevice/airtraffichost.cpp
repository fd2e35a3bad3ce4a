// Stands where the host library of the device support installation stands: the service loads it
// before the device library and calls nothing in it.
extern "C" __attribute__((visibility("default"))) int ATHostLibraryVersion() { return 1; }
