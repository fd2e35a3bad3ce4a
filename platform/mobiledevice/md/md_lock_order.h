// The lock order of the simulated MobileDevice library, written down in one place. Nothing to
// compile here: every mutex in md/ names its place in this list in its "guards:" comment.
//
// Outer to inner; a thread holding a lock may take only locks further down the list:
//
//   1. MDNotifier::m_dispatchMutex   held while subscriber callbacks run (the notification thread),
//                                    so that Unsubscribe can wait for a running callback. Callbacks
//                                    may call every exported function, so everything below may be
//                                    taken under it.
//   2. MDNotifier::m_mutex           subscribers and the known-device map. Never held while calling
//                                    out or doing file I/O (the root is listed before it is taken).
//   3. MDAfcFile::m_mutex            one AFC file reference: position and descriptor use. Held across
//                                    the file I/O of one call.
//   4. MDDevice::m_quotaMutex        the device's free-space accounting (and its count of bytes not yet
//                                    written into state.json); held across one size-changing file
//                                    operation and the booking of its space.
//   5. MDImageLock (flock)           the cross-process lock on an image folder (the control tool takes
//                                    the same lock); held for one read-modify-write of state.json,
//                                    counters.json or lockdown.plist.
//   6. MDDeviceImage::m_cacheMutex, MDLockdownStore::m_mutex
//                                    the parsed-file caches.
//   Leaves (no other lock is ever taken while one of these is held, and no callback or blocking
//   I/O runs under them): every MDHandleTable mutex, MDDevice::m_mutex, MDServiceConnection::m_mutex,
//   the AFC connection, directory and key-value list mutexes of md_afc.cpp, the service registry's
//   mutex, the settings mutex of md_settings.
//
// Blocking waits (socket polls, thread joins) happen with no lock of this list held, except that an
// AFC file reference's mutex (3) is held across that reference's own file I/O.
#pragma once
