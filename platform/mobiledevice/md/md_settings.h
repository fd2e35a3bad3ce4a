// Process-wide settings of the simulated MobileDevice library: where device images live and how long
// a service receive may wait. Each starts from an environment variable read once, on first use (so a
// test can set the variable before its first library call), and the test-control header can replace
// it at any time without touching the environment (setenv is not safe while other threads run).
// Threads: any; guarded by one leaf mutex.
#pragma once

#include <string>

// The folder whose sub-folders are the attached device images: the test-control override when set,
// else $HLX_DEVICE_ROOT, else empty (no devices).
std::string MDGetDeviceRoot();
// null clears the override.
void MDSetDeviceRootOverride(const char* root);

// A receive on a silent device ends after this long so that no caller thread hangs for ever. Generous
// by default because a device may take many seconds to prepare an answer (a backup manifest,
// a large folder listing).
constexpr int kMDDefaultReceiveTimeoutMs = 60000;
// The test-control override when set, else $HLX_MD_RECEIVE_TIMEOUT_MS when it is a positive number,
// else kMDDefaultReceiveTimeoutMs.
int MDGetReceiveTimeoutMs();
// A value <= 0 clears the override.
void MDSetReceiveTimeoutOverrideMs(int timeoutMs);
