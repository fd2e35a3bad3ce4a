/* The C interface of the device library: the CoreFoundation and MobileDevice functions that the
 * device service binds by name at run time (it never links against the library). The library
 * exports exactly these names with C linkage.
 *
 * Ownership follows CoreFoundation's rule: results of functions with Create or Copy in their name
 * belong to the caller, who releases them with CFRelease; results of Get functions are borrowed.
 * Threads: every function may be called from any thread; the device-notification callback runs on
 * the library's own notification thread. No function throws.
 */
#ifndef HLX_PLATFORM_MOBILEDEVICE_H
#define HLX_PLATFORM_MOBILEDEVICE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MD_EXPORT __attribute__((visibility("default")))
#else
#define MD_EXPORT
#endif

/* ---- CoreFoundation types ---- */
typedef const void* CFTypeRef;
typedef const void* CFPropertyListRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFData* CFDataRef;
typedef const struct __CFDate* CFDateRef;
typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef struct __CFWriteStream* CFWriteStreamRef;
typedef const struct __CFURL* CFURLRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef struct __CFError* CFErrorRef;

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef uint32_t CFStringEncoding;
typedef double CFAbsoluteTime; /* seconds since 2001-01-01 00:00:00 UTC */
typedef CFIndex CFNumberType;
typedef CFIndex CFPropertyListFormat;
typedef CFIndex CFURLPathStyle;

/* Type ids that CFGetTypeID gives; callers compare against these numbers. */
enum {
  kHLXCFStringTypeID = 7,
  kHLXCFDictionaryTypeID = 18,
  kHLXCFArrayTypeID = 19,
  kHLXCFDataTypeID = 20,
  kHLXCFBooleanTypeID = 21,
  kHLXCFNumberTypeID = 22,
  kHLXCFDateTypeID = 42
};

enum { kCFStringEncodingASCII = 0x0600, kCFStringEncodingUTF8 = 0x08000100 };

enum {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14
};

enum { kCFPropertyListOpenStepFormat = 1, kCFPropertyListXMLFormat_v1_0 = 100, kCFPropertyListBinaryFormat_v1_0 = 200 };

enum {
  kCFPropertyListImmutable = 0,
  kCFPropertyListMutableContainers = 1,
  kCFPropertyListMutableContainersAndLeaves = 2
};

typedef void (*CFDictionaryApplierFunction)(const void* key, const void* value, void* context);

/* ---- MobileDevice types ---- */
typedef struct am_device* AMDeviceRef;
typedef struct am_device_notification* AMDeviceNotificationRef;
typedef struct am_service_connection* AMDServiceConnectionRef;
typedef struct afc_connection* AFCConnectionRef;
typedef struct afc_directory* AFCDirectoryRef;
typedef struct afc_dictionary* AFCDictionaryRef;
typedef uint64_t AFCFileRef;
typedef struct am_restore_device* AMRestoreModeDeviceRef;

/* Message numbers of device notifications. */
enum {
  kAMDeviceNotificationConnected = 1,
  kAMDeviceNotificationDisconnected = 2,
  kAMDeviceNotificationUnknown = 3,
  kAMDeviceNotificationTrustAnswered = 4
};

/* Interface types of AMDeviceGetInterfaceType. */
enum { kAMDInterfaceUSB = 1, kAMDInterfaceWiFi = 2 };

/* Results. 0 is success everywhere. */
#define kAMDSuccess 0
#define kAMDPasswordProtectedError ((int)0xE800001A)
#define kAMDInvalidServiceError ((int)0xE8000022)
#define kAMDNotConnectedError ((int)0xE8000009)
#define kAMDSessionInactiveError ((int)0xE800003A)
#define kAMDInvalidPairRecordError ((int)0xE8000025)
#define kAMDPairingDialogResponsePendingError ((int)0xE800007E)

/* AFC open modes and results. */
enum { kAFCFileModeRead = 1, kAFCFileModeReadWrite = 2 };
enum {
  kAFCSuccess = 0,
  kAFCUnknownError = 1,
  kAFCNotFound = 8,
  kAFCPermissionDenied = 10,
  kAFCDirectoryNotEmpty = 21,
  kAFCNoSpace = 16,
  kAFCInvalidArgument = 7
};

/* What the notification callback receives. */
struct am_device_notification_callback_info {
  AMDeviceRef dev; /* the device; valid from message 1 until after message 2 */
  uint32_t msg;    /* kAMDeviceNotification... */
  AMDeviceNotificationRef subscription;
};
typedef void (*am_device_notification_callback)(struct am_device_notification_callback_info* info, void* context);

/* ---- CoreFoundation functions ---- */
MD_EXPORT CFIndex CFStringGetLength(CFStringRef string);
MD_EXPORT CFIndex CFNumberGetByteSize(CFNumberRef number);
MD_EXPORT CFStringRef __CFStringMakeConstantString(const char* text);
MD_EXPORT void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
MD_EXPORT void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
MD_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
MD_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                           const void* keyCallBacks, const void* valueCallBacks);
MD_EXPORT Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
MD_EXPORT void CFDictionaryApplyFunction(CFDictionaryRef dictionary, CFDictionaryApplierFunction applier,
                                         void* context);
