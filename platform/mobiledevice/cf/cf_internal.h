/* Helpers that the CoreFoundation library exports beyond the C interface of include/mobiledevice.h,
 * for the MobileDevice half of the simulated device library and for tests. The service never binds
 * these: it sees only mobiledevice.h. CFRetain keeps its usual name; everything that has no
 * counterpart in that interface carries the HLX prefix.
 *
 * Ownership follows the same rule as mobiledevice.h: Create and Copy results belong to the caller
 * (CFRelease), Get results are borrowed. Every function may be called from any thread; a mutable
 * container must not be changed while another thread reads or changes it. No function throws.
 */
#ifndef HLX_PLATFORM_MOBILEDEVICE_CF_INTERNAL_H
#define HLX_PLATFORM_MOBILEDEVICE_CF_INTERNAL_H

#include "mobiledevice.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Type ids of the objects that mobiledevice.h has no constant for. */
enum { kHLXCFURLTypeID = 29, kHLXCFWriteStreamTypeID = 39, kHLXCFUIDTypeID = 41, kHLXCFErrorTypeID = 43 };

/* ---- Lifetime ---- */

/* Adds a reference and returns the object; null gives null. */
MD_EXPORT CFTypeRef CFRetain(CFTypeRef object);

/* The current reference count; 0 for null or a foreign pointer. Immortal objects (interned strings,
 * the booleans) answer a large constant. */
MD_EXPORT CFIndex HLXCFGetRetainCount(CFTypeRef object);

/* Objects created and not yet freed, immortal ones excluded. Tests take it before and after a case
 * so that a leak fails them. */
MD_EXPORT int64_t HLXCFGetLiveObjectCount(void);

/* Strict mode aborts on an over-release or on a pointer that is not a live object. It starts from the
 * environment variable HLX_CF_STRICT=1; in strict mode freed objects keep their header so that a
 * second release is always seen (their memory is not reused, which is why it is a debug mode). */
MD_EXPORT void HLXCFSetStrictMode(Boolean strict);
MD_EXPORT Boolean HLXCFIsStrictMode(void);

/* Value equality: strings by content, numbers by value across types (1 equals 1.0), data by bytes,
 * dates by time, containers deeply. Null equals only null. */
MD_EXPORT Boolean HLXCFEqual(CFTypeRef a, CFTypeRef b);

/* ---- Numbers and booleans ---- */

/* The general number constructor: `value` points at a value of `type`; the stored type is
 * normalised (char/short/int/long/long long/CFIndex to SInt8..SInt64, float/double to Float32/64).
 * Null for an unknown type or a null pointer. */
MD_EXPORT CFNumberRef HLXCFNumberCreate(CFNumberType type, const void* value);
MD_EXPORT CFNumberRef HLXCFNumberCreateInt64(int64_t value);
/* Values up to INT64_MAX are stored as SInt64; larger ones are kept exactly as a 128-bit integer
 * (CFNumberGetType answers SInt64, CFNumberGetValue into SInt64 reports the loss). */
MD_EXPORT CFNumberRef HLXCFNumberCreateUInt64(uint64_t value);
MD_EXPORT CFNumberRef HLXCFNumberCreateDouble(double value);
/* True for Float32 and Float64 numbers. */
MD_EXPORT Boolean HLXCFNumberIsFloatType(CFNumberRef number);
/* Reads an integer number that is >= 0 into *value; false for negatives, reals with a fraction and
 * non-numbers. The only way to read values above INT64_MAX without loss. */
MD_EXPORT Boolean HLXCFNumberGetUInt64(CFNumberRef number, uint64_t* value);

/* The two boolean singletons. Borrowed (releasing them anyway is harmless). */
MD_EXPORT CFBooleanRef HLXCFBooleanGet(Boolean value);

/* ---- Strings ---- */

/* A string from `length` bytes of UTF-8 (may hold NUL characters); null when the bytes are not valid
 * UTF-8. */
MD_EXPORT CFStringRef HLXCFStringCreateWithUTF8(const char* bytes, size_t length);
/* The string's UTF-8 bytes, NUL-terminated, borrowed for the life of the string; *length (if not
 * null) receives the byte count without the terminator. Null for a non-string. */
MD_EXPORT const char* HLXCFStringGetUTF8(CFStringRef string, size_t* length);

/* ---- Containers ---- */

/* Sets the value for a key, replacing an existing one (CFDictionaryAddValue leaves it). */
MD_EXPORT void HLXCFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
MD_EXPORT void HLXCFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key);
/* Replaces the element at an index that exists; out-of-range indexes change nothing. */
MD_EXPORT void HLXCFArraySetValueAtIndex(CFMutableArrayRef array, CFIndex index, const void* value);
/* Inserts before `index` (0 ... count). */
MD_EXPORT void HLXCFArrayInsertValueAtIndex(CFMutableArrayRef array, CFIndex index, const void* value);
/* Deep mutable copies (containers inside become mutable too; leaves are shared). Null for a
 * non-container or a structure deeper than the property-list limit. */
MD_EXPORT CFMutableDictionaryRef HLXCFDictionaryCreateMutableCopy(CFDictionaryRef dictionary);
MD_EXPORT CFMutableArrayRef HLXCFArrayCreateMutableCopy(CFArrayRef array);

/* ---- URLs ---- */

/* The path the URL was made from (borrowed) and its style and directory flag. */
MD_EXPORT CFStringRef HLXCFURLGetPath(CFURLRef url);
MD_EXPORT Boolean HLXCFURLIsDirectory(CFURLRef url);

/* ---- UIDs (keyed-archive object references inside binary property lists) ---- */

MD_EXPORT CFTypeRef HLXCFUIDCreate(uint64_t value);
MD_EXPORT Boolean HLXCFUIDGetValue(CFTypeRef uid, uint64_t* value);

/* ---- Property lists ---- */

/* Parses XML or binary property-list bytes (format detected; *format, if not null, receives 100 or
 * 200). options as for CFPropertyListCreateWithData. Null when the bytes are not a property list. */
MD_EXPORT CFPropertyListRef HLXCFPropertyListCreateFromBytes(const void* bytes, size_t length, CFOptionFlags options,
                                                             CFPropertyListFormat* format);
/* Serialises in format 100 (XML) or 200 (binary); null when the list holds something a property
 * list cannot (a non-string key, a URL, a cycle, too deep a structure) or for another format. */
MD_EXPORT CFDataRef HLXCFPropertyListCreateData(CFPropertyListRef list, CFPropertyListFormat format);

/* The description of an error that the property-list functions handed out (borrowed). */
MD_EXPORT CFStringRef HLXCFErrorGetDescription(CFErrorRef error);

#ifdef __cplusplus
}
#endif

#endif /* HLX_PLATFORM_MOBILEDEVICE_CF_INTERNAL_H */
