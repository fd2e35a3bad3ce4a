// Property-list messages of the simulated device services that speak them (diagnostics, ATC): an
// image's script files read with a bound, messages written as binary property lists whose
// dictionary keys stand in sorted order, received bodies parsed, and the two length framings on a
// device stream: a 4-byte big-endian length (device-link services) or a little-endian one (ATC),
// then the body. What a message means is each service's own business.
// Threads: the connection's device thread (framing); any (the rest). No state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "md/md_cf_util.h"
#include "md/md_service.h"

// Script files of the services are small; a bigger one is a broken image.
constexpr size_t kMDMaxServiceScriptBytes = 64u << 20;

// The property list in <image folder>/<name> (XML or binary), owned by the caller; null when the file
// is missing, too big or not a property list.
MDCFPtr MDLoadImagePlist(const std::string& imageFolder, const char* name);

// The binary serialisation of a list, every dictionary (at any depth) written with its keys in byte
// order. A device writes its messages that way, and a host may rely on it: the ATC reader takes a
// message's command from the first key of the top-level dictionary. False when the list holds
// something a property list cannot, or nests deeper than a message does.
[[nodiscard]] bool MDSerializeSortedBinary(CFTypeRef list, std::string* out);

// The parsed body of a received message (XML or binary), or null.
MDCFPtr MDParseMessage(const std::string& body);

// The value of a key in a dictionary (borrowed), or null when `dictionary` is not a dictionary or
// lacks the key.
CFTypeRef MDDictionaryValue(CFTypeRef dictionary, const char* key);
// The UTF-8 text of a string value of a dictionary; false when missing or not a string.
bool MDDictionaryText(CFTypeRef dictionary, const char* key, std::string* text);
// Sets a key of a mutable dictionary (the dictionary retains the value); false when the key is not
// UTF-8 or the value is null.
bool MDDictionarySet(CFTypeRef dictionary, const char* key, CFTypeRef value);

enum class MDFrameOrder { kBigEndian, kLittleEndian };

// Reads one frame. False at end of stream, on stop, or when the length is above maxBytes (a broken
// host: nothing is allocated for it). A zero length gives an empty body and true.
[[nodiscard]] bool MDReadFrame(MDDeviceStream* stream, MDFrameOrder order, size_t maxBytes, std::string* body);
// Writes the length word, then the body; false when the host went away or the stream stopped.
[[nodiscard]] bool MDWriteFrame(MDDeviceStream* stream, MDFrameOrder order, const std::string& body);
// Writes a length word alone (scripts announce lengths they then break).
[[nodiscard]] bool MDWriteLengthWord(MDDeviceStream* stream, MDFrameOrder order, uint32_t length);
