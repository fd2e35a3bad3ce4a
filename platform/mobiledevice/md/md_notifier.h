// Device notifications: one library thread watches the device root (a poll every
// kMDScanIntervalMs, or at once when woken) and tells every subscriber of arrivals (message 1),
// removals (2) and trust answers (4: an image went from untrusted to trusted). Subscribers that join
// later are told of every device already attached, on the same thread, before any other message.
// An image folder counts as attached once its state.json exists and parses, so folders still being
// filled are never announced.
//
// Threads: the notification thread runs every callback; Subscribe, Unsubscribe and MDNotifierWake
// may be called from any thread, callbacks included. Locks: m_dispatchMutex (lock order 1) is held
// while callbacks run, m_mutex (2) while the known devices and subscribers change.
#pragma once

#include "mobiledevice.h"

#include <cstdint>

// How often the root is listed. A device must be noticed "within a fraction of a second".
constexpr int kMDScanIntervalMs = 100;

// Wakes the notification thread for a scan now (after a detach fault or a root change).
void MDNotifierWake();

// Completed scans since the thread started (each includes delivering its messages); tests wait for
// it to advance to know that a change has been looked at.
uint64_t MDNotifierScanCount();
// Wakes the thread and waits until it has completed `scans` more scans; false at the time-out (for
// example when no subscriber ever started the thread).
bool MDNotifierWaitForScans(uint64_t scans, int timeoutMs);
