// Photo thumbnails (see hlx_photo_thumbnails.h).
#include "utility/module/photo/hlx_photo_thumbnails.h"

#include <rapidjson/document.h>

#include <cstdio>

#include "utility/hlx_afc.h"
#include "utility/hlx_feature_module.h"
#include "utility/hlx_image.h"
#include "utility/hlx_json.h"
#include "utility/hlx_log.h"
#include "utility/hlx_reply.h"
#include "utility/hlx_text.h"

namespace hlx {
namespace {

constexpr int32_t kRawDataRecordType = 1;
// JPEG quality of the thumbnails sent: small enough to stream a whole album, with no loss that shows
// at the 150 x 150 pixels the desktop draws them at.
constexpr int kThumbnailJpegQuality = 75;

// The path after the prefix that names where it lies, with "/" turned into "___"; "" for others.
// Only the prefix's presence is tested: device paths start with it.
std::string RelativeThumbnailName(const std::string& path) {
  size_t cut = 0;
  if (path.find("DCIM/") != std::string::npos) {
    cut = 5;
  } else if (path.find("PhotoData/Sync/") != std::string::npos) {
    cut = 15;
  } else if (path.find("PhotoData/CPLAssets/") != std::string::npos) {
    cut = 20;
  } else {
    return "";
  }
  return ReplaceAll(path.substr(cut), "/", "___");
}

void SendPicture(const FeatureRequest& request, const std::string& id, const std::string& path,
                 const std::string& bytes) {
  const std::string info = ThumbnailInfoJson(id, path);
  request.SendReplyRecord(request.Command(), static_cast<uint16_t>(PacketStatus::kInProgress), 0, 0, kRawDataRecordType,
                          &info, bytes.data(), bytes.size());
}

// The device's own thumbnail of a file modified at `modifiedSeconds`; false when it has none.
bool SendCachedThumbnail(const FeatureRequest& request, AFCConnectionRef afc, const std::string& id,
                         const std::string& relativeName, int64_t modifiedSeconds) {
  char folder[32];
  std::snprintf(folder, sizeof(folder), "/DCIM/.THMB/%02lld", static_cast<long long>(modifiedSeconds % 100));
  const std::string thumbnailPath = std::string(folder) + "/" + relativeName + "." + std::to_string(modifiedSeconds);
  std::string bytes;
  if (!AfcDownloadFile(afc, thumbnailPath, nullptr, &bytes) || bytes.empty()) return false;
  SendPicture(request, id, thumbnailPath, bytes);
  return true;
}

void SendMadeThumbnail(const FeatureRequest& request, AFCConnectionRef afc, const std::string& id,
                       const std::string& path, int64_t sizeBytes) {
  if (sizeBytes > kMaxThumbnailSourceBytes) {
    HLX_LOG(WARNING) << "thumbnail source of " << sizeBytes << " bytes skipped: " << path;
    return;
  }
  std::string file;
  if (!AfcReadFileStart(afc, path, kThumbnailHeaderBytes, &file) || file.empty()) return;
  int width = 0;
  int height = 0;
  const bool sized = ReadImageSize(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &width, &height);
  if (sized && !ImageSizeFitsDecoding(width, height)) {
    HLX_LOG(WARNING) << "thumbnail source of " << width << " x " << height << " pixels skipped: " << path;
    return;
  }
  // A header beyond the first bytes (or none) counts as large: its size is known only from the whole file.
  const bool large = !sized || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kLargeDecodePixels ||
                     sizeBytes > kLargeDecodeSourceBytes;
  std::unique_ptr<HLXImage> thumbnail;
  {
    const LargeDecodeSlot slot(large);           // given back before the reply waits on the peer
    if (file.size() == kThumbnailHeaderBytes) {  // else the first bytes were the whole file
      file.clear();
      if (!AfcDownloadFile(afc, path, nullptr, &file) || file.empty()) return;
    }
    thumbnail = MakeThumbnailFromMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    file = std::string();  // the picture's bytes are not needed beside its thumbnail
  }
  if (!thumbnail) return;
  const std::vector<uint8_t> jpeg = EncodeJpeg(*thumbnail, kThumbnailJpegQuality);
  if (jpeg.empty()) return;
  SendPicture(request, id, path, std::string(jpeg.begin(), jpeg.end()));
}

void SendVideoPreview(const FeatureRequest& request, AFCConnectionRef afc, const std::string& id,
                      const std::string& path) {
  std::string previewPath = "/PhotoData/Metadata";
  if (path.empty() || path[0] != '/') previewPath += '/';
  previewPath += path.substr(0, path.size() - 3) + "JPG";  // the path has an extension: 3 characters or more
  std::string bytes;
  if (AfcDownloadFile(afc, previewPath, nullptr, &bytes) && !bytes.empty())
    SendPicture(request, id, previewPath, bytes);
}

}  // namespace

std::string ThumbnailInfoJson(const std::string& id, const std::string& path) {
  JsonTextWriter json;
  json->StartObject();
  json.Key("id");
  const bool digits = !id.empty() && id.size() <= 19 && id.find_first_not_of("0123456789") == std::string::npos &&
                      (id.size() == 1 || id[0] != '0');
  if (digits) {
    json->Uint64(std::stoull(id));  // 19 digits always fit 64 bits unsigned
  } else {
    json.String(id);
  }
  json.Key("path");
  json.String(path);
  json->EndObject();
  return json.Text();
}

int SendPhotoThumbnails(const FeatureRequest& request, AFCConnectionRef afc, const rapidjson::Value& files) {
  for (auto member = files.MemberBegin(); member != files.MemberEnd(); ++member) {
    if (!member->value.IsString()) continue;
    const std::string id = StringOf(member->name);
    const std::string path = StringOf(member->value);
    const size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot);

    AfcFileInfo info;
    if (AfcGetFileInfo(afc, path, &info)) {
      const bool cached = SendCachedThumbnail(request, afc, id, RelativeThumbnailName(path), info.modifiedTimeSeconds);
      const std::string upper = ToUpperAscii(extension);
      if (!cached && (upper == ".PNG" || upper == ".JPG" || upper == ".JPEG")) {
        SendMadeThumbnail(request, afc, id, path, info.sizeBytes);
      }
    }
    if (extension == ".MOV" || extension == ".MP4" || extension == ".M4V") SendVideoPreview(request, afc, id, path);
  }
  return 0;
}

}  // namespace hlx
