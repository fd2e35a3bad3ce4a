// Request 403 of the photo module: a small picture for each photo file the peer names. For each
// member {id: device path relative to the media root} of the request's data object, in order:
//   1. the device's cached thumbnail /DCIM/.THMB/<mtime % 100, two digits>/<relative name>.<mtime>
//      (mtime in seconds; the relative name is the path after its "DCIM/", "PhotoData/Sync/" or
//      "PhotoData/CPLAssets/" prefix with every "/" turned into "___"), sent under its own path;
//   2. failing that, for ".PNG", ".JPG" and ".JPEG" files (any case), a 150 x 150 JPEG made here,
//      sent under the photo's path. The picture's width and height are read from its first bytes
//      before the whole file is: a picture above kMaxImagePixels (hlx_image.h) or a file above
//      kMaxThumbnailSourceBytes is skipped as an undecodable one is (no reply for it; the walk goes
//      on), with a log line naming its size. At most kLargeDecodeSlots (hlx_image.h) large pictures are
//      read and decoded at once, over all requests; the others wait for a slot;
//   3. for ".MOV", ".MP4" and ".M4V" files (upper case only, as the device names its videos), the
//      stored preview frame /PhotoData/Metadata/<path with "JPG" for its last three characters>.
// Each picture goes as one progress reply of type 1 (data not compressed) with info
// {"id":ID,"path":PATH}. A file whose AFC information cannot be read gets neither 1 nor 2.
//
// Threads: any worker; no module state (the module mutex is not taken).
#pragma once

#include <rapidjson/fwd.h>

#include <cstdint>
#include <string>

#include "mobiledevice.h"

namespace hlx {

class FeatureRequest;

// 0 after the walk (members whose value is not a string are skipped).
int SendPhotoThumbnails(const FeatureRequest& request, AFCConnectionRef afc, const rapidjson::Value& files);

// The reply info {"id":ID,"path":PATH}: ID as a JSON number when it is a decimal number without
// leading zeros that fits 64 bits (the ids the desktop sends), else as a string; PATH a string.
std::string ThumbnailInfoJson(const std::string& id, const std::string& path);

// Photo files larger than this are not read for a thumbnail: camera pictures are a few tens of
// megabytes, and the whole file is held in memory while it is decoded.
constexpr int64_t kMaxThumbnailSourceBytes = 256LL * 1024 * 1024;

// A picture is large for decoding above either bound (its RGBA pixels above 32 MB, or its file).
constexpr uint64_t kLargeDecodePixels = 8'000'000;
constexpr int64_t kLargeDecodeSourceBytes = 32LL * 1024 * 1024;
// The first bytes read for the header: PNG and BMP need a few dozen, a JPEG's frame header follows
// its metadata segments (the camera's data and its embedded preview, usually well below this).
constexpr size_t kThumbnailHeaderBytes = 256 * 1024;

}  // namespace hlx
