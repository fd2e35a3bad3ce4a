// A stand-in for the device libraries that exports one symbol for every name the binding looks up,
// built by tests/CMakeLists.txt with one name renamed away (-D<Name>=...) to prove that the binding
// refuses a library that lacks a single export. The symbols are bytes, not functions: the binding
// only resolves them and must refuse the library before anything is called.
#define HLX_MOBILE_EXPORT(slot, member, exportName, library) \
  extern "C" __attribute__((visibility("default"))) const unsigned char member = 0;
#include "iOSAPI/MobileExportSlots.inc"
#undef HLX_MOBILE_EXPORT