MD_EXPORT void CFRelease(CFTypeRef object);
MD_EXPORT Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key);
MD_EXPORT Boolean CFDictionaryContainsValue(CFDictionaryRef dictionary, const void* value);
MD_EXPORT const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key);
MD_EXPORT CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                             CFIndex count, const void* keyCallBacks, const void* valueCallBacks);
MD_EXPORT CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef path, CFURLPathStyle style,
                                                 Boolean isDirectory);
MD_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);
MD_EXPORT CFTypeID CFGetTypeID(CFTypeRef object);
MD_EXPORT CFNumberType CFNumberGetType(CFNumberRef number);
MD_EXPORT Boolean CFBooleanGetValue(CFBooleanRef boolean);
MD_EXPORT CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
MD_EXPORT CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef allocator, CFDataRef data,
                                                         CFOptionFlags options, CFPropertyListFormat* format,
                                                         CFErrorRef* error);
MD_EXPORT CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef list);
MD_EXPORT CFIndex CFDataGetLength(CFDataRef data);
MD_EXPORT const UInt8* CFDataGetBytePtr(CFDataRef data);
MD_EXPORT CFIndex CFArrayGetCount(CFArrayRef array);
MD_EXPORT const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);
MD_EXPORT void CFArrayRemoveValueAtIndex(CFMutableArrayRef array, CFIndex index);
MD_EXPORT CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity, const void* callBacks);
MD_EXPORT CFWriteStreamRef CFWriteStreamCreateWithAllocatedBuffers(CFAllocatorRef allocator,
                                                                   CFAllocatorRef bufferAllocator);
MD_EXPORT Boolean CFWriteStreamOpen(CFWriteStreamRef stream);
MD_EXPORT CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef allocator, CFDataRef data,
                                                            CFOptionFlags options, CFStringRef* errorString);
/* Writes the list in the given format (XML or binary); returns the bytes written, 0 on failure. */
MD_EXPORT CFIndex CFPropertyListWriteToStream(CFPropertyListRef list, CFWriteStreamRef stream,
                                              CFPropertyListFormat format, CFStringRef* errorString);
MD_EXPORT extern const CFStringRef kCFStreamPropertyDataWritten;
MD_EXPORT CFTypeRef CFWriteStreamCopyProperty(CFWriteStreamRef stream, CFStringRef name);
MD_EXPORT void CFWriteStreamClose(CFWriteStreamRef stream);
MD_EXPORT CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);
MD_EXPORT void CFDictionaryGetKeysAndValues(CFDictionaryRef dictionary, const void** keys, const void** values);
MD_EXPORT extern const CFBooleanRef kCFBooleanTrue;
MD_EXPORT CFAbsoluteTime CFAbsoluteTimeGetCurrent(void);
MD_EXPORT CFDateRef CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime time);
MD_EXPORT CFStringRef CFStringCreateCopy(CFAllocatorRef allocator, CFStringRef string);
MD_EXPORT CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef data);
MD_EXPORT CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date);

/* ---- MobileDevice functions ---- */
MD_EXPORT int AMDeviceNotificationSubscribe(am_device_notification_callback callback, uint32_t unused0,
                                            uint32_t unused1, void* context, AMDeviceNotificationRef* subscription);
MD_EXPORT int AMDeviceNotificationUnsubscribe(AMDeviceNotificationRef subscription);
MD_EXPORT int AMDeviceGetInterfaceType(AMDeviceRef device);
MD_EXPORT int AMDeviceConnect(AMDeviceRef device);
MD_EXPORT int AMDeviceDisconnect(AMDeviceRef device);
MD_EXPORT int AMDeviceIsPaired(AMDeviceRef device); /* 1 when paired */
MD_EXPORT int AMDeviceValidatePairing(AMDeviceRef device);
MD_EXPORT int AMDeviceStartSession(AMDeviceRef device);
MD_EXPORT int AMDeviceStopSession(AMDeviceRef device);
MD_EXPORT uint32_t AMDeviceGetConnectionID(AMDeviceRef device);
MD_EXPORT AMRestoreModeDeviceRef AMRestoreModeDeviceCreate(uint32_t unused0, uint32_t connectionId, uint32_t unused1);
MD_EXPORT int AMRestoreRegisterForDeviceNotifications(void* dfuConnect, void* recoveryConnect, void* dfuDisconnect,
                                                      void* recoveryDisconnect, uint32_t unused, void* context);
MD_EXPORT int AMDeviceStartService(AMDeviceRef device, CFStringRef name, void* handle, uint32_t* unknown);
MD_EXPORT CFTypeRef AMDeviceCopyValue(AMDeviceRef device, CFStringRef domain, CFStringRef key);
MD_EXPORT int AMDeviceSetValue(AMDeviceRef device, CFStringRef domain, CFStringRef key, CFTypeRef value);
MD_EXPORT int AMDPostNotification(AMDServiceConnectionRef connection, CFStringRef notification, CFStringRef userInfo);
MD_EXPORT int AMDShutdownNotificationProxy(AMDServiceConnectionRef connection);
MD_EXPORT int AMDListenForNotifications(AMDServiceConnectionRef connection, void* callback, void* context);
MD_EXPORT int AMDObserveNotification(AMDServiceConnectionRef connection, CFStringRef notification);
MD_EXPORT int AMDeviceLookupApplications(AMDeviceRef device, CFDictionaryRef options, CFDictionaryRef* result);
MD_EXPORT int AMDeviceSecureUninstallApplication(AMDServiceConnectionRef connection, AMDeviceRef device,
                                                 CFStringRef bundleId, CFDictionaryRef options, void* callback,
                                                 void* context);
MD_EXPORT int AMDeviceSecureTransferPath(int unused, AMDeviceRef device, CFURLRef url, CFDictionaryRef options,
                                         void* callback, void* context);
MD_EXPORT CFStringRef AMDCopyErrorText(int error);
/* Sends `length` bytes; returns the count sent, or -1. */
MD_EXPORT int AMDServiceConnectionSend(AMDServiceConnectionRef connection, const void* bytes, size_t length);
/* Receives up to `length` bytes; returns the count received, 0 at end of stream, -1 on failure. */
MD_EXPORT int AMDServiceConnectionReceive(AMDServiceConnectionRef connection, void* bytes, size_t length);
MD_EXPORT int AMDeviceSecureStartService(AMDeviceRef device, CFStringRef name, CFDictionaryRef options,
                                         AMDServiceConnectionRef* connection);
MD_EXPORT int AMDServiceConnectionGetSocket(AMDServiceConnectionRef connection);
MD_EXPORT void AMDServiceConnectionInvalidate(AMDServiceConnectionRef connection);
/* Null unless the service speaks SSL. */
MD_EXPORT void* AMDServiceConnectionGetSecureIOContext(AMDServiceConnectionRef connection);
MD_EXPORT int AMDevicePair(AMDeviceRef device);

/* ---- AFC ---- */
MD_EXPORT int AFCConnectionOpen(int socket, uint32_t ioTimeout, AFCConnectionRef* connection);
MD_EXPORT int AFCConnectionClose(AFCConnectionRef connection);
MD_EXPORT int AFCConnectionSetSecureContext(AFCConnectionRef connection, void* context);
MD_EXPORT int AFCDirectoryOpen(AFCConnectionRef connection, const char* path, AFCDirectoryRef* directory);
/* *entry is borrowed until the next read or the close; null after the last entry. The listing is
   taken whole by the open: a read asks the device nothing. */
MD_EXPORT int AFCDirectoryRead(AFCConnectionRef connection, AFCDirectoryRef directory, char** entry);
MD_EXPORT int AFCDirectoryClose(AFCConnectionRef connection, AFCDirectoryRef directory);
MD_EXPORT int AFCDirectoryCreate(AFCConnectionRef connection, const char* path);
MD_EXPORT int AFCFileInfoOpen(AFCConnectionRef connection, const char* path, AFCDictionaryRef* info);
MD_EXPORT int AFCDeviceInfoOpen(AFCConnectionRef connection, AFCDictionaryRef* info);
/* *key and *value are borrowed until the next read or the close; both null after the last pair. */
MD_EXPORT int AFCKeyValueRead(AFCDictionaryRef dictionary, char** key, char** value);
MD_EXPORT int AFCKeyValueClose(AFCDictionaryRef dictionary);
MD_EXPORT int AFCRemovePath(AFCConnectionRef connection, const char* path);
MD_EXPORT int AFCRenamePath(AFCConnectionRef connection, const char* from, const char* to);
MD_EXPORT int AFCFileRefOpen(AFCConnectionRef connection, const char* path, uint64_t mode, AFCFileRef* file);
MD_EXPORT int AFCFileRefClose(AFCConnectionRef connection, AFCFileRef file);
MD_EXPORT int AFCFileRefLock(AFCConnectionRef connection, AFCFileRef file);
MD_EXPORT int AFCFileRefUnlock(AFCConnectionRef connection, AFCFileRef file);
/* *length: in, the room; out, the bytes read (0 at the end of the file). */
MD_EXPORT int AFCFileRefRead(AFCConnectionRef connection, AFCFileRef file, void* buffer, uint32_t* length);
MD_EXPORT int AFCFileRefWrite(AFCConnectionRef connection, AFCFileRef file, const void* buffer, uint32_t length);
MD_EXPORT int AFCFlushData(AFCConnectionRef connection, AFCFileRef file);
MD_EXPORT int AFCFileRefTell(AFCConnectionRef connection, AFCFileRef file, uint64_t* position);
/* whence: 0 from the start, 1 from the current position, 2 from the end. */
MD_EXPORT int AFCFileRefSeek(AFCConnectionRef connection, AFCFileRef file, int64_t offset, uint64_t whence);
MD_EXPORT int AFCFileRefSetFileSize(AFCConnectionRef connection, AFCFileRef file, uint64_t size);
MD_EXPORT char* AFCCopyErrorString(AFCConnectionRef connection);

#ifdef __cplusplus
}
#endif

#endif /* HLX_PLATFORM_MOBILEDEVICE_H */
